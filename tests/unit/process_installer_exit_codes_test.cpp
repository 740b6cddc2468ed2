// The table of Windows Installer exit codes, against what each code is
// written here to mean: the tests of the mapping, the stage and whole runs
// take their codes from the table, so its content is checked here.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "process/installer_exit_codes.h"
#include "support/case_name.h"
#include "text/format.h"

namespace velmarch::process {
namespace {

using testing::PrintTo;  // cases print by name
using update::ResultStatus;

struct ExpectedMeaning {
    const char* name;
    std::int32_t code;
    bool listed;
    ResultStatus status;
    bool verify_version;
    bool restart;
    bool updater_exits_with_code;
    std::vector<std::uint32_t> retry_pauses;  // empty: never started again
};

class InstallerExitCodeTable : public ::testing::TestWithParam<ExpectedMeaning> {};

TEST_P(InstallerExitCodeTable, GivesTheCodeItsMeaning) {
    const ExpectedMeaning& c = GetParam();
    const InstallerExitCodeMeaning& meaning = installer_exit_code_meaning(c.code);
    EXPECT_EQ(&meaning == &kUnlistedInstallerExitCode, !c.listed);
    EXPECT_EQ(meaning.status, c.status);
    EXPECT_EQ(meaning.verify_version, c.verify_version);
    EXPECT_EQ(meaning.restart, c.restart);
    EXPECT_EQ(meaning.updater_exits_with_code, c.updater_exits_with_code);
    std::vector<std::uint32_t> pauses;
    if (meaning.retry != nullptr)
        pauses.assign(meaning.retry->pause_seconds.begin(), meaning.retry->pause_seconds.end());
    EXPECT_EQ(pauses, c.retry_pauses);
}

const ExpectedMeaning kExpectedMeanings[] = {
    {"Success", 0, true, ResultStatus::success, true, true, false, {}},
    {"Busy1618", 1618, true, ResultStatus::error, false, true, true, {5, 10, 20}},
    {"VersionConflict", 1638, true, ResultStatus::version_conflict, false, true, true, {}},
    {"RestartInitiated", 1641, true, ResultStatus::restart_initiated, false, false, false, {}},
    {"RestartRequired", 3010, true, ResultStatus::restart_required, false, false, false, {}},
    {"UserCancelled1602", 1602, false, ResultStatus::error, false, true, true, {}},
    {"Failed1603", 1603, false, ResultStatus::error, false, true, true, {}},
    {"One", 1, false, ResultStatus::error, false, true, true, {}},
    {"MinusOne", -1, false, ResultStatus::error, false, true, true, {}},
    {"Crash", static_cast<std::int32_t>(0xC0000005u), false, ResultStatus::error, false, true, true, {}},
};

INSTANTIATE_TEST_SUITE_P(Codes, InstallerExitCodeTable, ::testing::ValuesIn(kExpectedMeanings), testing::CaseName());

TEST(InstallerExitCodeTableRows, ListEachCodeOnceAndNoneBeyondTheExpectedOnes) {
    std::set<std::int32_t> codes;
    for (const InstallerExitCode& row : kInstallerExitCodes) EXPECT_TRUE(codes.insert(row.code).second) << row.code;
    EXPECT_EQ(codes, (std::set<std::int32_t>{0, 1618, 1638, 1641, 3010}));
}

TEST(InstallerExitCodeTableRows, TheBusyRetryLogsItsPause) {
    const InstallerRetry* retry = installer_exit_code_meaning(1618).retry;
    ASSERT_NE(retry, nullptr);
    EXPECT_EQ(text::format(retry->log_line, std::uint32_t{10}),
              "Windows Installer is busy with another installation; trying again in 10 seconds.");
}

}  // namespace
}  // namespace velmarch::process

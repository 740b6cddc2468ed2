// The end of a finished run: its last log line, the result file and the
// restart, in that order, whichever way the run came to its end.

#include <gtest/gtest.h>

#include <tuple>

#include "run/finish_run.h"
#include "support/case_name.h"
#include "support/process_world.h"
#include "text/format.h"

namespace velmarch::run {
namespace {

using testing::PrintTo;  // cases print by name
using testing::utf8;
using update::failure_around_installer;
using update::ResultStatus;
using update::RunEnding;
using Events = std::vector<std::string>;

struct EndingCase {
    const char* name;
    std::string log_line;
    RunEnding ending;
    bool restarts;
};

class FinishRun : public ::testing::TestWithParam<EndingCase>, public testing::ProcessWorld {};

TEST_P(FinishRun, LogsRecordsAndRestartsAsTheEndingSays) {
    const EndingCase& c = GetParam();
    fake.next_detached_id = 7000;
    const std::int32_t exit_code = finish_run(fake, reporter, c.log_line, c.ending, app, install_dir);

    Events expected;
    if (!c.log_line.empty()) expected.push_back("log: " + c.log_line);
    expected.push_back(text::format("result: {} {} {}", update::result_status_word(c.ending.status),
                                    c.ending.result_exit_code, c.ending.message));
    if (c.restarts) {
        expected.push_back("start: \"" + utf8(explorer) + "\" \"" + utf8(app) + "\"");
        expected.push_back("log: Application restart requested through " + utf8(explorer) + " with process id 7000.");
    }
    EXPECT_EQ(reporter.events, expected);
    EXPECT_EQ(exit_code, c.ending.process_exit_code);
    if (c.restarts) {
        ASSERT_EQ(fake.detached.size(), 1u);
        EXPECT_EQ(fake.detached[0].working_directory, install_dir);
    }
}

const EndingCase kEndingCases[] = {
    {"refused_package_logs_records_and_restarts", "Package verification failed: no.", failure_around_installer("no."),
     true},
    {"failure_without_a_line_of_its_own", "", failure_around_installer("Windows Installer was not found."), true},
    {"windows_restarts_instead",
     "",
     {ResultStatus::restart_required, 3010, "Windows restart is required to finish the update.", false, 0},
     false},
    {"success_restarts", "", {ResultStatus::success, 0, "", true, 0}, true},
};

INSTANTIATE_TEST_SUITE_P(Rows, FinishRun, ::testing::ValuesIn(kEndingCases), testing::CaseName());

TEST(FailureAroundInstaller, RecordsAnErrorWith1603AndRestarts) {
    const RunEnding e = failure_around_installer("The staging failed.");
    EXPECT_EQ(std::tie(e.status, e.result_exit_code, e.message, e.restart, e.process_exit_code),
              std::make_tuple(ResultStatus::error, 1603, std::string("The staging failed."), true, 1603));
}

}  // namespace
}  // namespace velmarch::run

// Installer exit codes and the install directory check.

#include <gtest/gtest.h>

#include "process/installer_outcome.h"
#include "support/case_name.h"

namespace velmarch::process {

using update::ResultStatus;
namespace {

using testing::PrintTo;  // cases print by name

struct OutcomeCase {
    const char* name;
    std::int32_t exit_code;
    ResultStatus status;
    std::int32_t result_exit_code;
    std::string message;
    bool verify_version;
    bool restart;
    std::int32_t process_exit_code;
};

class MapInstallerExitCode : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(MapInstallerExitCode, GivesTheRow) {
    const OutcomeCase& c = GetParam();
    const InstallerOutcome outcome = map_installer_exit_code(c.exit_code, "2.4.0");
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.result_exit_code, c.result_exit_code);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.verify_version, c.verify_version);
    EXPECT_EQ(outcome.restart, c.restart);
    EXPECT_EQ(outcome.process_exit_code, c.process_exit_code);
}

const OutcomeCase kOutcomeCases[] = {
    {"success", 0, ResultStatus::success, 0, "", true, true, 0},
    {"version_conflict", 1638, ResultStatus::version_conflict, 1638,
     "Windows Installer reported that version 2.4.0 conflicts with the product already registered on this computer.",
     false, true, 1638},
    {"restart_required", 3010, ResultStatus::restart_required, 3010,
     "Windows restart is required to finish the update.", false, false, 0},
    {"restart_initiated", 1641, ResultStatus::restart_initiated, 1641,
     "Windows has started a restart to finish the update.", false, false, 0},
    {"user_cancel", 1602, ResultStatus::error, 1602, "Windows Installer exited with code 1602.", false, true, 1602},
    {"install_failure", 1603, ResultStatus::error, 1603, "Windows Installer exited with code 1603.", false, true, 1603},
    {"crash_is_signed", static_cast<std::int32_t>(0xC0000005u), ResultStatus::error, -1073741819,
     "Windows Installer exited with code -1073741819.", false, true, -1073741819},
    {"minus_one", -1, ResultStatus::error, -1, "Windows Installer exited with code -1.", false, true, -1},
    {"one", 1, ResultStatus::error, 1, "Windows Installer exited with code 1.", false, true, 1},
};

INSTANTIATE_TEST_SUITE_P(Rows, MapInstallerExitCode, ::testing::ValuesIn(kOutcomeCases),
                         testing::CaseName());

TEST(MapInstallerExitCodeVersion, ConflictNamesTheGivenVersionUnchanged) {
    EXPECT_EQ(map_installer_exit_code(1638, "10.0.1-rc 2").message,
              "Windows Installer reported that version 10.0.1-rc 2 conflicts with the product already registered "
              "on this computer.");
}

TEST(OutcomeAfterFailedVersionCheck, RecordsTheCheckMessageAnd1603WithRestart) {
    const InstallerOutcome outcome = outcome_after_failed_version_check("The check said no.");
    EXPECT_EQ(outcome.status, ResultStatus::install_verification_failed);
    EXPECT_EQ(outcome.result_exit_code, 1603);
    EXPECT_EQ(outcome.message, "The check said no.");
    EXPECT_FALSE(outcome.verify_version);
    EXPECT_TRUE(outcome.restart);
    EXPECT_EQ(outcome.process_exit_code, 1603);
}

TEST(CheckInstallDir, PassesEverythingButQuoteCrLf) {
    for (const std::string dir : {"C:\\Program Files\\App", "C:\\App\\", "C:\\A\tB", "C:\\Programme\\Übung\\中文",
                                  "\\\\server\\share\\App", "C:\\a'b;c&d%e%"}) {
        auto checked = check_install_dir(dir);
        ASSERT_TRUE(checked.has_value()) << dir;
        EXPECT_EQ(*checked, dir);
    }
}

TEST(CheckInstallDir, RefusesQuoteCrOrLfAnywhere) {
    for (const std::string dir : {"\"C:\\App", "C:\\A\"pp", "C:\\App\"", "C:\\App\r", "\rC:\\App", "C:\\A\npp",
                                  "C:\\App\n"}) {
        auto checked = check_install_dir(dir);
        ASSERT_FALSE(checked.has_value()) << dir;
        EXPECT_EQ(checked.error(), "The current install directory cannot be passed to Windows Installer.");
    }
}

}  // namespace
}  // namespace velmarch::process

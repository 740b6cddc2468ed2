// Installer exit codes and what they mean for the run.

#include <gtest/gtest.h>

#include <vector>

#include "process/installer_outcome.h"
#include "support/case_name.h"
#include "support/installer_exit_codes.h"

namespace velmarch::process {

using update::ResultStatus;
namespace {

using testing::PrintTo;  // cases print by name

using testing::InstallerExitCodeRow;

class MapInstallerExitCode : public ::testing::TestWithParam<InstallerExitCodeRow> {};

TEST_P(MapInstallerExitCode, DecidesResultVersionCheckRestartAndExitCodeAsItsRowSays) {
    const InstallerExitCodeRow& c = GetParam();
    const InstallerOutcome outcome = map_installer_exit_code(c.installer_exit_code, "2.4.0");
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.result_exit_code, c.result_exit_code);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.verify_version, c.version_checked);
    EXPECT_EQ(outcome.restart, c.restart);
    EXPECT_EQ(outcome.process_exit_code, c.process_exit_code);
}

// The rows the installer's code decides alone; what a failed version check
// changes is OutcomeAfterFailedVersionCheck's.
std::vector<InstallerExitCodeRow> rows_without_a_failed_version_check() {
    std::vector<InstallerExitCodeRow> rows;
    for (const InstallerExitCodeRow& row : testing::installer_exit_code_rows())
        if (row.application_exit_code == 0) rows.push_back(row);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, MapInstallerExitCode, ::testing::ValuesIn(rows_without_a_failed_version_check()),
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

}  // namespace
}  // namespace velmarch::process

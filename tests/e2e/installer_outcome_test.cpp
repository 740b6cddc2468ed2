// How the run ends once the package is staged: installer exit codes, a
// missing installer, an install directory that cannot be passed on, an
// installer that cannot be started, an install directory that does not exist.
//
// Linux keeps 8 bits of an exit code, so the stand-in installer cannot report
// 1638, 1641 or 3010 and the updater's own exit code is seen modulo 256 (1603
// as 67); the result file holds the full value.

#include <signal.h>

#include "e2e/stand_in_machine.h"
#include "support/installer_exit_codes.h"

namespace velmarch::e2e {
namespace {

using e2e::PrintTo;  // found by argument-dependent lookup for the cases below

struct ExitCodeCase {
    std::string name;
    int installer_exit;  // a negative value: killed by that signal
    int logged_code;     // what the updater makes of it
    int application_exit;
    std::string_view status;
    std::int32_t result_exit_code;
    std::string message;
    bool version_checked;
};

class InstallerExitCode : public StandInParamTest<ExitCodeCase> {};

TEST_P(InstallerExitCode, DecidesTheResultTheLogAndTheRestart) {
    const ExitCodeCase& c = GetParam();
    if (c.installer_exit < 0)
        machine.kill_installer_with_signal(-c.installer_exit);
    else
        machine.set_installer_exit_code(c.installer_exit);
    machine.set_application_exit_code(c.application_exit);

    const UpdaterRun run = machine.run();
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell) << "the application was not restarted";

    EXPECT_EQ(run.exit_status, c.result_exit_code & 0xFF);
    EXPECT_EQ(run.standard_error, "");
    std::vector<std::string> log{kStarted, kStaged, kAlreadyExited, kStarting,
                                 "Windows Installer exited with code " + std::to_string(c.logged_code) + "."};
    if (c.status == "installVerificationFailed") log.push_back(c.message);
    log.push_back(restart_line(machine.shell_path(), shell->process_id));
    EXPECT_EQ(machine.helper_log_messages(run), log);
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)),
              expected_result(c.status, c.result_exit_code, c.message));
    EXPECT_EQ(machine.invocations("application").size(), c.version_checked ? 1u : 0u);
    EXPECT_TRUE(holds(fs_path(machine.request.msi_path), machine.package_content()));
}

// The rows of the shared table that an exit status of 8 bits can carry,
// then what only the stand-in shows.
std::vector<ExitCodeCase> exit_code_cases() {
    std::vector<ExitCodeCase> cases;
    for (const testing::InstallerExitCodeRow& row : testing::installer_exit_code_rows()) {
        if (row.installer_exit_code < 0 || row.installer_exit_code > 255) continue;
        cases.push_back(ExitCodeCase{row.name, row.installer_exit_code, row.installer_exit_code,
                                     row.application_exit_code, result_status_word(row.status), row.result_exit_code,
                                     row.message, row.version_checked});
    }
    cases.insert(cases.end(), {
                                  // The low byte of 1638 is an ordinary failure code, not a version conflict.
                                  ExitCodeCase{"LowByteOf1638", 1638 & 0xFF, 102, 0, "error", 102,
                                               "Windows Installer exited with code 102.", false},
                                  ExitCodeCase{"TwoHundredFiftyFive", 255, 255, 0, "error", 255,
                                               "Windows Installer exited with code 255.", false},
                                  // The stand-in reports a killed child as 128 plus the signal number.
                                  ExitCodeCase{"KilledBySignal", -SIGKILL, 137, 0, "error", 137,
                                               "Windows Installer exited with code 137.", false},
                              });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, InstallerExitCode, ::testing::ValuesIn(exit_code_cases()), CaseName());

// --- Windows Installer is not where SystemRoot says ----------------------------

class InstallerNotFound : public StandInParamTest<bool> {};

TEST_P(InstallerNotFound, IsRecordedAndTheApplicationRestarted) {
    fs::remove(machine.installer_path());
    if (GetParam()) fs::create_directory(machine.installer_path());

    const UpdaterRun run = machine.run();
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell);

    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(machine.helper_log_messages(run),
              (std::vector<std::string>{kStarted, kStaged, kAlreadyExited, kInstallerNotFound,
                                        restart_line(machine.shell_path(), shell->process_id)}));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("error", 1603, kInstallerNotFound));
    EXPECT_TRUE(holds(fs_path(machine.request.msi_path), machine.package_content()));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, InstallerNotFound, ::testing::Bool(),
                         (testing::NamesInOrder{"Missing", "ADirectoryInItsPlace"}));

// --- aborts inside the installer stage ---------------------------------------

// An abort after the old result file was removed: the message goes to
// standard error only, nothing is recorded or restarted, the download stays.
void expect_installer_stage_abort(const StandInMachine& machine, const UpdaterRun& run, const std::string& message) {
    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(run.standard_error, message + "\n");
    EXPECT_EQ(machine.helper_log_messages(run),
              (std::vector<std::string>{kStarted, kStaged, kAlreadyExited, kStarting}));
    EXPECT_FALSE(fs::exists(fs_path(machine.request.result_path))) << "the earlier result file was kept";
    EXPECT_TRUE(machine.invocations("explorer").empty()) << "the application was restarted";
    EXPECT_TRUE(holds(fs_path(machine.request.msi_path), machine.package_content()));
}

class RejectedInstallDirectory : public StandInParamTest<const char*> {};

TEST_P(RejectedInstallDirectory, AbortsBeforeTheInstallerStarts) {
    machine.request.install_dir = to_path(machine.root() / (std::string("Velmarch") + GetParam() + "App"));
    write_text(fs_path(machine.request.result_path), "earlier result");

    const UpdaterRun run = machine.run();

    expect_installer_stage_abort(machine, run, "The current install directory cannot be passed to Windows Installer.");
    EXPECT_TRUE(machine.invocations("msiexec").empty());
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, RejectedInstallDirectory, ::testing::Values("\"", "\n", "\r"),
                         (testing::NamesInOrder{"DoubleQuote", "LineFeed", "CarriageReturn"}));

// msiexec reads a double quote as the end of a quoted path, so what follows
// it would be options of its own: a second package, another INSTALLDIR. The
// caller's log path never reaches msiexec (/L*v names the staged log), so the
// update goes on as asked and nothing of the path is read as an option.
class SplittableInstallerLogPath : public StandInParamTest<const char*> {};

TEST_P(SplittableInstallerLogPath, NeverReachesTheInstaller) {
    const fs::path other = machine.root() / "other.msi";
    machine.request.msi_log_path =
        to_path(machine.root() / (std::string("msi") + GetParam() + " /i " + other.string() + " Z="));

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
    const std::vector<Invocation> installers = machine.invocations("msiexec");
    ASSERT_EQ(installers.size(), 1u);
    for (const std::string& argument : installers.front().arguments)
        EXPECT_EQ(argument.find(other.string()), std::string::npos) << argument;
    EXPECT_EQ(installers.front().arguments.back(), "INSTALLDIR=" + machine.request.install_dir.native());
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, SplittableInstallerLogPath, ::testing::Values("\"", "\n", "\r"),
                         (testing::NamesInOrder{"DoubleQuote", "LineFeed", "CarriageReturn"}));

class InstallerStage : public StandInTest {};

TEST_F(InstallerStage, AnInstallerThatCannotBeStartedAborts) {
    fs::permissions(machine.installer_path(), fs::perms(0644));
    write_text(fs_path(machine.request.result_path), "earlier result");

    const UpdaterRun run = machine.run();

    expect_installer_stage_abort(machine, run,
                                 "Windows Installer could not be started: Permission denied (os error 13)");
    EXPECT_TRUE(machine.invocations("msiexec").empty());
}

TEST_F(InstallerStage, AMissingInstallDirectoryFailsTheVersionCheckAndTheRestart) {
    machine.request.install_dir = to_path(machine.root() / "Nowhere");  // the application stays where it is

    const UpdaterRun run = machine.run();

    const std::string not_verified =
        "The installed application version could not be verified: No such file or directory (os error 2)";
    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(machine.helper_log_messages(run),
              (std::vector<std::string>{kStarted, kStaged, kAlreadyExited, kStarting, kInstallerExited0, not_verified,
                                        "Application restart failed: No such file or directory (os error 2)"}));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)),
              expected_result("installVerificationFailed", 1603, not_verified));
    EXPECT_TRUE(machine.invocations("application").empty());
    EXPECT_TRUE(machine.invocations("explorer").empty());
    ASSERT_EQ(machine.invocations("msiexec").size(), 1u);
    EXPECT_EQ(machine.invocations("msiexec").front().arguments.back(),
              "INSTALLDIR=" + machine.request.install_dir.native());
}

}  // namespace
}  // namespace velmarch::e2e

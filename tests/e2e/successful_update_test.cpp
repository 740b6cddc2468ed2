// Whole updates that reach the installer and succeed.

#include <regex>

#include "e2e/stand_in_machine.h"

namespace velmarch::e2e {
namespace {

using e2e::PrintTo;  // found by argument-dependent lookup for the cases below

// The helper log of a run that installs, confirms and restarts through `shell`.
std::vector<std::string> successful_run_log(const fs::path& shell, std::uint32_t shell_process_id) {
    return {kStarted, kStaged, kAlreadyExited, kStarting, kInstallerExited0, restart_line(shell, shell_process_id)};
}

struct SuccessCase {
    const char* name;
    const char* decoration;  // added to every directory name of the layout
    bool repair;
    const char* version;
};

class SuccessfulUpdate : public StandInParamTest<SuccessCase> {
protected:
    SuccessfulUpdate() : StandInParamTest(GetParam().decoration) {}
};

TEST_P(SuccessfulUpdate, InstallsTheStagedCopyConfirmsRecordsAndRestarts) {
    const SuccessCase& c = GetParam();
    machine.request.repair_mode = c.repair;
    machine.write_package(machine.package_content(), c.version);
    const run::UpdateRequest& request = machine.request;

    const UpdaterRun run = machine.run();
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell) << "the application was not restarted";

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(run.standard_output, "");
    EXPECT_EQ(machine.helper_log_messages(run), successful_run_log(machine.shell_path(), shell->process_id));
    EXPECT_EQ(read_text(request.result_path), expected_result("success", 0, "", c.version));

    // The installer ran once, on the staged copy, with the exact arguments a
    // Windows program would split from the composed command line.
    const std::vector<Invocation> installers = machine.invocations("msiexec");
    ASSERT_EQ(installers.size(), 1u);
    const Invocation& installer = installers.front();
    ASSERT_GE(installer.arguments.size(), 2u);
    const fs::path staged = installer.arguments[1];
    // Its log goes into the staging directory, next to the package.
    const fs::path staged_log = staged.parent_path() / "velmarch-installer.log";
    std::vector<std::string> expected_arguments{
        "/i", staged.string(), "/passive", "/norestart", "VELMARCH_INSTALLDIR_LOCK=1", "/L*v", staged_log.string()};
    if (c.repair) {
        expected_arguments.push_back("REINSTALL=ALL");
        expected_arguments.push_back("REINSTALLMODE=amus");
    }
    expected_arguments.push_back("INSTALLDIR=" + request.install_dir.native());
    EXPECT_EQ(installer.arguments, expected_arguments);
    EXPECT_EQ(installer.working_directory, fs::canonical(fs::current_path()).string());

    // The staged copy lay in a fresh owner-only directory while the installer ran.
    EXPECT_EQ(staged.filename(), "velmarch-update.msi");
    EXPECT_EQ(staged.parent_path().parent_path(), machine.temp_directory());
    const std::regex staging_name("VelmarchUpdate-" + std::to_string(run.process_id) + "-[0-9a-f]{32}");
    EXPECT_TRUE(std::regex_match(staged.parent_path().filename().string(), staging_name)) << staged;
    EXPECT_EQ(installer.facts.at("staging-mode"), "700");
    EXPECT_EQ(installer.facts.at("staged-mode"), "600");
    EXPECT_FALSE(fs::exists(staged.parent_path())) << "the staging directory outlived the run";
    // The caller's installer log holds exactly what the installer wrote.
    EXPECT_TRUE(holds(request.msi_log_path, kStandInInstallerLog));

    // The version check ran in the install directory.
    const std::vector<Invocation> checks = machine.invocations("application");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks.front().arguments, (std::vector<std::string>{"--verify-installed-version", c.version}));
    EXPECT_EQ(checks.front().working_directory, request.install_dir.native());

    // The shell got the application path, in the install directory.
    EXPECT_EQ(shell->arguments, std::vector<std::string>{request.app_path.native()});
    EXPECT_EQ(shell->working_directory, request.install_dir.native());
    EXPECT_EQ(machine.invocations("explorer").size(), 1u);

    EXPECT_TRUE(holds(request.msi_path, machine.package_content())) << "the download was not kept";
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, SuccessfulUpdate,
                         ::testing::Values(SuccessCase{"Plain", "", false, "2.4.0"},
                                           SuccessCase{"RepairMode", "", true, "2.4.0"},
                                           SuccessCase{"BlanksAndNonAsciiInEveryPath", " Ä 更新", false, "2.4.0 beta"}),
                         CaseName());

// --- the previous application process -----------------------------------------

class PreviousProcess : public StandInTest {};

TEST_F(PreviousProcess, ARunningProcessIsWaitedForBeforeTheInstallerStarts) {
    OwnedChild previous({"/bin/sleep", "1"});
    ASSERT_GT(previous.process_id(), 0);
    machine.request.parent_process_id = static_cast<std::uint32_t>(previous.process_id());
    machine.watch_process(previous.process_id());

    const UpdaterRun run = machine.run();
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell);

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(machine.helper_log_messages(run),
              (std::vector<std::string>{
                  kStarted, kStaged, "Waiting for process " + std::to_string(previous.process_id()) + " to exit.",
                  kStarting, kInstallerExited0, restart_line(machine.shell_path(), shell->process_id)}));
    const std::vector<Invocation> installers = machine.invocations("msiexec");
    ASSERT_EQ(installers.size(), 1u);
    // Not reaped yet by this test, so an ended process is a zombie.
    EXPECT_EQ(installers.front().facts.at("watched"), "Z") << "the installer started while the process still ran";
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
}

class GonePreviousProcess : public StandInParamTest<std::uint32_t> {};

TEST_P(GonePreviousProcess, IsReportedAsAlreadyExitedAndTheRunGoesOn) {
    machine.request.parent_process_id = GetParam();
    const UpdaterRun run = machine.run();
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell);

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(machine.helper_log_messages(run), successful_run_log(machine.shell_path(), shell->process_id));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, GonePreviousProcess, ::testing::Values(unused_process_id(), 0u),
                         (testing::NamesInOrder{"UnusedId", "Zero"}));

// --- where the report files go ------------------------------------------------

class ReportFiles : public StandInTest {};

TEST_F(ReportFiles, MissingDirectoriesAboveTheHelperLogAreCreated) {
    machine.request.helper_log_path =
        to_path(fs_path(machine.request.result_path).parent_path() / "new" / "deeper" / "helper.log");
    const UpdaterRun run = machine.run();
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell);

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(machine.helper_log_messages(run), successful_run_log(machine.shell_path(), shell->process_id));
}

TEST_F(ReportFiles, AResultPathInAMissingDirectoryLeavesNoResultButTheRunCompletes) {
    const fs::path missing = fs_path(machine.request.result_path).parent_path() / "missing";
    machine.request.result_path = to_path(missing / "result.json");
    const UpdaterRun run = machine.run();
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell);

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.standard_error, "");
    EXPECT_FALSE(fs::exists(missing)) << "the result file's directory was created";
    EXPECT_EQ(machine.helper_log_messages(run), successful_run_log(machine.shell_path(), shell->process_id));
}

}  // namespace
}  // namespace velmarch::e2e

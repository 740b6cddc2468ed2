// A relative --app-path names a file in the updater's own working directory,
// as process creation on Windows reads it: the file the run checks is the
// file it starts, not one of the same name in the install directory.

#include "e2e/stand_in_machine.h"

namespace velmarch::e2e {
namespace {

TEST_F(StandInTest, RelativeApplicationPathIsReadFromTheUpdatersWorkingDirectory) {
    const fs::path work = machine.root() / "Work";
    fs::create_directories(work);
    machine.write_stand_in(work / "Velmarch.exe", "application");
    // The same relative path below the install directory, the child's
    // working directory. (A bare name would be searched for, never read
    // from the working directory.)
    fs::create_directories(machine.request.install_dir / "Work");
    machine.write_stand_in(machine.request.install_dir / "Work" / "Velmarch.exe", "install-dir-copy");
    machine.working_directory = machine.root();
    machine.request.app_path = "Work/Velmarch.exe";

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_EQ(read_text(machine.request.result_path), expected_result("success", 0, ""));
    const std::vector<Invocation> checked = machine.invocations("application");
    ASSERT_EQ(checked.size(), 1u);
    EXPECT_EQ(checked.front().working_directory, machine.request.install_dir.string());
    EXPECT_TRUE(machine.invocations("install-dir-copy").empty());
    const std::optional<Invocation> restart = machine.wait_for_restart();
    ASSERT_TRUE(restart.has_value());
    EXPECT_EQ(restart->arguments, std::vector<std::string>{"Work/Velmarch.exe"});
}

}  // namespace
}  // namespace velmarch::e2e

// A relative --app-path names a file in the updater's own working directory,
// as process creation on Windows reads it: the file the run checks is the
// file it starts, not one of the same name in the install directory. The run
// makes the path absolute before it touches anything, so the restart hands
// explorer (which starts in the install directory) that same file, and "."
// and ".." are read on the text, whether the folders they pass exist or not.

#include "e2e/stand_in_machine.h"

namespace velmarch::e2e {
namespace {

struct RelativeCase {
    const char* name;
    const char* app_path;
};

void PrintTo(const RelativeCase& c, std::ostream* out) { *out << c.name; }

class RelativeApplication : public StandInTest, public ::testing::WithParamInterface<RelativeCase> {};

TEST_P(RelativeApplication, IsReadFromTheUpdatersWorkingDirectoryAndRestartedAsTheSameFile) {
    const fs::path work = machine.root() / "Work";
    fs::create_directories(work);
    machine.write_stand_in(work / "Velmarch.exe", "application");
    // The same relative path below the install directory, the child's
    // working directory. (A bare name would be searched for, never read
    // from the working directory.)
    fs::create_directories(fs_path(machine.request.install_dir) / "Work");
    machine.write_stand_in(fs_path(machine.request.install_dir) / "Work" / "Velmarch.exe", "install-dir-copy");
    machine.working_directory = machine.root();
    machine.request.app_path = to_path(GetParam().app_path);

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
    const std::vector<Invocation> checked = machine.invocations("application");
    ASSERT_EQ(checked.size(), 1u);
    EXPECT_EQ(checked.front().working_directory, machine.request.install_dir.native());
    EXPECT_TRUE(machine.invocations("install-dir-copy").empty());
    const std::optional<Invocation> restart = machine.wait_for_restart();
    ASSERT_TRUE(restart.has_value());
    // Read from explorer's own working directory, the argument still names
    // the file that was version-checked.
    ASSERT_EQ(restart->arguments.size(), 1u);
    EXPECT_EQ(restart->arguments.front(), (work / "Velmarch.exe").string());
    const fs::path as_explorer_reads_it = fs::path(restart->working_directory) / restart->arguments.front();
    std::error_code error;
    EXPECT_TRUE(fs::equivalent(as_explorer_reads_it, work / "Velmarch.exe", error)) << as_explorer_reads_it;
}

INSTANTIATE_TEST_SUITE_P(StandIn, RelativeApplication,
                         ::testing::Values(RelativeCase{"Relative", "Work/Velmarch.exe"},
                                           RelativeCase{"DotAndDotDot", "./Work/not-there/../Velmarch.exe"}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace velmarch::e2e

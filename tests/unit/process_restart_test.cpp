// Restarting the application through the shell.

#include <gtest/gtest.h>

#include "platform/rules/command_line_split.h"
#include "process/restart.h"
#include "support/process_world.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

using platform::Path;
using testing::fake_os_error;
using testing::Op;
using testing::test_path;
using testing::test_path_list;
using testing::utf8;
using Lines = std::vector<std::string>;

class Restart : public ::testing::Test, public testing::ProcessWorld {};

TEST_F(Restart, StartsExplorerInTheWindowsDirectoryWithTheApplication) {
    fake.next_detached_id = 4294967295u;
    restart_application(fake, request.app_path, request.install_dir, reporter);
    ASSERT_EQ(fake.detached.size(), 1u);
    EXPECT_EQ(fake.detached[0].application, explorer);
    EXPECT_EQ(text::utf16_to_utf8_lossy(fake.detached[0].command_line),
              "\"" + utf8(explorer) + "\" \"" + utf8(app) + "\"");
    EXPECT_EQ(fake.detached[0].working_directory, install_dir);
    EXPECT_EQ(reporter.log,
              Lines{"Application restart requested through " + utf8(explorer) + " with process id 4294967295."});
    EXPECT_TRUE(fake.runs.empty());
}

TEST_F(Restart, ApplicationPathWithSpacesIsOneArgument) {
    request.app_path = test_path("/Program Files/Velmarch Desktop/Velmarch.exe");
    fake.add_file(request.app_path, "");
    restart_application(fake, request.app_path, request.install_dir, reporter);
    ASSERT_EQ(fake.detached.size(), 1u);
    const auto argv = platform::split_command_line(fake.detached[0].command_line);
    ASSERT_EQ(argv.size(), 2u);
    EXPECT_EQ(text::utf16_to_utf8_lossy(argv[1]), utf8(request.app_path));
}

TEST_F(Restart, MissingOrDirectoryApplicationOnlyLogs) {
    for (const Path& app_path : {test_path("/Program Files/Velmarch/Other.exe"), install_dir}) {
        request.app_path = app_path;
        reporter.log.clear();
        restart_application(fake, request.app_path, request.install_dir, reporter);
        EXPECT_EQ(reporter.log, Lines{"The application executable was not found for restart."});
    }
    EXPECT_TRUE(fake.detached.empty());
}

TEST_F(Restart, WithoutAWindowsDirectoryTheBareNameIsStartedAndNamed) {
    fake.windows_dir.reset();
    const Path in_system = test_path("/Windows/System32/explorer.exe");
    fake.add_file(in_system, "");
    restart_application(fake, request.app_path, request.install_dir, reporter);
    ASSERT_EQ(fake.detached.size(), 1u);
    EXPECT_EQ(fake.detached[0].application, in_system);  // found by the search in the system directory
    EXPECT_TRUE(text::utf16_to_utf8_lossy(fake.detached[0].command_line).starts_with("\"explorer.exe\" "));
    EXPECT_EQ(reporter.log, Lines{"Application restart requested through explorer.exe with process id 7000."});
}

// An elevated run inherits the starting user's SystemRoot and PATH, and the
// updater's own folder may be theirs to write: none of them chooses the shell.
TEST_F(Restart, NeitherSystemRootNorPathNorTheOwnFolderChoosesTheShell) {
    const Path planted_root = test_path("/home/user/explorer.exe");
    const Path planted_path = test_path("/home/user/bin/explorer.exe");
    const Path planted_own = test_path("/Updater/explorer.exe");
    for (const Path& planted : {planted_root, planted_path, planted_own}) fake.add_file(planted, "");
    fake.environment["SystemRoot"] = test_path("/home/user").native();
    fake.environment["PATH"] = test_path_list("/home/user/bin");

    restart_application(fake, request.app_path, request.install_dir, reporter);
    ASSERT_EQ(fake.detached.size(), 1u);
    EXPECT_EQ(fake.detached[0].application, explorer);

    // Without the system's own shell the planted copies are not a fallback.
    ASSERT_TRUE(fake.delete_file(explorer).has_value());
    reporter.log.clear();
    restart_application(fake, request.app_path, request.install_dir, reporter);
    EXPECT_EQ(reporter.log, Lines{"Application restart failed: program not found"});
    EXPECT_EQ(fake.detached.size(), 1u);
}

TEST_F(Restart, MissingInstallDirIsLoggedAsRestartFailure) {
    request.install_dir = test_path("/Program Files/Gone");
    restart_application(fake, request.app_path, request.install_dir, reporter);
    EXPECT_EQ(reporter.log, Lines{"Application restart failed: The directory name is invalid. (os error 267)"});
}

TEST_F(Restart, ShellNotFoundAnywhereIsLoggedAsRestartFailure) {
    ASSERT_TRUE(fake.delete_file(explorer).has_value());
    restart_application(fake, request.app_path, request.install_dir, reporter);
    EXPECT_EQ(reporter.log, Lines{"Application restart failed: program not found"});
    EXPECT_TRUE(fake.detached.empty());
}

TEST(LocateExplorer, FallsBackToTheBareName) {
    testing::ProcessWorld world;
    EXPECT_EQ(utf8(locate_explorer(world.fake)), utf8(world.explorer));

    ASSERT_TRUE(world.fake.delete_file(world.explorer).has_value());
    EXPECT_EQ(utf8(locate_explorer(world.fake)), "explorer.exe");

    world.fake.add_directory(world.explorer);
    EXPECT_EQ(utf8(locate_explorer(world.fake)), "explorer.exe");

    world.fake.windows_dir.reset();
    EXPECT_EQ(utf8(locate_explorer(world.fake)), "explorer.exe");
}

}  // namespace
}  // namespace velmarch::process

// Restarting the application through the shell.

#include <gtest/gtest.h>

#include "platform/command_line_split.h"
#include "process/restart.h"
#include "support/process_world.h"
#include "text/utf.h"

namespace velmarch {
namespace {

using platform::Path;
using testing::fake_os_error;
using testing::Op;
using testing::test_path;
using testing::utf8;
using Lines = std::vector<std::string>;

class Restart : public ::testing::Test, public testing::ProcessWorld {};

TEST_F(Restart, StartsExplorerUnderSystemRootWithTheApplication) {
    fake.next_detached_id = 4294967295u;
    restart_application(fake, request, reporter);
    ASSERT_EQ(fake.detached.size(), 1u);
    EXPECT_EQ(fake.detached[0].application, explorer);
    EXPECT_EQ(text::utf16_to_utf8_lossy(fake.detached[0].command_line), "\"" + utf8(explorer) + "\" " + utf8(app));
    EXPECT_EQ(fake.detached[0].working_directory, install_dir);
    EXPECT_EQ(reporter.log, Lines{"Application restart requested through " + utf8(explorer) +
                                  " with process id 4294967295."});
    EXPECT_TRUE(fake.runs.empty());
}

TEST_F(Restart, ApplicationPathWithSpacesIsOneArgument) {
    request.app_path = test_path("/apps/Velmarch Desktop/Velmarch.exe");
    fake.add_file(request.app_path, "");
    restart_application(fake, request, reporter);
    ASSERT_EQ(fake.detached.size(), 1u);
    const auto argv = platform::split_command_line(fake.detached[0].command_line);
    ASSERT_EQ(argv.size(), 2u);
    EXPECT_EQ(text::utf16_to_utf8_lossy(argv[1]), utf8(request.app_path));
}

TEST_F(Restart, MissingOrDirectoryApplicationOnlyLogs) {
    for (const Path& app_path : {test_path("/apps/Velmarch/Other.exe"), install_dir}) {
        request.app_path = app_path;
        reporter.log.clear();
        restart_application(fake, request, reporter);
        EXPECT_EQ(reporter.log, Lines{"The application executable was not found for restart."});
    }
    EXPECT_TRUE(fake.detached.empty());
}

TEST_F(Restart, WithoutSystemRootTheBareNameIsStartedAndNamed) {
    fake.environment.erase("SystemRoot");
    restart_application(fake, request, reporter);
    ASSERT_EQ(fake.detached.size(), 1u);
    EXPECT_EQ(fake.detached[0].application, explorer);  // found by the search in the Windows directory
    EXPECT_TRUE(text::utf16_to_utf8_lossy(fake.detached[0].command_line).starts_with("\"explorer.exe\" "));
    EXPECT_EQ(reporter.log, Lines{"Application restart requested through explorer.exe with process id 7000."});
}

TEST_F(Restart, MissingInstallDirIsLoggedAsRestartFailure) {
    request.install_dir = test_path("/apps/Gone");
    restart_application(fake, request, reporter);
    EXPECT_EQ(reporter.log, Lines{"Application restart failed: The directory name is invalid. (os error 267)"});
}

TEST_F(Restart, ShellNotFoundAnywhereIsLoggedAsRestartFailure) {
    ASSERT_TRUE(fake.delete_file(explorer).has_value());
    restart_application(fake, request, reporter);
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

    world.fake.environment.erase("SystemRoot");
    EXPECT_EQ(utf8(locate_explorer(world.fake)), "explorer.exe");
}

}  // namespace
}  // namespace velmarch

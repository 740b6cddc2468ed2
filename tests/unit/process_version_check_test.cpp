// Asking the installed application to confirm its version.

#include <gtest/gtest.h>

#include "platform/rules/command_line_split.h"
#include "process/version_check.h"
#include "support/process_world.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

using platform::Path;
using testing::test_path;
using testing::utf8;

class VersionCheck : public ::testing::Test, public testing::ProcessWorld {
protected:
    VersionCheck() {
        fake.on_run = [this](const platform::LaunchRequest&) -> Result<std::int32_t> { return application_exit_code; };
    }
    std::int32_t application_exit_code = 0;
};

TEST_F(VersionCheck, ExitCodeZeroConfirms) {
    ASSERT_TRUE(
        verify_installed_version(fake, request.app_path, request.install_dir, request.expected_version).has_value());
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_EQ(fake.runs[0].application, app);
    // Not `"\"" + std::string`: GCC 12 at -O3 takes that front insert for an
    // overlapping copy (-Wrestrict, GCC bug 105329).
    std::string expected = "\"";
    expected.append(utf8(app)).append("\" --verify-installed-version 2.4.0");
    EXPECT_EQ(text::utf16_to_utf8_lossy(fake.runs[0].command_line), expected);
    EXPECT_EQ(fake.runs[0].working_directory, install_dir);
}

TEST_F(VersionCheck, AnyOtherExitCodeFailsNamingTheExpectedVersion) {
    for (std::int32_t code : {1, -1, 1603}) {
        application_exit_code = code;
        auto checked = verify_installed_version(fake, request.app_path, request.install_dir, request.expected_version);
        ASSERT_FALSE(checked.has_value()) << code;
        EXPECT_EQ(checked.error().text,
                  "The installed application did not report expected version 2.4.0 after Windows Installer "
                  "completed.");
    }
}

TEST_F(VersionCheck, MissingOrDirectoryApplicationStartsNothing) {
    for (const Path& app_path : {test_path("/Program Files/Velmarch/Other.exe"), install_dir}) {
        request.app_path = app_path;
        auto checked = verify_installed_version(fake, request.app_path, request.install_dir, request.expected_version);
        ASSERT_FALSE(checked.has_value());
        EXPECT_EQ(checked.error().text, "The installed application executable was not found after the update.");
    }
    EXPECT_TRUE(fake.runs.empty());
}

TEST_F(VersionCheck, MissingWorkingDirectoryIsALaunchError) {
    request.install_dir = test_path("/Program Files/Gone");
    auto checked = verify_installed_version(fake, request.app_path, request.install_dir, request.expected_version);
    ASSERT_FALSE(checked.has_value());
    EXPECT_EQ(checked.error().text,
              "The installed application version could not be verified: The directory name is invalid. (os error "
              "267)");
}

TEST_F(VersionCheck, VersionWithASpaceArrivesAsOneArgument) {
    request.expected_version = "2.4.0 beta \"1\"";
    ASSERT_TRUE(
        verify_installed_version(fake, request.app_path, request.install_dir, request.expected_version).has_value());
    ASSERT_EQ(fake.runs.size(), 1u);
    const auto argv = platform::split_command_line(fake.runs[0].command_line);
    ASSERT_EQ(argv.size(), 3u);
    EXPECT_EQ(text::utf16_to_utf8_lossy(argv[1]), "--verify-installed-version");
    EXPECT_EQ(text::utf16_to_utf8_lossy(argv[2]), "2.4.0 beta \"1\"");
}

}  // namespace
}  // namespace velmarch::process

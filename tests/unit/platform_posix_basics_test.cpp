#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/os_error.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

TEST(PosixOsError, CarriesTheLibraryTextAndTheNumber) {
    EXPECT_EQ(posix::os_error_text(2), "No such file or directory (os error 2)");
    EXPECT_EQ(posix::os_error_text(13), "Permission denied (os error 13)");
    EXPECT_EQ(posix::os_error_text(-5), "Unknown error -5 (os error -5)");
}

TEST(PosixArguments, AreTheArgumentsAfterTheProgramName) {
    char program[] = "velmarch-updater";
    char first[] = "--msi-path";
    char second[] = "C:\\T\u00e9mp\\p k g.msi";
    char* argv[] = {program, first, second, nullptr};
    auto arguments = make_native_platform(3, argv)->arguments();
    ASSERT_TRUE(arguments) << arguments.error().text;
    EXPECT_EQ(*arguments, (std::vector<std::string>{first, second}));
}

TEST(PosixArguments, RefuseTextThatIsNotUtf8) {
    char program[] = "velmarch-updater";
    char good[] = "--msi-path";
    char bad[] = "\xed\xa0\x80";  // an encoded lone surrogate
    char* argv[] = {program, good, bad, nullptr};
    auto arguments = make_native_platform(3, argv)->arguments();
    ASSERT_FALSE(arguments);
    EXPECT_FALSE(arguments.error().text.empty());
}

// Sets or clears SystemRoot for one test and puts the old value back.
class SystemRootGuard {
public:
    explicit SystemRootGuard(const char* value) {
        if (const char* old = ::getenv("SystemRoot")) old_ = old;
        if (value != nullptr) {
            ::setenv("SystemRoot", value, 1);
        } else {
            ::unsetenv("SystemRoot");
        }
    }
    SystemRootGuard(const SystemRootGuard&) = delete;
    SystemRootGuard& operator=(const SystemRootGuard&) = delete;
    ~SystemRootGuard() {
        if (old_) {
            ::setenv("SystemRoot", old_->c_str(), 1);
        } else {
            ::unsetenv("SystemRoot");
        }
    }

private:
    std::optional<std::string> old_;
};

TEST(PosixDirectories, SystemRootStandsForTheWindowsAndSystemDirectories) {
    auto platform = make_native_platform(0, nullptr);
    {
        SystemRootGuard root("/srv/windows");
        EXPECT_EQ(platform->environment_variable("SystemRoot"), "/srv/windows");
        EXPECT_EQ(platform->windows_directory(), Path("/srv/windows"));
        EXPECT_EQ(platform->system_directory(), Path("/srv/windows/System32"));
    }
    {
        SystemRootGuard root("/srv/windows/");
        EXPECT_EQ(platform->system_directory(), Path("/srv/windows/System32"));
    }
    {
        SystemRootGuard root(nullptr);
        EXPECT_EQ(platform->environment_variable("SystemRoot"), std::nullopt);
        EXPECT_EQ(platform->windows_directory(), std::nullopt);
        EXPECT_EQ(platform->system_directory(), std::nullopt);
    }
    {
        SystemRootGuard root("");
        EXPECT_EQ(platform->environment_variable("SystemRoot"), "");
        EXPECT_EQ(platform->system_directory(), std::nullopt);
    }
}

// The working directory as the system knows it: a link on the way to it is
// not part of its text, so "." and ".." can be read on that text.
TEST(PosixDirectories, WorkingDirectoryIsTheSystemsTextWithoutLinks) {
    const std::filesystem::path previous = std::filesystem::current_path();
    testing::ScratchFolder temp;
    std::filesystem::create_directories(temp.path() / "real" / "work");
    std::filesystem::create_directory_symlink(temp.path() / "real", temp.path() / "linked");
    std::filesystem::current_path(temp.path() / "linked" / "work");
    auto platform = make_native_platform(0, nullptr);
    const Result<Path> working = platform->working_directory_for(Path("relative/name"));
    std::filesystem::current_path(previous);
    ASSERT_TRUE(working) << working.error().text;
    EXPECT_EQ(*working, testing::to_path(std::filesystem::canonical(temp.path()) / "real" / "work"));
}

}  // namespace
}  // namespace velmarch::platform

#ifdef _WIN32

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform_win32_support.h"
#include "support/file_bytes.h"

namespace velmarch::platform {
namespace {

using testing::read_text;

class Win32Processes : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = make_native_platform(0, nullptr);
    testing::Win32TempDirectory temp;
};

TEST_F(Win32Processes, ChildSeesItsArgumentsAndRunsInTheWorkingDirectory) {
    LaunchRequest launch = testing::child_launch(testing::kChildEchoArguments,
                                                 u"seen.txt \"two words\" a\\\\\\\"b \"\" \u00e9\U0001F600");
    launch.working_directory = testing::to_path(temp.path());
    auto exit_code = platform->run_and_wait(launch);
    ASSERT_TRUE(exit_code) << exit_code.error();
    EXPECT_EQ(*exit_code, 0);
    EXPECT_EQ(read_text(temp.path() / L"seen.txt"),
              "--child-echo-arguments\nseen.txt\ntwo words\na\\\"b\n\n\u00e9\U0001F600\n");
}

TEST_F(Win32Processes, ALoneSurrogateArgumentIsRefused) {
    std::u16string rest = u"seen.txt x";
    rest.back() = u'\xD800';
    LaunchRequest launch = testing::child_launch(testing::kChildEchoArguments, rest);
    launch.working_directory = testing::to_path(temp.path());
    ASSERT_TRUE(platform->run_and_wait(launch));
    EXPECT_EQ(read_text(temp.path() / L"seen.txt"), "error: Argument 3 is not valid Unicode text.");
}

TEST_F(Win32Processes, LaunchFailuresCarryTheSystemText) {
    LaunchRequest missing{testing::to_path(temp.path() / L"missing.exe"), u"\"missing.exe\"", std::nullopt};
    auto ran = platform->run_and_wait(missing);
    ASSERT_FALSE(ran);
    EXPECT_TRUE(ran.error().ends_with(" (os error 2)")) << ran.error();
    auto started = platform->start_detached(missing);
    ASSERT_FALSE(started);
    EXPECT_TRUE(started.error().ends_with(" (os error 2)")) << started.error();

    LaunchRequest bad_directory = testing::child_launch(testing::kChildExit, u"0");
    bad_directory.working_directory = testing::to_path(temp.path() / L"missing");
    auto refused = platform->run_and_wait(bad_directory);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find(" (os error "), std::string::npos) << refused.error();
}

TEST_F(Win32Processes, AProcessThatCannotBeOpenedGivesNothingToWaitFor) {
    EXPECT_EQ(platform->open_process_for_wait(0), nullptr);
    // Process ids are multiples of four; this one names no process.
    EXPECT_EQ(platform->open_process_for_wait(0xFFFFFFF1u), nullptr);
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32

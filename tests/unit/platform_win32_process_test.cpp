#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/win32/owners.h"
#include "platform_win32_support.h"
#include "support/file_bytes.h"
#include "support/scratch_folder.h"
#include "windows/child_startup.h"

namespace velmarch::platform {
namespace {

using testing::read_text;

class Win32Processes : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = make_native_platform(0, nullptr);
    testing::ScratchFolder temp;
};

TEST_F(Win32Processes, ChildSeesItsArgumentsAndRunsInTheWorkingDirectory) {
    LaunchRequest launch =
        testing::child_launch(testing::kChildEchoArguments, u"seen.txt \"two words\" a\\\\\\\"b \"\" \u00e9\U0001F600");
    launch.working_directory = testing::to_path(temp.path());
    auto exit_code = platform->run_and_wait(launch);
    ASSERT_TRUE(exit_code) << exit_code.error().text;
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

// An inheritable handle the updater holds (one its own starter passed down,
// say) never reaches a child: only the standard handles are listed for
// inheritance.
TEST_F(Win32Processes, AChildDoesNotInheritAnInheritableHandle) {
    const std::filesystem::path held = temp.path() / L"held-by-the-parent.txt";
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const win32::UniqueHandle handle(::CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(handle);
    const std::string value = std::to_string(reinterpret_cast<std::uintptr_t>(handle.get()));
    const std::u16string rest = std::u16string(value.begin(), value.end()) + u" held-by-the-parent.txt";

    // The probe itself: a child that is handed the handle does report it.
    {
        STARTUPINFOW startup = test_helpers::startup_with_standard_handles();
        PROCESS_INFORMATION information{};
        LaunchRequest probe = testing::child_launch(testing::kChildHoldsHandle, rest);
        std::wstring line(probe.command_line.begin(), probe.command_line.end());
        ASSERT_TRUE(::CreateProcessW(probe.application.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &information));
        const win32::UniqueHandle process(information.hProcess);
        const win32::UniqueHandle thread(information.hThread);
        ::WaitForSingleObject(process.get(), INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process.get(), &code);
        EXPECT_EQ(code, 3u) << "the probe does not see an inherited handle";
    }

    auto ran = platform->run_and_wait(testing::child_launch(testing::kChildHoldsHandle, rest));
    ASSERT_TRUE(ran) << ran.error().text;
    EXPECT_EQ(*ran, 0);
    // start_detached creates its child the same way; its exit code is not
    // the platform's to read.
}

TEST_F(Win32Processes, LaunchFailuresCarryTheSystemText) {
    LaunchRequest missing{testing::to_path(temp.path() / L"missing.exe"), u"\"missing.exe\"", std::nullopt};
    auto ran = platform->run_and_wait(missing);
    ASSERT_FALSE(ran);
    EXPECT_TRUE(ran.error().text.ends_with(" (os error 2)")) << ran.error().text;
    auto started = platform->start_detached(missing);
    ASSERT_FALSE(started);
    EXPECT_TRUE(started.error().text.ends_with(" (os error 2)")) << started.error().text;

    LaunchRequest bad_directory = testing::child_launch(testing::kChildExit, u"0");
    bad_directory.working_directory = testing::to_path(temp.path() / L"missing");
    auto refused = platform->run_and_wait(bad_directory);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().text.find(" (os error "), std::string::npos) << refused.error().text;
}

TEST_F(Win32Processes, AProcessThatCannotBeOpenedGivesNothingToWaitFor) {
    EXPECT_EQ(platform->open_process_for_wait(0), nullptr);
    // Process ids are multiples of four; this one names no process.
    EXPECT_EQ(platform->open_process_for_wait(0xFFFFFFF1u), nullptr);
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32

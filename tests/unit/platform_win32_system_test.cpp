#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/win32/windows_api.h"
// After the Windows headers it builds on.
#include <sddl.h>

#include <algorithm>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/win32/os_error.h"
#include "platform/win32/owners.h"
#include "platform_win32_support.h"
#include "support/scratch_folder.h"
#include "text/utf.h"

namespace velmarch::platform {
namespace {

constexpr std::string_view kStagingSddl = "O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

class Win32System : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = make_native_platform(0, nullptr);
    testing::ScratchFolder temp;
};

// --- OS error text ----------------------------------------------------------

TEST(Win32OsErrorText, IsTheSystemMessageWithoutTrailingBlanksThenTheCode) {
    for (const std::uint32_t code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_ALREADY_EXISTS}) {
        const std::string text = win32::os_error_text(code);
        const std::string suffix = " (os error " + std::to_string(code) + ")";
        ASSERT_TRUE(text.ends_with(suffix)) << text;
        const std::string message = text.substr(0, text.size() - suffix.size());
        ASSERT_FALSE(message.empty()) << code;
        // FormatMessageW ends its texts with CR LF.
        EXPECT_FALSE(std::isspace(static_cast<unsigned char>(message.back()))) << text;
        EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << text;
    }
}

TEST(Win32OsErrorText, CodesWithoutSystemTextNameTheLookupErrorAndStaySigned) {
    // 0xC0000005 is a status code, not in the system message table; it is
    // shown as the signed number an exit code would be.
    EXPECT_EQ(win32::os_error_text(0xC0000005u),
              "OS Error -1073741819 (FormatMessageW() returned error 317) (os error -1073741819)");
    EXPECT_EQ(win32::os_error_text(0x2000BEEFu),
              "OS Error 536919791 (FormatMessageW() returned error 317) (os error 536919791)");
}

// --- environment, clock, randomness, directories ------------------------------

TEST_F(Win32System, EnvironmentVariableTellsAbsentFromEmptyAndReadsLongValues) {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMARCH_TEST_EMPTY", L""));
    ::SetEnvironmentVariableW(L"VELMARCH_TEST_ABSENT", nullptr);
    const std::wstring long_value(300, L'\x00e9');
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMARCH_TEST_LONG", long_value.c_str()));

    EXPECT_EQ(platform->environment_variable("VELMARCH_TEST_EMPTY"), NativeString());
    EXPECT_EQ(platform->environment_variable("VELMARCH_TEST_ABSENT"), std::nullopt);
    EXPECT_EQ(platform->environment_variable("VELMARCH_TEST_LONG"), long_value);

    ::SetEnvironmentVariableW(L"VELMARCH_TEST_EMPTY", nullptr);
    ::SetEnvironmentVariableW(L"VELMARCH_TEST_LONG", nullptr);
}

TEST_F(Win32System, UnixTimeAgreesWithTheCRuntimeClock) {
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));
    const std::uint64_t now = platform->unix_time_seconds();
    const auto after = static_cast<std::uint64_t>(std::time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

TEST_F(Win32System, RandomBytesFillTheWholeBuffer) {
    std::array<std::byte, 64> first{}, second{};
    platform->random_bytes(first);
    platform->random_bytes(second);
    EXPECT_NE(first, second);
    // Neither half was left untouched.
    EXPECT_TRUE(std::any_of(first.begin(), first.begin() + 32, [](std::byte b) { return b != std::byte{0}; }));
    EXPECT_TRUE(std::any_of(first.begin() + 32, first.end(), [](std::byte b) { return b != std::byte{0}; }));
}

TEST_F(Win32System, WellKnownDirectoriesAreFound) {
    const std::optional<Path> system = platform->system_directory();
    const std::optional<Path> windows = platform->windows_directory();
    ASSERT_TRUE(system && windows);
    EXPECT_TRUE(platform->exists(*system / Path(L"kernel32.dll"))) << *system;
    EXPECT_EQ(platform->file_type(*windows), FileType::directory);
    EXPECT_NE(*system, *windows);
}

TEST_F(Win32System, WorkingDirectoryIsTheCurrentOneAndADrivesOwnForDriveRelativePaths) {
    wchar_t previous[MAX_PATH + 1] = {};
    ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH + 1, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryW(temp.path().c_str()));
    const Result<Path> working = platform->working_directory_for(Path(L"relative\\name"));
    const std::wstring drive = temp.path().native().substr(0, 2);
    const Result<Path> same_drive = platform->working_directory_for(Path(drive + L"name"));
    ::SetCurrentDirectoryW(previous);
    ASSERT_TRUE(working) << working.error().text;
    EXPECT_TRUE(std::filesystem::equivalent(testing::fs_path(*working), temp.path())) << *working;
    ASSERT_TRUE(same_drive) << same_drive.error().text;
    // Wine answers the drive's directory with a trailing separator.
    std::wstring drive_directory = same_drive->native();
    while (drive_directory.size() > 3 && drive_directory.back() == L'\\') drive_directory.pop_back();
    EXPECT_TRUE(std::filesystem::equivalent(drive_directory, temp.path())) << *same_drive;
}

// --- staging directory --------------------------------------------------------

TEST_F(Win32System, StagingDirectoryIsCreatedOnceThenReportedAsExisting) {
    auto descriptor = platform->create_security_descriptor(kStagingSddl);
    ASSERT_TRUE(descriptor) << descriptor.error().text;
    const Path staging = testing::to_path(temp.path() / L"VelmarchUpdate-1-00112233445566778899aabbccddeeff");

    auto first = platform->create_directory(staging, **descriptor);
    ASSERT_TRUE(first) << first.error().text;
    EXPECT_EQ(*first, DirectoryCreation::created);
    EXPECT_EQ(platform->file_type(staging), FileType::directory);

    auto second = platform->create_directory(staging, **descriptor);
    ASSERT_TRUE(second) << second.error().text;
    EXPECT_EQ(*second, DirectoryCreation::already_exists);
}

TEST_F(Win32System, StagingDirectoryCarriesTheProtectedAccessList) {
    auto descriptor = platform->create_security_descriptor(kStagingSddl);
    ASSERT_TRUE(descriptor) << descriptor.error().text;
    const Path staging = testing::to_path(temp.path() / L"staging");
    ASSERT_TRUE(platform->create_directory(staging, **descriptor));
    // Wine 8 keeps no access list given at creation: it answers a default one.
    if (testing::running_under_wine()) GTEST_SKIP() << "Wine does not store access lists";

    DWORD needed = 0;
    ::GetFileSecurityW(staging.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    ASSERT_GT(needed, 0u);
    std::vector<std::byte> stored(needed);
    ASSERT_TRUE(::GetFileSecurityW(staging.c_str(), DACL_SECURITY_INFORMATION, stored.data(), needed, &needed));
    LPWSTR text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(stored.data(), SDDL_REVISION_1,
                                                                       DACL_SECURITY_INFORMATION, &text, nullptr));
    const win32::UniqueLocalMemory owner(text);
    EXPECT_EQ(std::wstring(text), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

TEST_F(Win32System, OtherDirectoryFailuresCarryTheSystemText) {
    auto descriptor = platform->create_security_descriptor(kStagingSddl);
    ASSERT_TRUE(descriptor) << descriptor.error().text;
    auto created = platform->create_directory(testing::to_path(temp.path() / L"missing\\staging"), **descriptor);
    ASSERT_FALSE(created);
    EXPECT_TRUE(created.error().text.ends_with(" (os error 3)")) << created.error().text;
}

TEST_F(Win32System, MalformedDescriptorStringsAreRefusedWithTheSystemText) {
    auto descriptor = platform->create_security_descriptor("O:BAD:P(A;OICI;FA;;;NOT-A-SID)");
    ASSERT_FALSE(descriptor);
    EXPECT_NE(descriptor.error().text.find(" (os error "), std::string::npos) << descriptor.error().text;
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32

// The Win32 side of elevated runs and links, as far as Wine can show it:
// RedirectionGuard asked for and missing without harm, the elevation query,
// the own link check walking real paths, and two existing-file cases of the
// report files (hidden or system helper log, read-only earlier result).
#ifdef _WIN32

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/win32/platform.h"
#include "platform/win32/redirection_guard.h"
#include "platform/win32/trusted_path.h"
#include "platform_win32_support.h"
#include "support/scratch_folder.h"

namespace velmarch::platform {
namespace {

std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

std::string read_text(const Path& path) {
    std::ifstream in(testing::fs_path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_text(const Path& path, std::string_view text) {
    std::ofstream(testing::fs_path(path), std::ios::binary) << text;
}

bool ends_with_os_error(const std::string& text, int code) {
    return text.ends_with(" (os error " + std::to_string(code) + ")");
}

class Win32Links : public ::testing::Test {
protected:
    testing::ScratchFolder temp;
    Path at(const wchar_t* name) const { return testing::to_path(temp.path() / name); }
};

TEST(Win32RedirectionGuard, IsInForceExactlyWhenTheSystemReportsIt) {
    const bool enabled = win32::enable_redirection_guard();
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    const bool readable =
        ::GetProcessMitigationPolicy(::GetCurrentProcess(), ProcessRedirectionTrustPolicy, &policy, sizeof policy) != 0;
    EXPECT_EQ(enabled, readable && policy.EnforceRedirectionTrust != 0);
    // Wine has no RedirectionGuard: the call is refused and nothing stops.
    if (testing::running_under_wine()) {
        EXPECT_FALSE(enabled);
    }
}

TEST(Win32RedirectionGuard, ElevationAgreesWithTheToken) {
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool read = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
    ::CloseHandle(token);
    EXPECT_EQ(win32::process_is_elevated(), !read || elevation.TokenIsElevated != 0);
}

TEST_F(Win32Links, OwnCheckWalksPlainPathsAndReportsTheSystemErrors) {
    std::filesystem::create_directories(testing::fs_path(at(L"a\\b")));
    write_text(at(L"a\\b\\file.txt"), "x");

    EXPECT_TRUE(win32::check_trusted_path(at(L"a\\b\\file.txt")));
    EXPECT_TRUE(win32::check_trusted_path(at(L"a\\b\\new.txt")));
    EXPECT_TRUE(win32::check_trusted_path(at(L"a\\b\\..\\b\\file.txt")));

    auto missing = win32::check_trusted_path(at(L"a\\gone\\new.txt"));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(ends_with_os_error(missing.error().text, 3)) << missing.error().text;

    auto through_file = win32::check_trusted_path(at(L"a\\b\\file.txt\\below"));
    ASSERT_FALSE(through_file);
    EXPECT_TRUE(ends_with_os_error(through_file.error().text, 267)) << through_file.error().text;
}

// An elevated run acts on local volumes only: a share, in every form the
// system accepts, and a volume GUID, device or GLOBALROOT path are refused
// by their text before anything is opened, in both checking modes; a run
// without elevation (LinkCheck::off) uses them as they are. A drive's own
// verbatim form is walked like the drive path.
TEST_F(Win32Links, OwnCheckRefusesSharesAndDevicePathsAndWalksLocalDrives) {
    write_text(at(L"file.txt"), "x");
    const std::wstring refused[] = {
        LR"(\\localhost\C$\Users\Public\helper.log)",
        LR"(//localhost/C$/Users/Public/helper.log)",
        LR"(\\?\UNC\localhost\C$\Users\Public\helper.log)",
        LR"(\??\UNC\localhost\C$\Users\Public\helper.log)",
        LR"(\\localhost\pipe\velmarch)",
        LR"(\\?\GLOBALROOT\Device\Mup\localhost\C$\helper.log)",
        LR"(\\.\Volume{0b1ac3a2-0000-0000-0000-100000000000}\Logs\helper.log)",
        LR"(\\.\GLOBALROOT\Device\HarddiskVolume3\Logs\helper.log)",
        LR"(\\.\C:\Logs\helper.log)",
        LR"(//?/C:/Logs/helper.log)",
        LR"(\\.\pipe\velmarch)",
    };
    const std::string not_local(kNotOnALocalVolume);
    for (const win32::LinkCheck mode : {win32::LinkCheck::every_link, win32::LinkCheck::symbolic_links}) {
        for (const std::wstring& path : refused) {
            auto checked = win32::check_trusted_path(Path(path), {}, mode);
            ASSERT_FALSE(checked) << path_to_utf8(Path(path));
            EXPECT_EQ(checked.error().text, not_local) << path_to_utf8(Path(path));
        }
        EXPECT_TRUE(win32::check_trusted_path(at(L"file.txt"), {}, mode));
        const Path verbatim(L"\\\\?\\" + at(L"file.txt").native());
        auto walked = win32::check_trusted_path(verbatim, {}, mode);
        EXPECT_TRUE(walked) << walked.error().text;
        // The platform's own operations refuse them alike.
        win32::Win32Platform platform(mode);
        EXPECT_EQ(platform.write_file(Path(refused[0]), bytes_of("x")).error().text, not_local);
        EXPECT_EQ(platform.file_type(Path(refused[0])), FileType::missing);
    }
    for (const std::wstring& path : refused)
        EXPECT_TRUE(win32::check_trusted_path(Path(path), {}, win32::LinkCheck::off));
}

// The DOS wildcards are search patterns like "*" and "?": refused alike.
TEST_F(Win32Links, OwnCheckRefusesEverySearchPattern) {
    for (const wchar_t* name : {L"a*b", L"a?b", L"a<b", L"a>b", L"a\"b"}) {
        auto checked = win32::check_trusted_path(at(name));
        ASSERT_FALSE(checked) << path_to_utf8(at(name));
        EXPECT_TRUE(ends_with_os_error(checked.error().text, 123)) << checked.error().text;
    }
}

TEST_F(Win32Links, CheckedPlatformCreatesWritesAndDeletesAlongPlainPaths) {
    for (const win32::LinkCheck mode : {win32::LinkCheck::every_link, win32::LinkCheck::symbolic_links}) {
        SCOPED_TRACE(static_cast<int>(mode));
        std::filesystem::remove_all(testing::fs_path(at(L"logs")));
        win32::Win32Platform platform(mode);
        ASSERT_TRUE(platform.create_directories(at(L"logs\\deeper")));
        EXPECT_EQ(platform.file_type(at(L"logs\\deeper")), FileType::directory);
        ASSERT_TRUE(platform.write_file(at(L"logs\\deeper\\helper.log"), bytes_of("one\n")));
        ASSERT_TRUE(platform.append_to_file(at(L"logs\\deeper\\helper.log"), bytes_of("two\n")));
        EXPECT_EQ(read_text(at(L"logs\\deeper\\helper.log")), "one\ntwo\n");
        EXPECT_TRUE(platform.exists(at(L"logs\\deeper\\helper.log")));
        ASSERT_TRUE(platform.delete_file(at(L"logs\\deeper\\helper.log")));
        EXPECT_FALSE(platform.exists(at(L"logs\\deeper\\helper.log")));
        auto result = platform.run_and_wait(testing::child_launch(testing::kChildExit, u"7"));
        ASSERT_TRUE(result) << result.error().text;
        EXPECT_EQ(*result, 7);
    }
}

// A symbolic link this test makes is owned by the user running it, in a
// folder that user controls. Unless the system's accounts alone could have
// made it, the own check refuses it with the text RedirectionGuard gives.
TEST_F(Win32Links, CheckedPlatformFollowsOnlyLinksOfTrustedOwners) {
    std::filesystem::create_directories(testing::fs_path(at(L"protected")));
    write_text(at(L"protected\\target.txt"), "protected");
    const BOOL created =
        ::CreateSymbolicLinkW(at(L"link").c_str(), at(L"protected").c_str(),
                              SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    // Wine 8 answers success without making a link.
    const DWORD attributes = ::GetFileAttributesW(at(L"link").c_str());
    if (!created || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        GTEST_SKIP() << "symbolic links cannot be made here";

    win32::Win32Platform platform(win32::LinkCheck::every_link);
    const Path via = at(L"link\\target.txt");
    auto checked = win32::check_trusted_path(via);
    if (checked) {
        GTEST_SKIP() << "the link is trusted here (Wine reports files as owned by Administrators)";
    }
    EXPECT_EQ(checked.error().text, win32::untrusted_link_error_text());
    EXPECT_TRUE(ends_with_os_error(checked.error().text, 448)) << checked.error().text;
    // RedirectionGuard does not promise to refuse symbolic links: the own
    // check still does while it is in force.
    auto with_guard = win32::check_trusted_path(via, {}, win32::LinkCheck::symbolic_links);
    ASSERT_FALSE(with_guard);
    EXPECT_EQ(with_guard.error(), checked.error());
    EXPECT_EQ(platform.write_file(via, bytes_of("x")).error(), checked.error());
    EXPECT_EQ(platform.file_type(via), FileType::missing);
    EXPECT_EQ(read_text(at(L"protected\\target.txt")), "protected");
}

TEST_F(Win32Links, HiddenOrSystemHelperLogIsEmptiedAndKeepsItsAttributes) {
    auto platform = make_native_platform(0, nullptr);
    for (const DWORD attribute : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM}}) {
        const Path log = at(attribute == FILE_ATTRIBUTE_HIDDEN ? L"hidden.log" : L"system.log");
        write_text(log, "earlier run\n");
        ASSERT_TRUE(::SetFileAttributesW(log.c_str(), attribute));

        auto emptied = platform->write_file(log, {});
        ASSERT_TRUE(emptied) << emptied.error().text;
        EXPECT_EQ(read_text(log), "");
        EXPECT_NE(::GetFileAttributesW(log.c_str()) & attribute, 0u);
        ASSERT_TRUE(platform->write_file(log, bytes_of("new")));
        EXPECT_EQ(read_text(log), "new");
    }
}

TEST_F(Win32Links, ReadOnlyEarlierResultIsDeleted) {
    auto platform = make_native_platform(0, nullptr);
    const Path result = at(L"result.json");
    write_text(result, "{\"status\":\"success\"}");
    ASSERT_TRUE(::SetFileAttributesW(result.c_str(), FILE_ATTRIBUTE_READONLY));

    auto deleted = platform->delete_file(result);
    ASSERT_TRUE(deleted) << deleted.error().text;
    EXPECT_EQ(::GetFileAttributesW(result.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32Links, FailedDeletionOfAReadOnlyFileKeepsItReadOnly) {
    auto platform = make_native_platform(0, nullptr);
    const Path result = at(L"result.json");
    write_text(result, "{}");
    ASSERT_TRUE(::SetFileAttributesW(result.c_str(), FILE_ATTRIBUTE_READONLY));
    // Held open without delete sharing: the second attempt fails too.
    HANDLE held = ::CreateFileW(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    auto deleted = platform->delete_file(result);
    ::CloseHandle(held);
    ASSERT_FALSE(deleted);
    EXPECT_NE(::GetFileAttributesW(result.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ::SetFileAttributesW(result.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32

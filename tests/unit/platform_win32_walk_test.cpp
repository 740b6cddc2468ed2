// The Windows walk holds handles: the folder it stands in cannot be renamed
// while held, the final name is opened relative to that folder, a directory
// entered and a link read are the very objects that were looked at. Wine
// shows all but the link (it makes no junctions); on Windows the junction
// case runs too.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/platform.h"
#include "platform/win32/trusted_path.h"
#include "platform/win32/windows_api.h"
// After the Windows headers it builds on.
#include <winioctl.h>

#include "platform_win32_support.h"
#include "support/scratch_folder.h"

namespace velmarch::platform {
namespace {

using win32::LinkCheck;

constexpr LinkCheck kCheckedModes[] = {LinkCheck::every_link, LinkCheck::symbolic_links};

bool is_directory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool ends_with_os_error(const std::string& text, int code) {
    return text.ends_with(" (os error " + std::to_string(code) + ")");
}

// Turns the empty folder `link` into a junction to `target` (an absolute
// path), as any user who may write the folder can. False where the system
// makes none (Wine).
bool make_junction(const std::wstring& link, const std::wstring& target) {
    const std::wstring substitute = L"\\??\\" + target;
    std::vector<wchar_t> names(substitute.begin(), substitute.end());
    names.push_back(L'\0');
    names.insert(names.end(), target.begin(), target.end());
    names.push_back(L'\0');
    const auto bytes = [](std::size_t characters) { return static_cast<std::uint16_t>(characters * sizeof(wchar_t)); };
    const std::uint16_t fields[] = {0, bytes(substitute.size()), bytes(substitute.size() + 1), bytes(target.size())};
    const std::uint16_t body_length = static_cast<std::uint16_t>(sizeof fields + names.size() * sizeof(wchar_t));
    std::vector<std::byte> data(8 + body_length);
    const std::uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(data.data(), &tag, 4);
    std::memcpy(data.data() + 4, &body_length, 2);
    std::memcpy(data.data() + 8, fields, sizeof fields);
    std::memcpy(data.data() + 8 + sizeof fields, names.data(), names.size() * sizeof(wchar_t));

    HANDLE folder = ::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    const BOOL set = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                                       nullptr, 0, &returned, nullptr);
    ::CloseHandle(folder);
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    return set && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

class Win32Walk : public ::testing::Test {
protected:
    testing::ScratchFolder temp;
    std::wstring at(const wchar_t* name) const { return (temp.path() / name).wstring(); }
    std::wstring root() const { return temp.path().wstring(); }
};

TEST_F(Win32Walk, TheFolderTheWalkEndsInCannotBeRenamedOrDeletedWhileHeld) {
    ASSERT_TRUE(::CreateDirectoryW(at(L"a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(at(L"a\\b").c_str(), nullptr));
    for (const LinkCheck mode : kCheckedModes) {
        SCOPED_TRACE(static_cast<int>(mode));
        Result<win32::Located> located = win32::locate(Path(at(L"a\\b\\file.txt")), {}, mode);
        ASSERT_TRUE(located) << located.error().text;
        ASSERT_TRUE(located->directory);
        EXPECT_EQ(located->name, L"file.txt");

        EXPECT_FALSE(::MoveFileExW(at(L"a\\b").c_str(), at(L"a\\moved").c_str(), 0));
        EXPECT_EQ(::GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
        EXPECT_FALSE(::RemoveDirectoryW(at(L"a\\b").c_str()));
        EXPECT_TRUE(is_directory(at(L"a\\b")));

        located->directory.reset();
        ASSERT_TRUE(::MoveFileExW(at(L"a\\b").c_str(), at(L"a\\moved").c_str(), 0));
        ASSERT_TRUE(::MoveFileExW(at(L"a\\moved").c_str(), at(L"a\\b").c_str(), 0));
    }
}

// A path that names a root leaves the walk standing in it, with the name
// ".": the held root itself.
TEST_F(Win32Walk, ARootIsTheHeldDirectoryItself) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring drive_root = std::wstring(windows).substr(0, 3);
    for (const LinkCheck mode : kCheckedModes) {
        win32::Win32Platform platform(mode);
        EXPECT_EQ(platform.file_type(Path(drive_root)), FileType::directory) << static_cast<int>(mode);
        EXPECT_TRUE(platform.exists(Path(drive_root)));
        EXPECT_TRUE(platform.create_directories(Path(drive_root)));
    }
}

// The name is opened in the folder that was walked, whatever now stands at
// the path's text above it.
TEST_F(Win32Walk, TheFinalNameIsCreatedInTheHeldFolderNotWhereThePathTextNowLeads) {
    ASSERT_TRUE(::CreateDirectoryW(at(L"a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(at(L"a\\b").c_str(), nullptr));
    Result<win32::Located> located =
        win32::locate(Path(at(L"a\\b\\new.txt")), WalkOptions{.follow_final_link = false}, LinkCheck::every_link);
    ASSERT_TRUE(located) << located.error().text;
    if (!::MoveFileExW(at(L"a").c_str(), at(L"a-moved").c_str(), 0))
        GTEST_SKIP() << "this system does not rename a folder above a held one (error " << ::GetLastError() << ")";
    ASSERT_TRUE(::CreateDirectoryW(at(L"a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(at(L"a\\b").c_str(), nullptr));

    win32::Opened created =
        win32::open_located(*located, win32::FileOpening{.access = GENERIC_WRITE, .creation = CREATE_NEW});
    ASSERT_TRUE(created) << created.error();
    created->reset();
    EXPECT_TRUE(exists(at(L"a-moved\\b\\new.txt")));
    EXPECT_FALSE(exists(at(L"a\\b\\new.txt")));
}

// Looked at, then renamed away and replaced: the walk enters the folder it
// looked at, through the handle it looked with.
TEST_F(Win32Walk, ADirectoryEnteredIsTheOneThatWasLookedAt) {
    ASSERT_TRUE(::CreateDirectoryW(at(L"d").c_str(), nullptr));
    for (const LinkCheck mode : kCheckedModes) {
        SCOPED_TRACE(static_cast<int>(mode));
        auto cursor = win32::make_handle_cursor(mode);
        ASSERT_TRUE(cursor->start(Path(root())));
        Result<EntryInfo> entry = cursor->inspect(L"d");
        ASSERT_TRUE(entry) << entry.error().text;
        EXPECT_EQ(entry->kind, EntryKind::directory);

        ASSERT_TRUE(::MoveFileExW(at(L"d").c_str(), at(L"looked-at").c_str(), 0)) << ::GetLastError();
        ASSERT_TRUE(::CreateDirectoryW(at(L"d").c_str(), nullptr));
        ASSERT_TRUE(cursor->enter(L"d"));
        ASSERT_TRUE(cursor->make_directory(L"made"));
        EXPECT_TRUE(is_directory(at(L"looked-at\\made")));
        EXPECT_FALSE(exists(at(L"d\\made")));

        // Held from the moment it was entered.
        ASSERT_TRUE(::RemoveDirectoryW(at(L"looked-at\\made").c_str()));
        EXPECT_FALSE(::MoveFileExW(at(L"looked-at").c_str(), at(L"renamed").c_str(), 0));
        cursor.reset();
        ASSERT_TRUE(::RemoveDirectoryW(at(L"looked-at").c_str()));
    }
}

TEST_F(Win32Walk, AFileLookedAtIsNeverEntered) {
    ::CloseHandle(::CreateFileW(at(L"f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    const auto cursor = win32::make_handle_cursor(LinkCheck::every_link);
    ASSERT_TRUE(cursor->start(Path(root())));
    Result<EntryInfo> entry = cursor->inspect(L"f");
    ASSERT_TRUE(entry) << entry.error().text;
    EXPECT_EQ(entry->kind, EntryKind::other);
    Result<void> entered = cursor->enter(L"f");
    ASSERT_FALSE(entered);
    EXPECT_TRUE(ends_with_os_error(entered.error().text, ERROR_DIRECTORY)) << entered.error().text;
    EXPECT_EQ(cursor->link_target(L"f").error().text, win32::untrusted_link_error_text());
}

// A user's junction is refused, and its target is read from the handle that
// was looked at, not by a second lookup of the name: a junction swapped in
// after the look does not change it. Windows only: Wine makes no junctions.
TEST_F(Win32Walk, AJunctionIsDecidedAndReadOnTheHandleThatLookedAtIt) {
    ASSERT_TRUE(::CreateDirectoryW(at(L"protected").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(at(L"elsewhere").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(at(L"j").c_str(), nullptr));
    if (!make_junction(at(L"j"), at(L"protected"))) GTEST_SKIP() << "no junction can be made here";

    const auto cursor = win32::make_handle_cursor(LinkCheck::every_link);
    ASSERT_TRUE(cursor->start(Path(root())));
    Result<EntryInfo> entry = cursor->inspect(L"j");
    ASSERT_TRUE(entry) << entry.error().text;
    EXPECT_EQ(entry->kind, EntryKind::link);

    ASSERT_TRUE(::MoveFileExW(at(L"j").c_str(), at(L"j-looked-at").c_str(), 0)) << ::GetLastError();
    ASSERT_TRUE(::CreateDirectoryW(at(L"j").c_str(), nullptr));
    ASSERT_TRUE(make_junction(at(L"j"), at(L"elsewhere")));
    Result<Path> target = cursor->link_target(L"j");
    ASSERT_TRUE(target) << target.error().text;
    EXPECT_EQ(target->native(), at(L"protected"));

    // The test's own junction, in a folder its user controls: refused as an
    // untrusted mount point by the walk.
    auto walked = win32::check_trusted_path(Path(at(L"j\\file.txt")));
    ASSERT_FALSE(walked);
    EXPECT_EQ(walked.error().text, win32::untrusted_link_error_text());
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32

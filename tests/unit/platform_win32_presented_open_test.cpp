// The second open of a name that was, when looked at, a reparse point of no
// link's kind (a cloud placeholder, a deduplicated file): it creates nothing,
// so a placeholder swapped for a junction or file symbolic link between the
// two opens never makes a file appear where the link leads. Wine sets no
// reparse point of such a kind, so the second open is stood in for by an open
// of what the swapped name would lead to.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/nt_file.h"
#include "platform/win32/trusted_path.h"
#include "platform/win32/windows_api.h"
#include "platform_win32_support.h"
#include "support/scratch_folder.h"

namespace velmarch::platform {
namespace {

using win32::FileOpening;
using win32::Opened;
using win32::UniqueHandle;

constexpr DWORD kUntrustedMountPoint = 448;

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string content_of(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file) return "(cannot be opened)";
    char buffer[256];
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return "(cannot be read)";
    return std::string(buffer, got);
}

void write_new(const std::wstring& path, std::string_view text) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file) << "cannot create the fixture file (" << ::GetLastError() << ")";
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
}

class PresentedOpen : public ::testing::Test {
protected:
    PresentedOpen() {
        placeholder = (temp.path() / L"helper.log").wstring();
        elsewhere = (temp.path() / L"elsewhere").wstring();
        write_new(placeholder, "earlier lines\n");
        ::CreateDirectoryW(elsewhere.c_str(), nullptr);
        // The name as the walk looked at it, held open meanwhile.
        looked_at = UniqueHandle(::CreateFileW(placeholder.c_str(), FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(looked_at) << ::GetLastError();
    }

    // What the caller's write or append asks for, with `creation`.
    static FileOpening write_with(DWORD creation) { return FileOpening{.access = GENERIC_WRITE, .creation = creation}; }

    // The second open, standing in for the name now leading to `path`; every
    // opening it was given is kept.
    Opened open_presented_as(const std::wstring& path, DWORD creation) {
        return win32::open_presented(looked_at.get(), write_with(creation), [&](const FileOpening& how) {
            second_opens.push_back(how);
            return win32::open_at(nullptr, path, how);
        });
    }

    testing::ScratchFolder temp;
    std::wstring placeholder;
    std::wstring elsewhere;
    UniqueHandle looked_at;
    std::vector<FileOpening> second_opens;
};

constexpr DWORD kWritingCreations[] = {OPEN_ALWAYS, CREATE_NEW, OPEN_EXISTING};

// Swapped for a link to a name that does not exist (an administrator-only
// folder's new file): the write fails and nothing is created there.
TEST_F(PresentedOpen, APlaceholderSwappedForALinkToNothingCreatesNothingThere) {
    const std::wstring target = elsewhere + L"\\created-as-administrator.txt";
    for (const DWORD creation : kWritingCreations) {
        SCOPED_TRACE(creation);
        const Opened opened = open_presented_as(target, creation);
        EXPECT_FALSE(opened);
        EXPECT_FALSE(exists(target));
    }
}

// Swapped for a link to another existing file: refused as a link is, and
// that file keeps what it held.
TEST_F(PresentedOpen, APlaceholderSwappedForALinkToAnotherFileIsRefusedAndLeavesItAlone) {
    const std::wstring target = elsewhere + L"\\protected.txt";
    write_new(target, "only administrators write this\n");
    const struct {
        DWORD creation;
        DWORD error;
    } cases[] = {
        {OPEN_ALWAYS, kUntrustedMountPoint}, {OPEN_EXISTING, kUntrustedMountPoint}, {CREATE_NEW, ERROR_FILE_EXISTS}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.creation);
        const Opened opened = open_presented_as(target, c.creation);
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error(), c.error);
        EXPECT_EQ(content_of(target), "only administrators write this\n");
    }
}

// Still the placeholder: a write or append reaches it as the system presents
// it; only a new file of its name is refused, and by the name's collision.
TEST_F(PresentedOpen, APlaceholderStillThereIsOpenedAndNeverReplaced) {
    for (const DWORD creation : {OPEN_ALWAYS, OPEN_EXISTING}) {
        SCOPED_TRACE(creation);
        const Opened opened = open_presented_as(placeholder, creation);
        ASSERT_TRUE(opened) << opened.error();
        EXPECT_TRUE(win32::same_file(looked_at.get(), opened->get()));
    }
    const Opened created = open_presented_as(placeholder, CREATE_NEW);
    ASSERT_FALSE(created);
    EXPECT_EQ(created.error(), DWORD{ERROR_FILE_EXISTS});
    EXPECT_EQ(content_of(placeholder), "earlier lines\n");
    for (const FileOpening& how : second_opens) EXPECT_EQ(how.creation, DWORD{OPEN_EXISTING});
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32

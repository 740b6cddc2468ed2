// What the sweep of earlier runs' staging works with: directories held open
// with FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS (a link is
// opened as itself, never followed) and DELETE access, files taken with
// DELETE access and no sharing (which fails while a run holds its package),
// deletion by handle, the read-sharing hold a run keeps on its own staged
// package, and the free space of a volume.
//
// A held directory is opened without FILE_SHARE_DELETE, so nobody can rename
// or replace it while it is held: its entries are then opened by the path
// below it, each with FILE_FLAG_OPEN_REPARSE_POINT, and what was checked is
// what is deleted, through the same handle.
#include "platform/win32/windows_api.h"
// After the Windows headers they build on.
#include <aclapi.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "platform/win32/os_error.h"
#include "platform/win32/owners.h"
#include "platform/win32/platform.h"
#include "platform/win32/regular_file.h"
#include "platform/win32/security_descriptor.h"
#include "platform/win32/wide_text.h"
#include "text/utf.h"

namespace velmarch::platform::win32 {
namespace {

constexpr DWORD kHeldDirectoryAccess = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kTakenFileAccess = DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// 100-nanosecond intervals from 1601 to 1970.
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

std::uint64_t unix_seconds_of(LARGE_INTEGER time) {
    const auto ticks = static_cast<std::uint64_t>(time.QuadPart);
    return ticks <= kUnixEpochAsFileTime ? 0 : (ticks - kUnixEpochAsFileTime) / 10'000'000ULL;
}

// Only a plain name of an entry, never one that leads elsewhere.
[[nodiscard]] Result<std::wstring> entry_name(std::string_view name) {
    std::wstring wide = to_wide(text::utf8_to_utf16_lossy(name));
    if (wide.empty() || wide == L"." || wide == L".." || wide.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos ||
        wide.find(L'\0') != std::wstring::npos)
        return fail(ErrorKind::os_error, os_error_text(ERROR_INVALID_NAME));
    return wide;
}

[[nodiscard]] Result<bool> owned_by_administrators_or_system(HANDLE handle) {
    PSID owner = nullptr;
    UniqueLocalMemory descriptor;
    const DWORD error = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                          nullptr, descriptor.put());
    if (error != ERROR_SUCCESS) return fail(ErrorKind::os_error, os_error_text(error));
    return owner != nullptr &&
           (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid));
}

[[nodiscard]] Result<HeldFacts> facts_of(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return fail(ErrorKind::os_error, last_os_error_text());
    HeldFacts facts;
    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        facts.kind = HeldKind::link;
    } else if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        facts.kind = HeldKind::directory;
    } else {
        facts.kind = ::GetFileType(handle) == FILE_TYPE_DISK ? HeldKind::regular_file : HeldKind::other;
    }
    Result<bool> trusted = owned_by_administrators_or_system(handle);
    if (!trusted) return std::unexpected(trusted.error());
    facts.trusted_owner = *trusted;
    facts.modified_unix_seconds = unix_seconds_of(basic.LastWriteTime);
    return facts;
}

[[nodiscard]] Result<void> delete_by_handle(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return fail(ErrorKind::os_error, last_os_error_text());
    return {};
}

// Whether two access lists hold the same entries in the same order.
bool same_entries(PACL actual, PACL expected) {
    if (actual == nullptr || expected == nullptr) return actual == expected;
    if (actual->AceCount != expected->AceCount) return false;
    for (DWORD i = 0; i < actual->AceCount; ++i) {
        void* mine = nullptr;
        void* theirs = nullptr;
        if (!::GetAce(actual, i, &mine) || !::GetAce(expected, i, &theirs)) return false;
        const auto* mine_header = static_cast<const ACE_HEADER*>(mine);
        const auto* their_header = static_cast<const ACE_HEADER*>(theirs);
        if (mine_header->AceSize != their_header->AceSize || std::memcmp(mine, theirs, mine_header->AceSize) != 0)
            return false;
    }
    return true;
}

class Win32FileHold final : public FileHold {
public:
    explicit Win32FileHold(UniqueHandle handle) : handle_(std::move(handle)) {}

private:
    UniqueHandle handle_;
};

class Win32TakenFile final : public TakenFile {
public:
    explicit Win32TakenFile(UniqueHandle handle) : handle_(std::move(handle)) {}
    Result<HeldFacts> facts() override { return facts_of(handle_.get()); }
    Result<void> remove() override { return delete_by_handle(handle_.get()); }

private:
    UniqueHandle handle_;
};

class Win32HeldDirectory final : public HeldDirectory {
public:
    Win32HeldDirectory(Path path, UniqueHandle handle) : path_(std::move(path)), handle_(std::move(handle)) {}

    Result<HeldFacts> facts() override { return facts_of(handle_.get()); }

    Result<bool> has_access_list(const SecurityDescriptor& expected) override {
        const auto* wanted = dynamic_cast<const Win32SecurityDescriptor*>(&expected);
        if (wanted == nullptr)
            return fail(ErrorKind::general, std::string("The security descriptor was not made by this platform."));
        PACL actual = nullptr;
        UniqueLocalMemory descriptor;
        const DWORD error = ::GetSecurityInfo(handle_.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, &actual, nullptr, descriptor.put());
        if (error != ERROR_SUCCESS) return fail(ErrorKind::os_error, os_error_text(error));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!::GetSecurityDescriptorControl(descriptor.get(), &control, &revision))
            return fail(ErrorKind::os_error, last_os_error_text());
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL expected_list = nullptr;
        if (!::GetSecurityDescriptorDacl(wanted->get(), &present, &expected_list, &defaulted))
            return fail(ErrorKind::os_error, last_os_error_text());
        return (control & SE_DACL_PROTECTED) != 0 && present && same_entries(actual, expected_list);
    }

    // Read through the held handle itself: no second open of the directory,
    // which the held handle's DELETE access would refuse without delete
    // sharing, and no other object than the one held.
    Result<std::vector<std::string>> names(std::string_view prefix, std::size_t limit) override {
        std::vector<std::string> found;
        alignas(8) std::byte buffer[64 * 1024];
        auto kind = FileIdBothDirectoryRestartInfo;
        while (found.size() < limit) {
            if (!::GetFileInformationByHandleEx(handle_.get(), kind, buffer, sizeof buffer)) {
                if (::GetLastError() == ERROR_NO_MORE_FILES) break;
                return fail(ErrorKind::os_error, last_os_error_text());
            }
            kind = FileIdBothDirectoryInfo;
            for (std::size_t offset = 0; found.size() < limit;) {
                const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
                const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") {
                    std::string utf8 = text::utf16_to_utf8_lossy(std::u16string(name.begin(), name.end()));
                    if (utf8.starts_with(prefix)) found.push_back(std::move(utf8));
                }
                if (entry->NextEntryOffset == 0) break;
                offset += entry->NextEntryOffset;
            }
        }
        return found;
    }

    Result<std::unique_ptr<HeldDirectory>> open_directory(std::string_view name) override {
        Result<std::wstring> wide = entry_name(name);
        if (!wide) return std::unexpected(wide.error());
        Path path = path_ / Path(*wide);
        // No FILE_SHARE_DELETE: nobody renames or replaces it while held.
        UniqueHandle handle(::CreateFileW(path.c_str(), kHeldDirectoryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!handle) return fail(ErrorKind::os_error, last_os_error_text());
        return std::make_unique<Win32HeldDirectory>(std::move(path), std::move(handle));
    }

    Result<std::unique_ptr<TakenFile>> take_file(std::string_view name) override {
        Result<std::wstring> wide = entry_name(name);
        if (!wide) return std::unexpected(wide.error());
        const Path path = path_ / Path(*wide);
        // No sharing: a run's read-sharing hold on its package refuses this.
        UniqueHandle handle(::CreateFileW(path.c_str(), kTakenFileAccess, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!handle) return fail(ErrorKind::os_error, last_os_error_text());
        return std::make_unique<Win32TakenFile>(std::move(handle));
    }

    Result<void> remove() override { return delete_by_handle(handle_.get()); }

private:
    Path path_;
    UniqueHandle handle_;
};

}  // namespace

Result<std::unique_ptr<FileHold>> Win32Platform::hold_file(const Path& path) {
    if (Result<void> checked = check_links(path, WalkOptions{.follow_final_link = false}); !checked)
        return std::unexpected(checked.error());
    // Read sharing only: nobody else may write, rename or delete it.
    UniqueHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return fail(ErrorKind::os_error, last_os_error_text());
    if (Result<void> disk = require_disk_file(handle.get()); !disk) return std::unexpected(disk.error());
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof basic))
        return fail(ErrorKind::os_error, last_os_error_text());
    if ((basic.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return fail_not_a_regular_file();
    return std::make_unique<Win32FileHold>(std::move(handle));
}

Result<std::unique_ptr<HeldDirectory>> Win32Platform::open_held_directory(const Path& path) {
    if (Result<void> checked = check_links(path); !checked) return std::unexpected(checked.error());
    UniqueHandle handle(
        ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return fail(ErrorKind::os_error, last_os_error_text());
    return std::make_unique<Win32HeldDirectory>(path, std::move(handle));
}

}  // namespace velmarch::platform::win32

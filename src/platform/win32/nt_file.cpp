#include "platform/win32/nt_file.h"

// After the Windows headers it builds on.
#include <winternl.h>

#include <limits>
#include <string>

namespace velmarch::platform::win32 {
namespace {

constexpr ULONG kCaseInsensitive = 0x40;  // OBJ_CASE_INSENSITIVE, as CreateFileW asks
// What CreateFileW adds to every request: synchronous I/O, and the handle's
// own attributes (which the walk and its checks read).
constexpr ACCESS_MASK kAlwaysAsked = SYNCHRONIZE | FILE_READ_ATTRIBUTES;

ULONG nt_disposition(DWORD creation) {
    switch (creation) {
        case CREATE_NEW: return FILE_CREATE;
        case OPEN_ALWAYS: return FILE_OPEN_IF;
        default: return FILE_OPEN;
    }
}

ULONG nt_options(const FileOpening& how) {
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT;
    if ((how.flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) != 0) {
        options |= FILE_OPEN_FOR_BACKUP_INTENT;
        if (how.directory_only) options |= FILE_DIRECTORY_FILE;
    } else {
        options |= FILE_NON_DIRECTORY_FILE;
    }
    if ((how.flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0) options |= FILE_OPEN_REPARSE_POINT;
    return options;
}

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);  // STATUS_OBJECT_NAME_COLLISION
constexpr NTSTATUS kIsADirectory = static_cast<NTSTATUS>(0xC00000BA);   // STATUS_FILE_IS_A_DIRECTORY

// What the caller sees from an NTSTATUS: the Win32 code CreateFileW or
// CreateDirectoryW would have set.
DWORD win32_error(NTSTATUS status, const FileOpening& how) {
    if (!how.directory_only) {
        if (status == kNameCollision) return ERROR_FILE_EXISTS;
        if (status == kIsADirectory) return ERROR_ACCESS_DENIED;
    }
    return ::RtlNtStatusToDosError(status);
}

Opened open_by_path(std::wstring_view path, const FileOpening& how) {
    const std::wstring text(path);
    UniqueHandle handle(
        ::CreateFileW(text.c_str(), how.access, how.share, nullptr, how.creation, how.flags_and_attributes, nullptr));
    if (!handle) return std::unexpected(::GetLastError());
    return handle;
}

}  // namespace

Opened open_at(HANDLE directory, std::wstring_view name, const FileOpening& how) {
    if (directory == nullptr) return open_by_path(name, how);
    // The system reads no "." in a relative name: the directory itself is
    // the empty name.
    if (name == L".") name = {};
    constexpr std::size_t kLongestName = std::numeric_limits<USHORT>::max() / sizeof(wchar_t);
    if (name.size() > kLongestName) return std::unexpected(DWORD{ERROR_FILENAME_EXCED_RANGE});
    UNICODE_STRING object_name{};
    object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    object_name.Buffer = const_cast<wchar_t*>(name.data());
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = directory;
    attributes.ObjectName = &object_name;
    attributes.Attributes = kCaseInsensitive;
    attributes.SecurityDescriptor = how.security;
    IO_STATUS_BLOCK status_block{};
    UniqueHandle handle;
    const ULONG file_attributes = how.flags_and_attributes & 0xFFFF;
    const NTSTATUS status =
        ::NtCreateFile(handle.put(), how.access | kAlwaysAsked, &attributes, &status_block, nullptr, file_attributes,
                       how.share, nt_disposition(how.creation), nt_options(how), nullptr, 0);
    if (status < 0) return std::unexpected(win32_error(status, how));
    return handle;
}

bool same_file(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION other{};
    if (!::GetFileInformationByHandle(first, &one) || !::GetFileInformationByHandle(second, &other)) return false;
    return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
           one.nFileIndexLow == other.nFileIndexLow;
}

}  // namespace velmarch::platform::win32

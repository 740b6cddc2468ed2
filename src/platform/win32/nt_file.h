#pragma once
// Opens relative to a directory handle that is held (NtCreateFile with a root
// directory and a relative name), so that what the name means cannot change
// by someone renaming or replacing a folder above it. The arguments are
// CreateFileW's; the error is a Win32 error code (RtlNtStatusToDosError).

#include <expected>
#include <string_view>

#include "platform/win32/owners.h"
#include "platform/win32/windows_api.h"

namespace velmarch::platform::win32 {

struct FileOpening {
    DWORD access = 0;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD creation = OPEN_EXISTING;  // OPEN_EXISTING, CREATE_NEW or OPEN_ALWAYS
    // FILE_FLAG_BACKUP_SEMANTICS (a directory may be opened; without it only
    // a file), FILE_FLAG_OPEN_REPARSE_POINT, and FILE_ATTRIBUTE_* for a new
    // file.
    DWORD flags_and_attributes = 0;
    // Only with FILE_FLAG_BACKUP_SEMANTICS: a directory or nothing.
    bool directory_only = false;
    // For a new file or directory.
    PSECURITY_DESCRIPTOR security = nullptr;
};

using Opened = std::expected<UniqueHandle, DWORD>;

// Opens `name` (one component, or empty or "." for the object `directory` itself)
// relative to `directory`; with no directory (null), `name` is a whole path
// given to CreateFileW (which has no `directory_only` and creates no
// directory).
[[nodiscard]] Opened open_at(HANDLE directory, std::wstring_view name, const FileOpening& how);

// The same file or directory (volume and file index) behind both handles.
[[nodiscard]] bool same_file(HANDLE first, HANDLE second);

}  // namespace velmarch::platform::win32

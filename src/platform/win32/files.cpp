// Files and directories.
#include <cwchar>

#include "platform/path_parts.h"
#include "platform/win32/os_error.h"
#include "platform/win32/trusted_path.h"
#include "platform/win32/file.h"
#include "platform/win32/platform.h"
#include "platform/win32/regular_file.h"

namespace velmarch::platform::win32 {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

UniqueHandle create_file(const Path& path, DWORD access, DWORD creation, DWORD flags) {
    return UniqueHandle(::CreateFileW(path.c_str(), access, kShareAll, nullptr, creation, flags, nullptr));
}

// A caller-named file: refused, before a byte passes, unless a disk file.
[[nodiscard]] Result<UniqueHandle> open_disk_file(const Path& path, DWORD access, DWORD creation, DWORD flags) {
    UniqueHandle handle = create_file(path, access, creation, flags);
    if (!handle) return std::unexpected(last_os_error_text());
    if (Result<void> disk = require_disk_file(handle.get()); !disk) return std::unexpected(disk.error());
    return handle;
}

[[nodiscard]] Result<std::unique_ptr<File>> open_file(const Path& path, DWORD access, DWORD creation, DWORD flags) {
    Result<UniqueHandle> handle = open_disk_file(path, access, creation, flags);
    if (!handle) return std::unexpected(handle.error());
    return std::make_unique<Win32File>(std::move(*handle));
}

bool is_directory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// The type from the directory entry, for a path that cannot be opened even
// without access rights (in use without sharing, or no right to it). The
// entry describes the name itself: a link found here was not followed.
FileType file_type_from_directory_entry(const Path& path) {
    // A search pattern would match other names.
    if (has_wildcard(std::wstring_view(path.native()), PathStyle::windows)) return FileType::missing;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle search(
        ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!search) return FileType::missing;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(entry.dwReserved0)) {
        return FileType::missing;
    }
    return is_directory(entry.dwFileAttributes) ? FileType::directory : FileType::file;
}

// Removes everything below `directory` (a real directory, not a link), then
// the directory itself. Links are removed, never followed.
[[nodiscard]] Result<void> remove_tree_below(const Path& directory) {
    WIN32_FIND_DATAW entry{};
    const Path pattern = directory / L"*";
    {
        const UniqueFindHandle search(
            ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
        if (!search) return std::unexpected(last_os_error_text());
        do {
            if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
            const Path child = directory / entry.cFileName;
            const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (is_directory(entry.dwFileAttributes) && !link) {
                if (Result<void> removed = remove_tree_below(child); !removed) return removed;
            } else if (is_directory(entry.dwFileAttributes)) {
                if (!::RemoveDirectoryW(child.c_str())) return std::unexpected(last_os_error_text());
            } else if (!::DeleteFileW(child.c_str())) {
                return std::unexpected(last_os_error_text());
            }
        } while (::FindNextFileW(search.get(), &entry));
        if (::GetLastError() != ERROR_NO_MORE_FILES) return std::unexpected(last_os_error_text());
    }
    if (!::RemoveDirectoryW(directory.c_str())) return std::unexpected(last_os_error_text());
    return {};
}

bool is_not_found(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

constexpr WalkOptions kKeepFinalLink{.create_directories = false, .follow_final_link = false};

}  // namespace

Result<void> Win32Platform::check_links(const Path& path, WalkOptions options) const {
    return check_trusted_path(path, options, link_check_);
}

FileType Win32Platform::file_type(const Path& path) {
    if (!check_links(path)) return FileType::missing;
    const UniqueHandle handle = create_file(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (!handle) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            return file_type_from_directory_entry(path);
        }
        return FileType::missing;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle.get(), &information)) return FileType::missing;
    return is_directory(information.dwFileAttributes) ? FileType::directory : FileType::file;
}

bool Win32Platform::exists(const Path& path) {
    if (!check_links(path, kKeepFinalLink)) return false;
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result<std::unique_ptr<File>> Win32Platform::open_for_reading(const Path& path) {
    if (Result<void> checked = check_links(path); !checked) return std::unexpected(checked.error());
    return open_file(path, GENERIC_READ, OPEN_EXISTING, 0);
}

Result<std::unique_ptr<File>> Win32Platform::create_new_file(const Path& path) {
    if (Result<void> checked = check_links(path, kKeepFinalLink); !checked) return std::unexpected(checked.error());
    return open_file(path, GENERIC_WRITE, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT);
}

Result<void> Win32Platform::write_file(const Path& path, std::span<const std::byte> bytes) {
    if (Result<void> checked = check_links(path); !checked) return checked;
    // Opened, then cut to length zero, rather than CREATE_ALWAYS: that
    // refuses (access denied) an existing file with the hidden or system
    // attribute, which the file then keeps.
    Result<UniqueHandle> handle = open_disk_file(path, GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (!handle) return std::unexpected(handle.error());
    if (!::SetEndOfFile(handle->get())) return std::unexpected(last_os_error_text());
    Win32File file(std::move(*handle));
    return write_all(file, bytes);
}

Result<void> Win32Platform::append_to_file(const Path& path, std::span<const std::byte> bytes) {
    if (Result<void> checked = check_links(path); !checked) return checked;
    // Without FILE_WRITE_DATA every write goes to the current end of file.
    Result<std::unique_ptr<File>> file = open_file(path, FILE_APPEND_DATA, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (!file) return std::unexpected(file.error());
    return write_all(**file, bytes);
}

Result<void> Win32Platform::delete_file(const Path& path) {
    if (Result<void> checked = check_links(path, kKeepFinalLink); !checked) return checked;
    if (::DeleteFileW(path.c_str())) return {};
    const DWORD error = ::GetLastError();
    // A read-only file is deleted all the same: an earlier result file left
    // read-only must not pass for this run's.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::unexpected(os_error_text(error));
    if (!::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
        return std::unexpected(os_error_text(error));
    if (::DeleteFileW(path.c_str())) return {};
    const DWORD second_error = ::GetLastError();
    ::SetFileAttributesW(path.c_str(), attributes);
    return std::unexpected(os_error_text(second_error));
}

Result<void> Win32Platform::create_directories(const Path& path) {
    if (path.empty()) return {};
    if (link_check_ != LinkCheck::off)
        return check_trusted_path(path, WalkOptions{.create_directories = true}, link_check_);
    if (::CreateDirectoryW(path.c_str(), nullptr)) return {};
    DWORD error = ::GetLastError();
    if (!is_not_found(error)) {
        // Already there (or a root, which cannot be created) is fine when it
        // is a directory; a file of that name is the error at hand.
        if (file_type(path) == FileType::directory) return {};
        return std::unexpected(os_error_text(error));
    }
    const Path parent = path.parent_path();
    if (parent.empty() || parent == path) return std::unexpected(os_error_text(error));
    if (Result<void> above = create_directories(parent); !above) return above;
    if (::CreateDirectoryW(path.c_str(), nullptr)) return {};
    error = ::GetLastError();
    if (file_type(path) == FileType::directory) return {};
    return std::unexpected(os_error_text(error));
}

Result<void> Win32Platform::remove_directory_tree(const Path& path) {
    if (Result<void> checked = check_links(path, kKeepFinalLink); !checked) return checked;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::unexpected(last_os_error_text());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link to a directory: remove the link, keep what it points to.
        const BOOL removed = is_directory(attributes) ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
        if (!removed) return std::unexpected(last_os_error_text());
        return {};
    }
    if (!is_directory(attributes)) return delete_file(path);
    return remove_tree_below(path);
}

}  // namespace velmarch::platform::win32

// Files and directories. With links checked, every operation acts on
// (held directory handle, final name) as the walk left them
// (platform/win32/trusted_path.h); without, on the path as it is.
#include <cwchar>
#include <optional>
#include <vector>

#include "platform/path/path_parts.h"
#include "platform/win32/file.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/os_error.h"
#include "platform/win32/platform.h"
#include "platform/win32/regular_file.h"
#include "platform/win32/security_description.h"
#include "platform/win32/trusted_path.h"

namespace velmarch::platform::win32 {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A caller-named file: refused, before a byte passes, unless a disk file.
[[nodiscard]] Result<UniqueHandle> open_disk_file(const Located& at, const FileOpening& how) {
    Opened handle = open_located(at, how);
    if (!handle) return fail(ErrorKind::os_error, os_error_text(handle.error()));
    if (Result<void> disk = require_disk_file(handle->get()); !disk) return std::unexpected(disk.error());
    return std::move(*handle);
}

bool is_directory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// The type from the directory entry, for a path that cannot be opened even
// without access rights (no right to it). The entry describes the name
// itself: a link found here was not followed.
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

std::optional<DWORD> attributes_of(HANDLE handle) {
    FILE_BASIC_INFO information{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &information, sizeof information)) return std::nullopt;
    return information.FileAttributes;
}

bool set_attributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO information{};  // times of 0 stay as they are
    information.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &information, sizeof information) != 0;
}

// Marks the open file or directory for deletion; it goes when the last
// handle to it is closed.
[[nodiscard]] DWORD mark_for_deletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return ERROR_SUCCESS;
    return ::GetLastError();
}

// Deletes the object behind `handle` (opened with DELETE, and
// FILE_WRITE_ATTRIBUTES where granted). A read-only file is deleted all the
// same: an earlier result file left read-only must not pass for this run's.
[[nodiscard]] Result<void> delete_by_handle(HANDLE handle, bool may_write_attributes) {
    const DWORD error = mark_for_deletion(handle);
    if (error == ERROR_SUCCESS) return {};
    const std::optional<DWORD> attributes = attributes_of(handle);
    if (error != ERROR_ACCESS_DENIED || !may_write_attributes || !attributes ||
        (*attributes & FILE_ATTRIBUTE_READONLY) == 0 || is_directory(*attributes))
        return std::unexpected(removal_error(error));
    if (!set_attributes(handle, *attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
        return std::unexpected(removal_error(error));
    const DWORD second_error = mark_for_deletion(handle);
    if (second_error == ERROR_SUCCESS) return {};
    set_attributes(handle, *attributes);
    return std::unexpected(removal_error(second_error));
}

FileOpening for_deletion(DWORD access, DWORD flags) {
    return FileOpening{
        .access = access, .share = kShareAll, .flags_and_attributes = FILE_FLAG_OPEN_REPARSE_POINT | flags};
}

// Deletes the file, or the link itself, at a located name.
[[nodiscard]] Result<void> delete_located(const Located& at, DWORD flags) {
    Opened handle = open_located(at, for_deletion(DELETE | FILE_WRITE_ATTRIBUTES, flags));
    bool may_write_attributes = true;
    if (!handle && handle.error() == ERROR_ACCESS_DENIED) {
        handle = open_located(at, for_deletion(DELETE, flags));
        may_write_attributes = false;
    }
    // A scanner that holds the file without delete sharing refuses the open.
    if (!handle) return std::unexpected(removal_error(handle.error()));
    return delete_by_handle(handle->get(), may_write_attributes);
}

// The names in the open directory, "." and ".." left out.
[[nodiscard]] Result<std::vector<std::wstring>> entries_of(HANDLE directory) {
    std::vector<std::wstring> names;
    // 64 KiB: room for hundreds of entries per call, and any single one.
    std::vector<std::byte> buffer(std::size_t{64} * 1024);
    FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(directory, query, buffer.data(), static_cast<DWORD>(buffer.size()))) {
            if (::GetLastError() == ERROR_NO_MORE_FILES) return names;
            return fail(ErrorKind::os_error, last_os_error_text());
        }
        query = FileIdBothDirectoryInfo;
        std::size_t offset = 0;
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.push_back(name);
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
}

// Removes everything below the held `directory` (a real directory, not a
// link), then the directory. Each entry is opened relative to the held
// directory and deleted by handle; links are removed, never followed.
[[nodiscard]] Result<void> remove_tree_below_handle(HANDLE directory) {
    Result<std::vector<std::wstring>> names = entries_of(directory);
    if (!names) return std::unexpected(names.error());
    for (const std::wstring& name : *names) {
        Opened child =
            open_at(directory, name,
                    for_deletion(DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS));
        if (!child) {
            if (child.error() == ERROR_FILE_NOT_FOUND) continue;
            return std::unexpected(removal_error(child.error()));
        }
        const std::optional<DWORD> attributes = attributes_of(child->get());
        if (!attributes) return std::unexpected(last_removal_error());
        if (is_directory(*attributes) && (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            if (Result<void> removed = remove_tree_below_handle(child->get()); !removed) return removed;
        } else if (const DWORD error = mark_for_deletion(child->get()); error != ERROR_SUCCESS) {
            return std::unexpected(removal_error(error));
        }
    }
    if (const DWORD error = mark_for_deletion(directory); error != ERROR_SUCCESS)
        return std::unexpected(removal_error(error));
    return {};
}

// Removes everything below `directory` (a real directory, not a link), then
// the directory itself, by name: for runs that do not check links.
[[nodiscard]] Result<void> remove_tree_below(const Path& directory) {
    WIN32_FIND_DATAW entry{};
    const Path pattern = directory / Path(L"*");
    {
        const UniqueFindHandle search(
            ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
        if (!search) return std::unexpected(last_removal_error());
        do {
            if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
            const Path child = directory / Path(entry.cFileName);
            const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (is_directory(entry.dwFileAttributes) && !link) {
                if (Result<void> removed = remove_tree_below(child); !removed) return removed;
            } else if (is_directory(entry.dwFileAttributes)) {
                if (!::RemoveDirectoryW(child.c_str())) return std::unexpected(last_removal_error());
            } else if (!::DeleteFileW(child.c_str())) {
                return std::unexpected(last_removal_error());
            }
        } while (::FindNextFileW(search.get(), &entry));
        if (::GetLastError() != ERROR_NO_MORE_FILES) return std::unexpected(last_removal_error());
    }
    if (!::RemoveDirectoryW(directory.c_str())) return std::unexpected(last_removal_error());
    return {};
}

// The descriptor of a report file the elevated run may create at a located
// name (helper log, result, installer log copy): the protected list of
// created_object_security. None without links checked: the system's own.
[[nodiscard]] Result<UniqueLocalMemory> report_security(const Located& at) {
    if (!at.directory) return UniqueLocalMemory();
    return created_object_descriptor(at.directory.get(), CreatedKind::file);
}

bool is_not_found(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

constexpr WalkOptions kKeepFinalLink{.create_directories = false, .follow_final_link = false};

}  // namespace

Result<void> Win32Platform::check_links(const Path& path, WalkOptions options) const {
    return check_trusted_path(path, options, link_check_);
}

Result<Located> Win32Platform::locate_path(const Path& path, WalkOptions options) const {
    return locate(path, options, link_check_);
}

FileType Win32Platform::file_type(const Path& path) {
    const Result<Located> at = locate_path(path);
    if (!at) return FileType::missing;
    const Opened handle = open_located(*at, FileOpening{.flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS});
    if (!handle) {
        const DWORD error = handle.error();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            return file_type_from_directory_entry(path);
        }
        return FileType::missing;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle->get(), &information)) return FileType::missing;
    return is_directory(information.dwFileAttributes) ? FileType::directory : FileType::file;
}

bool Win32Platform::exists(const Path& path) {
    const Result<Located> at = locate_path(path, kKeepFinalLink);
    if (!at) return false;
    if (!at->directory) return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    const Opened handle = open_located(
        *at, FileOpening{.flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT});
    return handle || !is_not_found(handle.error());
}

Result<std::unique_ptr<File>> Win32Platform::open_for_reading(const Path& path) {
    Result<Located> at = locate_path(path);
    if (!at) return std::unexpected(at.error());
    Result<UniqueHandle> handle = open_disk_file(*at, FileOpening{.access = GENERIC_READ});
    if (!handle) return std::unexpected(handle.error());
    return std::make_unique<Win32File>(std::move(*handle));
}

Result<std::unique_ptr<File>> Win32Platform::create_new_file(const Path& path) {
    Result<Located> at = locate_path(path, kKeepFinalLink);
    if (!at) return std::unexpected(at.error());
    Result<UniqueHandle> handle =
        open_disk_file(*at, FileOpening{.access = GENERIC_WRITE,
                                        .creation = CREATE_NEW,
                                        .flags_and_attributes = FILE_FLAG_OPEN_REPARSE_POINT});
    if (!handle) return std::unexpected(handle.error());
    return std::make_unique<Win32File>(std::move(*handle));
}

Result<void> Win32Platform::write_file(const Path& path, std::span<const std::byte> bytes) {
    return write_report_file(path, bytes, ReportWrite::replace);
}

Result<void> Win32Platform::append_to_file(const Path& path, std::span<const std::byte> bytes) {
    return write_report_file(path, bytes, ReportWrite::append);
}

Result<void> Win32Platform::write_report_file(const Path& path, std::span<const std::byte> bytes,
                                              ReportWrite how) const {
    Result<Located> at = locate_path(path);
    if (!at) return std::unexpected(at.error());
    const Result<UniqueLocalMemory> security = report_security(*at);
    if (!security) return std::unexpected(security.error());
    // Replacing opens, then cuts to length zero, rather than CREATE_ALWAYS:
    // that refuses (access denied) an existing file with the hidden or system
    // attribute, which the file then keeps. Appending opens without
    // FILE_WRITE_DATA: every write goes to the current end of file.
    Result<UniqueHandle> handle =
        open_disk_file(*at, FileOpening{.access = how == ReportWrite::append ? DWORD{FILE_APPEND_DATA} : GENERIC_WRITE,
                                        .creation = OPEN_ALWAYS,
                                        .flags_and_attributes = FILE_ATTRIBUTE_NORMAL,
                                        .security = security->get()});
    if (!handle) return std::unexpected(handle.error());
    if (how == ReportWrite::replace && !::SetEndOfFile(handle->get()))
        return fail(ErrorKind::os_error, last_os_error_text());
    Win32File file(std::move(*handle));
    return write_all(file, bytes);
}

Result<void> Win32Platform::delete_file(const Path& path) {
    Result<Located> at = locate_path(path, kKeepFinalLink);
    if (!at) return std::unexpected(at.error());
    // Deleted by handle: the object opened is the one deleted, a link itself
    // and never what it points to.
    return delete_located(*at, 0);
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
        return fail(ErrorKind::os_error, os_error_text(error));
    }
    const Path parent = path.parent_path();
    if (parent.empty() || parent == path) return fail(ErrorKind::os_error, os_error_text(error));
    if (Result<void> above = create_directories(parent); !above) return above;
    if (::CreateDirectoryW(path.c_str(), nullptr)) return {};
    error = ::GetLastError();
    if (file_type(path) == FileType::directory) return {};
    return fail(ErrorKind::os_error, os_error_text(error));
}

Result<void> Win32Platform::remove_directory_tree(const Path& path) {
    Result<Located> at = locate_path(path, kKeepFinalLink);
    if (!at) return std::unexpected(at.error());
    if (at->directory) {
        // Held without delete sharing while its entries go.
        Opened handle = open_located(
            *at, FileOpening{.access = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             .share = FILE_SHARE_READ | FILE_SHARE_WRITE,
                             .flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT});
        if (!handle) return std::unexpected(removal_error(handle.error()));
        const std::optional<DWORD> attributes = attributes_of(handle->get());
        if (!attributes) return std::unexpected(last_removal_error());
        if (!is_directory(*attributes) || (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A file, or a link (removed, what it points to kept).
            handle->reset();
            return delete_located(*at, is_directory(*attributes) ? FILE_FLAG_BACKUP_SEMANTICS : 0);
        }
        return remove_tree_below_handle(handle->get());
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::unexpected(last_removal_error());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link to a directory: remove the link, keep what it points to.
        const BOOL removed = is_directory(attributes) ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
        if (!removed) return std::unexpected(last_removal_error());
        return {};
    }
    if (!is_directory(attributes)) return delete_file(path);
    return remove_tree_below(path);
}

}  // namespace velmarch::platform::win32

#include "platform/win32/trusted_path.h"

#include "platform/win32/windows_api.h"
// After the Windows headers they build on.
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "platform/trusted_owner.h"
#include "platform/win32/os_error.h"
#include "platform/win32/owners.h"
#include "text/utf.h"

namespace velmarch::platform::win32 {
namespace {

constexpr DWORD kUntrustedMountPoint = 448;    // ERROR_UNTRUSTED_MOUNT_POINT
constexpr DWORD kCannotResolveName = 1921;     // ERROR_CANT_RESOLVE_FILENAME
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kLookAtTheNameItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

bool starts_with(const std::wstring& text, std::wstring_view prefix) { return text.starts_with(prefix); }

// "\\?\C:\x" and "\\?\UNC\server\share\x" in the form the walk splits.
std::wstring without_extended_prefix(std::wstring path) {
    if (starts_with(path, LR"(\\?\UNC\)")) return L"\\" + path.substr(7);
    if (starts_with(path, LR"(\\?\)") || starts_with(path, LR"(\??\)")) return path.substr(4);
    return path;
}

// The form that reaches any length and is not reinterpreted.
std::wstring extended(const std::wstring& path) {
    if (starts_with(path, LR"(\\)")) return LR"(\\?\UNC\)" + path.substr(2);
    return LR"(\\?\)" + path;
}

std::wstring join(const std::wstring& directory, const NativeString& name) {
    if (!directory.empty() && (directory.back() == L'\\' || directory.back() == L'/')) return directory + name;
    return directory + L"\\" + name;
}

[[nodiscard]] Result<std::wstring> full_path(const Path& path) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return std::unexpected(last_os_error_text());
        if (length < buffer.size()) {
            buffer.resize(length);
            return without_extended_prefix(std::move(buffer));
        }
        buffer.resize(length);
    }
}

bool owner_is_trusted(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return false;
    const UniqueLocalMemory descriptor_memory(descriptor);
    wchar_t* text = nullptr;
    if (owner == nullptr || !::ConvertSidToStringSidW(owner, &text)) return false;
    const UniqueLocalMemory text_memory(text);
    const std::wstring_view wide(text);
    return is_trusted_windows_owner(text::utf16_to_utf8_lossy(std::u16string(wide.begin(), wide.end())));
}

// The name and substitute texts of a junction or symbolic link.
struct ReparseHeader {
    ULONG tag;
    USHORT data_length;
    USHORT reserved;
    USHORT substitute_offset;
    USHORT substitute_length;
    USHORT print_offset;
    USHORT print_length;
};
constexpr ULONG kSymbolicLinkIsRelative = 1;  // SYMLINK_FLAG_RELATIVE

[[nodiscard]] Result<Path> read_link_target(HANDLE handle) {
    std::vector<std::byte> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!::DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                           static_cast<DWORD>(buffer.size()), &got, nullptr))
        return std::unexpected(last_os_error_text());
    ReparseHeader header{};
    if (got < sizeof header) return std::unexpected(os_error_text(ERROR_INVALID_REPARSE_DATA));
    std::memcpy(&header, buffer.data(), sizeof header);
    std::size_t names = sizeof header;
    bool relative = false;
    if (header.tag == IO_REPARSE_TAG_SYMLINK) {
        ULONG flags = 0;
        if (got < names + sizeof flags) return std::unexpected(os_error_text(ERROR_INVALID_REPARSE_DATA));
        std::memcpy(&flags, buffer.data() + names, sizeof flags);
        relative = (flags & kSymbolicLinkIsRelative) != 0;
        names += sizeof flags;
    } else if (header.tag != IO_REPARSE_TAG_MOUNT_POINT) {
        // Another kind of link: where it leads is not known here.
        return std::unexpected(untrusted_link_error_text());
    }
    if (names + header.substitute_offset + header.substitute_length > got)
        return std::unexpected(os_error_text(ERROR_INVALID_REPARSE_DATA));
    std::wstring target(header.substitute_length / sizeof(wchar_t), L'\0');
    std::memcpy(target.data(), buffer.data() + names + header.substitute_offset, header.substitute_length);
    if (relative) return Path(target);
    return Path(without_extended_prefix(std::move(target)));
}

class ReparseCursor final : public PathCursor {
public:
    // The walk starts at the root of a full path, such as C:\ or a share; it
    // joins a link's target to the link's directory itself, ".." resolved by
    // text, so nothing here goes up.
    Result<void> start(const Path& root) override {
        std::wstring text = root.native();
        for (wchar_t& c : text)
            if (c == L'/') c = L'\\';
        if (text.empty() || text == L"\\") return std::unexpected(os_error_text(ERROR_PATH_NOT_FOUND));
        here_ = std::move(text);
        return {};
    }

    Result<EntryInfo> inspect(const NativeString& name) override {
        const std::wstring path = extended(join(here_, name));
        UniqueHandle handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, kShareAll, nullptr,
                                          OPEN_EXISTING, kLookAtTheNameItself, nullptr));
        if (!handle && ::GetLastError() == ERROR_ACCESS_DENIED) {
            handle.reset(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                       kLookAtTheNameItself, nullptr));
        }
        if (!handle) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return EntryInfo{EntryKind::missing};
            return from_directory_entry(path, error);
        }
        FILE_ATTRIBUTE_TAG_INFO information{};
        if (!::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &information, sizeof information))
            return std::unexpected(last_os_error_text());
        if (is_link(information.FileAttributes, information.ReparseTag))
            return EntryInfo{EntryKind::link, owner_is_trusted(handle.get())};
        return EntryInfo{kind_of(information.FileAttributes)};
    }

    Result<void> enter(const NativeString& name) override {
        here_ = join(here_, name);
        return {};
    }

    Result<Path> link_target(const NativeString& name) override {
        const std::wstring path = extended(join(here_, name));
        const UniqueHandle handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                                OPEN_EXISTING, kLookAtTheNameItself, nullptr));
        if (!handle) return std::unexpected(last_os_error_text());
        return read_link_target(handle.get());
    }

    Result<void> make_directory(const NativeString& name) override {
        const std::wstring path = extended(join(here_, name));
        if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return std::unexpected(last_os_error_text());
        return {};
    }

    std::string untrusted_link_error() const override { return untrusted_link_error_text(); }
    std::string too_many_links_error() const override { return os_error_text(kCannotResolveName); }
    std::string missing_directory_error() const override { return os_error_text(ERROR_PATH_NOT_FOUND); }
    std::string not_a_directory_error() const override { return os_error_text(ERROR_DIRECTORY); }

private:
    static bool is_link(DWORD attributes, DWORD tag) {
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(tag);
    }
    static EntryKind kind_of(DWORD attributes) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::directory : EntryKind::other;
    }

    // A name that cannot be opened at all (in use without sharing, or no
    // right to it) is read from its directory entry; a link found so has an
    // owner nobody could read, and is not trusted.
    [[nodiscard]] static Result<EntryInfo> from_directory_entry(const std::wstring& path, DWORD open_error) {
        WIN32_FIND_DATAW entry{};
        const UniqueFindHandle search(
            ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
        if (!search) return std::unexpected(os_error_text(open_error));
        if (is_link(entry.dwFileAttributes, entry.dwReserved0)) return EntryInfo{EntryKind::link, false};
        return EntryInfo{kind_of(entry.dwFileAttributes)};
    }

    std::wstring here_;
};

}  // namespace

std::string untrusted_link_error_text() { return os_error_text(kUntrustedMountPoint); }

Result<void> check_trusted_path(const Path& path, WalkOptions options) {
    if (path.empty()) return std::unexpected(os_error_text(ERROR_PATH_NOT_FOUND));
    // A search pattern would name other files in the directory-entry lookups.
    if (path.native().find_first_of(L"*?") != NativeString::npos) return std::unexpected(os_error_text(ERROR_INVALID_NAME));
    Result<std::wstring> full = full_path(path);
    if (!full) return std::unexpected(full.error());
    ReparseCursor cursor;
    Result<NativeString> walked = walk_trusted_path(cursor, Path(*full), options);
    if (!walked) return std::unexpected(walked.error());
    return {};
}

}  // namespace velmarch::platform::win32

#include "kit_security.h"

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/win32/os_error.h"

namespace velmarch::kit {

using platform::win32::last_os_error_text;
using platform::win32::os_error_text;
using HandleOwner = platform::win32::UniqueHandle;
using test_helpers::to_utf8;

namespace {

struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

std::string utf8_path(const std::filesystem::path& path) { return to_utf8(path.native()); }

bool is_sid(PSID sid, WELL_KNOWN_SID_TYPE type) { return sid != nullptr && IsWellKnownSid(sid, type); }

std::string sid_name(PSID sid) {
    if (is_sid(sid, WinLocalSystemSid)) return "SYSTEM";
    if (is_sid(sid, WinBuiltinAdministratorsSid)) return "Administrators";
    LPWSTR text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return "(unreadable SID)";
    const LocalMemory<wchar_t> owner(text);
    return to_utf8(text);
}

struct ReadDescriptor {
    LocalMemory<void> memory;
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

[[nodiscard]] Result<ReadDescriptor> read_descriptor(const std::filesystem::path& path) {
    ReadDescriptor read;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status =
        GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &read.owner, &read.group, &read.dacl, nullptr, &descriptor);
    if (status != ERROR_SUCCESS)
        return fail(ErrorKind::os_error,
                    "cannot read the access list of " + utf8_path(path) + ": " + os_error_text(status));
    read.memory.reset(descriptor);
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &read.control, &revision);
    return read;
}

struct Entry {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    PSID sid;
};

std::vector<Entry> entries_of(PACL dacl) {
    std::vector<Entry> entries;
    if (dacl == nullptr) return entries;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace)) continue;
        const auto* header = static_cast<ACE_HEADER*>(ace);
        Entry entry{header->AceType, header->AceFlags, 0, nullptr};
        // Allowed and denied entries share this layout.
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            entry.mask = allowed->Mask;
            entry.sid = &allowed->SidStart;
        }
        entries.push_back(entry);
    }
    return entries;
}

[[nodiscard]] Result<HandleOwner> own_token(DWORD access) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), access, &token))
        return fail(ErrorKind::os_error, "cannot open this process's token: " + last_os_error_text());
    return HandleOwner(token);
}

bool token_elevated(HANDLE token) {
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
}

[[nodiscard]] Result<HandleOwner> shell_token() {
    const HWND shell = GetShellWindow();
    if (shell == nullptr) return fail(ErrorKind::general, "there is no desktop shell");
    DWORD shell_id = 0;
    GetWindowThreadProcessId(shell, &shell_id);
    const HandleOwner process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_id));
    if (!process.valid()) return fail(ErrorKind::os_error, "cannot open the shell process: " + last_os_error_text());
    HANDLE token = nullptr;
    if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, &token))
        return fail(ErrorKind::os_error, "cannot open the shell's token: " + last_os_error_text());
    const HandleOwner primary(token);
    if (token_elevated(primary.get())) return fail(ErrorKind::general, "the shell runs elevated");
    HANDLE duplicate = nullptr;
    if (!DuplicateTokenEx(primary.get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityImpersonation,
                          TokenImpersonation, &duplicate))
        return fail(ErrorKind::os_error, "cannot duplicate the shell's token: " + last_os_error_text());
    return HandleOwner(duplicate);
}

[[nodiscard]] Result<HandleOwner> restricted_token() {
    auto token = own_token(TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT);
    if (!token) return std::unexpected(token.error());
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
    SID_AND_ATTRIBUTES deny_only{administrators, 0};
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(token->get(), DISABLE_MAX_PRIVILEGE, 1, &deny_only, 0, nullptr, 0, nullptr, &restricted))
        return fail(ErrorKind::os_error, "cannot make a restricted token: " + last_os_error_text());
    HandleOwner owner(restricted);

    BYTE medium[SECURITY_MAX_SID_SIZE];
    size = sizeof(medium);
    CreateWellKnownSid(WinMediumLabelSid, nullptr, medium, &size);
    TOKEN_MANDATORY_LABEL label{{medium, SE_GROUP_INTEGRITY}};
    if (!SetTokenInformation(restricted, TokenIntegrityLevel, &label, sizeof(label) + GetLengthSid(medium)))
        return fail(ErrorKind::os_error, "cannot lower the token to medium integrity: " + last_os_error_text());

    std::vector<BYTE> user(256);
    if (!GetTokenInformation(restricted, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size))
        return fail(ErrorKind::os_error, "cannot read the token's user: " + last_os_error_text());
    TOKEN_OWNER new_owner{reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid};
    if (!SetTokenInformation(restricted, TokenOwner, &new_owner, sizeof(new_owner)))
        return fail(ErrorKind::os_error, "cannot make the user the token's default owner: " + last_os_error_text());
    return owner;
}

// Acts as another user on this thread until destroyed.
class Impersonation {
public:
    explicit Impersonation(HANDLE token) : active_(ImpersonateLoggedOnUser(token) != FALSE) {}
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;
    ~Impersonation() {
        if (active_) RevertToSelf();
    }
    bool active() const { return active_; }

private:
    bool active_;
};

// A mount point's reparse data: header, four name offsets and lengths, then
// the substitute name and the print name, each NUL-terminated.
std::vector<BYTE> mount_point_data(const std::wstring& target) {
    const std::wstring substitute = L"\\??\\" + target;
    const auto substitute_bytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const auto print_bytes = static_cast<USHORT>(target.size() * sizeof(wchar_t));
    const auto names = static_cast<USHORT>(substitute_bytes + sizeof(wchar_t) + print_bytes + sizeof(wchar_t));
    const USHORT data_length = static_cast<USHORT>(4 * sizeof(USHORT) + names);
    std::vector<BYTE> data(8 + data_length, 0);
    const ULONG tag = IO_REPARSE_TAG_MOUNT_POINT;
    const USHORT fields[6] = {
        data_length, 0, 0, substitute_bytes, static_cast<USHORT>(substitute_bytes + sizeof(wchar_t)), print_bytes};
    std::memcpy(data.data(), &tag, sizeof(tag));
    std::memcpy(data.data() + 4, fields, sizeof(fields));
    std::memcpy(data.data() + 16, substitute.c_str(), substitute_bytes + sizeof(wchar_t));
    std::memcpy(data.data() + 16 + substitute_bytes + sizeof(wchar_t), target.c_str(), print_bytes + sizeof(wchar_t));
    return data;
}

}  // namespace

bool running_elevated() {
    auto token = own_token(TOKEN_QUERY);
    return token && token_elevated(token->get());
}

std::filesystem::path windows_temp() {
    std::wstring directory(MAX_PATH + 1, L'\0');
    directory.resize(GetWindowsDirectoryW(directory.data(), static_cast<UINT>(directory.size())));
    return std::filesystem::path(directory) / L"Temp";
}

Result<void> create_directory_with_descriptor(const std::filesystem::path& path, const wchar_t* descriptor) {
    PSECURITY_DESCRIPTOR converted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor, SDDL_REVISION_1, &converted, nullptr))
        return fail(ErrorKind::os_error, "cannot convert " + to_utf8(descriptor) + ": " + last_os_error_text());
    const LocalMemory<void> owner(converted);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), converted, FALSE};
    if (!CreateDirectoryW(path.c_str(), &attributes))
        return fail(ErrorKind::os_error, "cannot create " + utf8_path(path) + ": " + last_os_error_text());
    return {};
}

Result<std::string> descriptor_text(const std::filesystem::path& path) {
    auto read = read_descriptor(path);
    if (!read) return std::unexpected(read.error());
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            read->memory.get(), SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return fail(ErrorKind::os_error, "cannot write the descriptor as text: " + last_os_error_text());
    const LocalMemory<wchar_t> owner(text);
    return to_utf8(text);
}

Result<void> expect_staging_protection(const std::filesystem::path& path) {
    auto read = read_descriptor(path);
    if (!read) return std::unexpected(read.error());
    if (!is_sid(read->owner, WinBuiltinAdministratorsSid))
        return fail(ErrorKind::general, "the owner is " + sid_name(read->owner) + ", not Administrators");
    if (!is_sid(read->group, WinBuiltinAdministratorsSid))
        return fail(ErrorKind::general, "the group is " + sid_name(read->group) + ", not Administrators");
    if ((read->control & SE_DACL_PROTECTED) == 0)
        return fail(ErrorKind::general,
                    "the access list is not protected: it takes entries over from the parent folder");
    const auto entries = entries_of(read->dacl);
    if (entries.size() != 2)
        return fail(ErrorKind::general, "the access list has " + std::to_string(entries.size()) + " entries, not two");
    bool system = false;
    bool administrators = false;
    for (const auto& entry : entries) {
        if (entry.type != ACCESS_ALLOWED_ACE_TYPE || entry.mask != FILE_ALL_ACCESS ||
            entry.flags != (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
            return fail(ErrorKind::general, "an entry for " + sid_name(entry.sid) +
                                                " is not a full-access entry inherited by files and folders only");
        system = system || is_sid(entry.sid, WinLocalSystemSid);
        administrators = administrators || is_sid(entry.sid, WinBuiltinAdministratorsSid);
        if (!is_sid(entry.sid, WinLocalSystemSid) && !is_sid(entry.sid, WinBuiltinAdministratorsSid))
            return fail(ErrorKind::general, "the access list grants access to " + sid_name(entry.sid));
    }
    if (!system || !administrators)
        return fail(ErrorKind::general, "SYSTEM and Administrators do not have one entry each");
    return {};
}

Result<void> expect_administrators_only(const std::filesystem::path& path) {
    auto read = read_descriptor(path);
    if (!read) return std::unexpected(read.error());
    const auto entries = entries_of(read->dacl);
    if (read->dacl == nullptr) return fail(ErrorKind::general, "it has no access list: everyone has access");
    for (const auto& entry : entries) {
        if (entry.type == ACCESS_DENIED_ACE_TYPE) continue;
        if (entry.type != ACCESS_ALLOWED_ACE_TYPE || entry.sid == nullptr)
            return fail(ErrorKind::general, "its access list has an entry of type " + std::to_string(entry.type));
        if (!is_sid(entry.sid, WinLocalSystemSid) && !is_sid(entry.sid, WinBuiltinAdministratorsSid))
            return fail(ErrorKind::general, "its access list grants access to " + sid_name(entry.sid));
    }
    return {};
}

Result<HandleOwner> ordinary_user_token(std::string& origin) {
    auto shell = shell_token();
    if (shell) {
        origin = "the desktop shell's token";
        return shell;
    }
    auto restricted = restricted_token();
    if (!restricted) return fail(ErrorKind::general, shell.error().text + "; " + restricted.error().text);
    origin = "a restricted token (" + shell.error().text + ")";
    return restricted;
}

namespace {

[[nodiscard]] Result<void> set_mount_point(const std::filesystem::path& folder, const std::filesystem::path& target) {
    const HandleOwner directory(CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!directory.valid())
        return fail(ErrorKind::os_error, "cannot open " + utf8_path(folder) + ": " + last_os_error_text());
    auto data = mount_point_data(target.native());
    DWORD returned = 0;
    if (!DeviceIoControl(directory.get(), FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                         nullptr, 0, &returned, nullptr))
        return fail(ErrorKind::os_error, "FSCTL_SET_REPARSE_POINT failed: " + last_os_error_text());
    return {};
}

}  // namespace

Result<void> plant_junction_as(HANDLE token, const std::filesystem::path& link, const std::filesystem::path& target) {
    const Impersonation as_user(token);
    if (!as_user.active()) return fail(ErrorKind::os_error, "cannot act as the ordinary user: " + last_os_error_text());
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return fail(ErrorKind::os_error,
                    "cannot create " + utf8_path(link) + " as the ordinary user: " + last_os_error_text());
    return set_mount_point(link, target);
}

Result<void> turn_into_junction_as(HANDLE token, const std::filesystem::path& folder,
                                   const std::filesystem::path& target) {
    const Impersonation as_user(token);
    if (!as_user.active()) return fail(ErrorKind::os_error, "cannot act as the ordinary user: " + last_os_error_text());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!DeleteFileW(entry.path().c_str()))
            return fail(ErrorKind::os_error,
                        "the ordinary user cannot delete " + utf8_path(entry.path()) + ": " + last_os_error_text());
    }
    if (error)
        return fail(ErrorKind::general, "the ordinary user cannot list " + utf8_path(folder) + ": " + error.message());
    return set_mount_point(folder, target);
}

Result<void> lock_down_as(HANDLE token, const std::filesystem::path& path) {
    PSECURITY_DESCRIPTOR converted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                              &converted, nullptr))
        return fail(ErrorKind::os_error, "cannot convert the locked-down access list: " + last_os_error_text());
    const LocalMemory<void> owner(converted);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(converted, &present, &dacl, &defaulted))
        return fail(ErrorKind::os_error, "cannot read the locked-down access list: " + last_os_error_text());
    const Impersonation as_user(token);
    if (!as_user.active()) return fail(ErrorKind::os_error, "cannot act as the ordinary user: " + last_os_error_text());
    const HandleOwner handle(CreateFileW(path.c_str(), WRITE_DAC,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle)
        return fail(ErrorKind::os_error, "the ordinary user cannot open " + utf8_path(path) +
                                             " to change its access list: " + last_os_error_text());
    const DWORD error =
        SetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS)
        return fail(ErrorKind::os_error, "the ordinary user cannot replace the access list of " + utf8_path(path) +
                                             ": " + os_error_text(error));
    return {};
}

Result<void> swap_in_junction_as(HANDLE token, const std::filesystem::path& folder, const std::filesystem::path& aside,
                                 const std::filesystem::path& target) {
    const Impersonation as_user(token);
    if (!as_user.active()) return fail(ErrorKind::os_error, "cannot act as the ordinary user: " + last_os_error_text());
    if (!MoveFileExW(folder.c_str(), aside.c_str(), 0))
        return fail(ErrorKind::os_error,
                    "the ordinary user cannot move " + utf8_path(folder) + " aside: " + last_os_error_text());
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        const std::string reason = last_os_error_text();
        MoveFileExW(aside.c_str(), folder.c_str(), 0);
        return fail(ErrorKind::general, "cannot create " + utf8_path(folder) + " as the ordinary user: " + reason);
    }
    if (auto set = set_mount_point(folder, target); !set) {
        RemoveDirectoryW(folder.c_str());
        MoveFileExW(aside.c_str(), folder.c_str(), 0);
        return set;
    }
    return {};
}

Result<void> swap_back_as(HANDLE token, const std::filesystem::path& folder, const std::filesystem::path& aside) {
    const Impersonation as_user(token);
    if (!as_user.active()) return fail(ErrorKind::os_error, "cannot act as the ordinary user: " + last_os_error_text());
    if (!RemoveDirectoryW(folder.c_str()))
        return fail(ErrorKind::os_error,
                    "the ordinary user cannot remove the junction " + utf8_path(folder) + ": " + last_os_error_text());
    if (!MoveFileExW(aside.c_str(), folder.c_str(), 0))
        return fail(ErrorKind::os_error,
                    "the ordinary user cannot move " + utf8_path(aside) + " back: " + last_os_error_text());
    return {};
}

Result<void> create_symbolic_link_as(HANDLE token, const std::filesystem::path& link,
                                     const std::filesystem::path& target) {
    const Impersonation as_user(token);
    if (!as_user.active()) return fail(ErrorKind::os_error, "cannot act as the ordinary user: " + last_os_error_text());
    if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return fail(ErrorKind::os_error,
                    "CreateSymbolicLinkW as the ordinary user failed (Developer Mode lets ordinary users "
                    "make symbolic links): " +
                        last_os_error_text());
    // Some systems (Wine) answer success without making a link.
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileExW(link.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return fail(ErrorKind::general, "CreateSymbolicLinkW made nothing at " + utf8_path(link));
    FindClose(search);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || entry.dwReserved0 != IO_REPARSE_TAG_SYMLINK) {
        DeleteFileW(link.c_str());
        return fail(ErrorKind::general, "CreateSymbolicLinkW reported success but made no symbolic link");
    }
    return {};
}

Result<std::string> owner_name(const std::filesystem::path& path) {
    auto read = read_descriptor(path);
    if (!read) return std::unexpected(read.error());
    return sid_name(read->owner);
}

}  // namespace velmarch::kit

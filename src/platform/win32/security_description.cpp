#include "platform/win32/security_description.h"

// After the Windows headers they build on.
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/nt_file.h"
#include "platform/win32/os_error.h"
#include "platform/win32/wide_text.h"
#include "text/utf.h"

namespace velmarch::platform::win32 {
namespace {

std::string sid_text(PSID sid) {
    wchar_t* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) return {};
    const UniqueLocalMemory text_memory(text);
    const std::wstring_view wide(text);
    return text::utf16_to_utf8_lossy(std::u16string(wide.begin(), wide.end()));
}

// ACCESS_ALLOWED_ACE and ACCESS_DENIED_ACE share this layout, and their
// callback forms start with it.
AccessEntry entry_with_sid(const void* ace, AccessEntryKind kind) {
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    AccessEntry entry;
    entry.kind = kind;
    entry.mask = allowed->Mask;
    entry.sid = sid_text(const_cast<DWORD*>(&allowed->SidStart));
    return entry;
}

AccessEntry access_entry(const void* ace) {
    ACE_HEADER header{};
    std::memcpy(&header, ace, sizeof header);
    AccessEntry entry;
    switch (header.AceType) {
        case ACCESS_ALLOWED_ACE_TYPE: entry = entry_with_sid(ace, AccessEntryKind::allow); break;
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
            // A condition is not weighed: the entry counts as if it always
            // applied.
            entry = entry_with_sid(ace, AccessEntryKind::allow);
            entry.conditional = true;
            break;
        case ACCESS_DENIED_ACE_TYPE: entry = entry_with_sid(ace, AccessEntryKind::deny); break;
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: entry.kind = AccessEntryKind::deny; break;
        default: entry.kind = AccessEntryKind::unknown; break;
    }
    entry.inherit_only = (header.AceFlags & INHERIT_ONLY_ACE) != 0;
    entry.to_files = (header.AceFlags & OBJECT_INHERIT_ACE) != 0;
    entry.to_folders = (header.AceFlags & CONTAINER_INHERIT_ACE) != 0;
    entry.no_propagate = (header.AceFlags & NO_PROPAGATE_INHERIT_ACE) != 0;
    return entry;
}

// The owner and primary group this process gives what it creates.
Creator creator() {
    Creator creator;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return creator;
    const UniqueHandle token(raw);
    std::vector<std::byte> buffer(256);
    DWORD needed = 0;
    const auto read = [&](TOKEN_INFORMATION_CLASS what) {
        if (!::GetTokenInformation(token.get(), what, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
            buffer.resize(needed);
            if (!::GetTokenInformation(token.get(), what, buffer.data(), static_cast<DWORD>(buffer.size()), &needed))
                return false;
        }
        return true;
    };
    if (read(TokenOwner)) creator.owner = sid_text(reinterpret_cast<const TOKEN_OWNER*>(buffer.data())->Owner);
    if (read(TokenPrimaryGroup))
        creator.group = sid_text(reinterpret_cast<const TOKEN_PRIMARY_GROUP*>(buffer.data())->PrimaryGroup);
    return creator;
}

// The held folder's descriptor, read from its handle, or from the folder
// opened again for READ_CONTROL where the held handle lacks it.
std::optional<SecurityDescription> folder_security(HANDLE folder) {
    if (std::optional<SecurityDescription> security = security_of(folder)) return security;
    const Opened reading = open_at(
        folder, {},
        FileOpening{
            .access = READ_CONTROL, .flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS, .directory_only = true});
    if (!reading) return std::nullopt;
    return security_of(reading->get());
}

}  // namespace

std::optional<SecurityDescription> security_of(HANDLE handle) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    UniqueLocalMemory descriptor;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                          nullptr, &dacl, nullptr, descriptor.put()) != ERROR_SUCCESS)
        return std::nullopt;
    SecurityDescription security;
    security.owner = sid_text(owner);
    // No access list at all, or a NULL one: everyone has full access.
    if (dacl == nullptr) return security;
    std::vector<AccessEntry> entries;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!::GetAce(dacl, index, &ace)) return std::nullopt;
        entries.push_back(access_entry(ace));
    }
    security.dacl = std::move(entries);
    return security;
}

Result<UniqueLocalMemory> created_object_descriptor(HANDLE parent, CreatedKind kind) {
    // Unreadable, it passes nothing on: a NULL list does not either.
    const SecurityDescription parent_security = folder_security(parent).value_or(SecurityDescription{{}, std::nullopt});
    const std::string text = protected_access_list_text(created_object_security(parent_security, creator(), kind));
    const std::wstring wide = to_wide(text::utf8_to_utf16_lossy(text));
    UniqueLocalMemory memory;
    const BOOL converted =
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), SDDL_REVISION_1, memory.put(), nullptr);
    if (!converted || !memory) return fail(ErrorKind::os_error, last_os_error_text());
    return memory;
}

}  // namespace velmarch::platform::win32

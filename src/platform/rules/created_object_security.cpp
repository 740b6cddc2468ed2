#include "platform/rules/created_object_security.h"

#include <cstdio>
#include <string_view>

#include "platform/rules/trusted_owner.h"

namespace velmarch::platform {
namespace {

using namespace access_right;

constexpr std::string_view kCreatorOwner = "S-1-3-0";
constexpr std::string_view kCreatorGroup = "S-1-3-1";
constexpr std::string_view kOwnerRights = "S-1-3-4";
constexpr std::string_view kSystem = "S-1-5-18";
constexpr std::string_view kAdministrators = "S-1-5-32-544";

// The file system's generic mapping.
constexpr std::uint32_t kFileAllAccess = 0x001F01FF;
constexpr std::uint32_t kFileGenericRead = 0x00120089;
constexpr std::uint32_t kFileGenericWrite = 0x00120116;
constexpr std::uint32_t kFileGenericExecute = 0x001200A0;
constexpr std::uint32_t kGenericBits = generic_all | generic_execute | generic_write | generic_read | maximum_allowed;

constexpr std::uint32_t kLockDownRights = write_dac | write_owner;

// What the mask grants on a file or folder, in specific rights only, as the
// system writes an inherited entry. MAXIMUM_ALLOWED means nothing in an
// entry and is read as everything.
std::uint32_t specific_rights(std::uint32_t mask) {
    std::uint32_t rights = mask & ~kGenericBits;
    if ((mask & (generic_all | maximum_allowed)) != 0) rights |= kFileAllAccess;
    if ((mask & generic_read) != 0) rights |= kFileGenericRead;
    if ((mask & generic_write) != 0) rights |= kFileGenericWrite;
    if ((mask & generic_execute) != 0) rights |= kFileGenericExecute;
    return rights;
}

// The SID an effective entry names once CREATOR OWNER and CREATOR GROUP stand
// for the new object's owner and group.
std::string resolved(const std::string& sid, const Creator& creator) {
    if (sid == kCreatorOwner) return creator.owner;
    if (sid == kCreatorGroup) return creator.group;
    return sid;
}

// Whom the rights of an effective entry go to, for deciding whether they may
// keep WRITE_DAC and WRITE_OWNER: OWNER RIGHTS go to the owner.
bool goes_to_trusted(const std::string& sid, const Creator& creator) {
    return is_trusted_windows_owner(sid == kOwnerRights ? std::string_view(creator.owner) : std::string_view(sid));
}

AccessEntry full_control(std::string_view sid) {
    return AccessEntry{.kind = AccessEntryKind::allow,
                       .sid = std::string(sid),
                       .mask = kFileAllAccess,
                       .to_files = true,
                       .to_folders = true};
}

bool copyable(const AccessEntry& entry) {
    return entry.kind != AccessEntryKind::unknown && !entry.conditional && !entry.sid.empty();
}

}  // namespace

SecurityDescription created_object_security(const SecurityDescription& parent, const Creator& creator,
                                            CreatedKind kind) {
    std::vector<AccessEntry> entries;
    bool any_applies = false;
    if (parent.dacl) {
        for (const AccessEntry& entry : *parent.dacl) {
            if (!copyable(entry)) continue;
            const bool applies = kind == CreatedKind::file ? entry.to_files : entry.to_folders;
            if (applies) {
                any_applies = true;
                AccessEntry effective{
                    .kind = entry.kind, .sid = resolved(entry.sid, creator), .mask = specific_rights(entry.mask)};
                if (effective.kind == AccessEntryKind::allow && !goes_to_trusted(effective.sid, creator))
                    effective.mask &= ~kLockDownRights;
                if (effective.mask != 0 && !effective.sid.empty()) entries.push_back(std::move(effective));
            }
            // What a folder passes on to what is created inside later, as
            // inheritance would: that is someone else's to own, and what the
            // run itself creates there is built here again.
            const bool passes_on =
                kind == CreatedKind::folder && !entry.no_propagate && (entry.to_files || entry.to_folders);
            if (passes_on) {
                AccessEntry inherited = entry;
                inherited.inherit_only = true;
                entries.push_back(std::move(inherited));
            }
        }
    }
    if (!any_applies) {
        entries.push_back(full_control(kSystem));
        entries.push_back(full_control(kAdministrators));
    }
    entries.push_back(
        AccessEntry{.kind = AccessEntryKind::allow, .sid = std::string(kOwnerRights), .mask = read_control});
    return SecurityDescription{creator.owner, std::move(entries)};
}

std::string protected_access_list_text(const SecurityDescription& security) {
    std::string text = "D:P";
    if (!security.dacl) return text;
    for (const AccessEntry& entry : *security.dacl) {
        text += entry.kind == AccessEntryKind::deny ? "(D;" : "(A;";
        if (entry.to_files) text += "OI";
        if (entry.to_folders) text += "CI";
        if (entry.no_propagate) text += "NP";
        if (entry.inherit_only) text += "IO";
        char mask[16];
        std::snprintf(mask, sizeof mask, ";0x%08X;;;", static_cast<unsigned>(entry.mask));
        text += mask;
        text += entry.sid;
        text += ')';
    }
    return text;
}

}  // namespace velmarch::platform

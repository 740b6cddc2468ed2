#include "platform/rules/trusted_access.h"

#include <string_view>

#include "platform/rules/trusted_owner.h"

namespace velmarch::platform {
namespace {

using namespace access_right;

constexpr std::string_view kCreatorOwner = "S-1-3-0";
constexpr std::string_view kOwnerRights = "S-1-3-4";

// FILE_GENERIC_WRITE without its harmless READ_CONTROL and SYNCHRONIZE.
constexpr std::uint32_t kFileGenericWrite = write_data | append_data | write_attributes | write_ea;

// What an entry's mask grants on a file or folder, generic rights mapped as
// the file system maps them. MAXIMUM_ALLOWED has no meaning in an entry and
// counts as everything.
std::uint32_t granted(std::uint32_t mask) {
    if ((mask & (generic_all | maximum_allowed)) != 0) return ~std::uint32_t{0};
    if ((mask & generic_write) != 0) mask |= kFileGenericWrite;
    return mask;
}

// CREATOR OWNER in an effective entry grants nobody anything by itself; it is
// read as the owner, which can only refuse more.
bool stands_for_owner(std::string_view sid) { return sid == kCreatorOwner || sid == kOwnerRights; }

}  // namespace

bool others_may(const SecurityDescription& object, std::uint32_t rights) {
    if (!object.dacl) return true;
    const bool owner_trusted = is_trusted_windows_owner(object.owner);
    bool owner_rights_listed = false;
    for (const AccessEntry& entry : *object.dacl) {
        if (entry.inherit_only || entry.kind == AccessEntryKind::deny) continue;
        if (entry.kind == AccessEntryKind::unknown) return true;
        owner_rights_listed = owner_rights_listed || entry.sid == kOwnerRights;
        if ((granted(entry.mask) & rights) == 0) continue;
        if (stands_for_owner(entry.sid) ? !owner_trusted : !is_trusted_windows_owner(entry.sid)) return true;
    }
    // The owner may always read and change the access list, unless an OWNER
    // RIGHTS entry says what the owner may do instead.
    const bool implicit = !owner_rights_listed && (rights & (write_dac | read_control)) != 0;
    return implicit && !owner_trusted;
}

bool is_trusted_windows_link(const SecurityDescription& link, const SecurityDescription& parent) {
    return is_trusted_windows_owner(link.owner) && !others_may(link, kRightsThatChangeALink) &&
           !others_may(parent, kRightsThatReplaceAnEntry);
}

}  // namespace velmarch::platform

#pragma once
// Whether an ordinary user could have made a Windows link what it is. The
// owner says who created the link, not who may change it: an administrator's
// folder in a user's profile inherits the profile's access list, and its user
// may empty it and make it a mount point. So a link is trusted only when its
// owner is trusted, its access list lets nobody else change it, and its
// parent folder lets nobody else delete or replace it.
//
// Pure logic over a plain description of a security descriptor, so that the
// rule is tested everywhere; the Windows side reads the descriptor and
// converts it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmarch::platform {

// Access rights as Windows numbers them.
namespace access_right {
inline constexpr std::uint32_t write_data = 0x0002;        // FILE_WRITE_DATA, FILE_ADD_FILE
inline constexpr std::uint32_t append_data = 0x0004;       // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t write_ea = 0x0010;          // FILE_WRITE_EA
inline constexpr std::uint32_t delete_child = 0x0040;      // FILE_DELETE_CHILD
inline constexpr std::uint32_t write_attributes = 0x0100;  // FILE_WRITE_ATTRIBUTES
inline constexpr std::uint32_t delete_ = 0x00010000;       // DELETE
inline constexpr std::uint32_t read_control = 0x00020000;  // READ_CONTROL
inline constexpr std::uint32_t write_dac = 0x00040000;     // WRITE_DAC
inline constexpr std::uint32_t write_owner = 0x00080000;   // WRITE_OWNER
inline constexpr std::uint32_t maximum_allowed = 0x02000000;
inline constexpr std::uint32_t generic_all = 0x10000000;
inline constexpr std::uint32_t generic_execute = 0x20000000;
inline constexpr std::uint32_t generic_write = 0x40000000;
inline constexpr std::uint32_t generic_read = 0x80000000;
}  // namespace access_right

enum class AccessEntryKind {
    allow,
    deny,
    // An entry that may allow something in a way not described here (object
    // or conditional entries of an unknown layout): counts as allowing
    // everything to someone untrusted.
    unknown,
};

struct AccessEntry {
    AccessEntryKind kind = AccessEntryKind::allow;
    std::string sid;  // string form, "S-1-5-32-545"
    std::uint32_t mask = 0;
    // Only passed on to children; says nothing about the object itself.
    bool inherit_only = false;
    // Passed on to files and to folders created inside, and (no_propagate)
    // to those only, not further down.
    bool to_files = false;
    bool to_folders = false;
    bool no_propagate = false;
    // Applies only under a condition (a callback entry): the link rule counts
    // it as always applying.
    bool conditional = false;
};

struct SecurityDescription {
    std::string owner;  // string form; empty when unknown
    // Nothing: a NULL access list, which grants everyone full access.
    std::optional<std::vector<AccessEntry>> dacl;
};

// Someone other than Administrators, LocalSystem or TrustedInstaller may be
// granted one of `rights` on the object: by an allow entry (generic rights
// counted as what they map to), through the owner's implicit rights (WRITE_DAC,
// unless OWNER RIGHTS entries say otherwise), or by a NULL access list.
// Deny entries are not weighed: whether one stops a given user depends on
// order and group membership, and ignoring them can only refuse more.
bool others_may(const SecurityDescription& object, std::uint32_t rights);

// The rights that change a link: its data (the reparse point itself), its
// attributes and extended attributes, its deletion, its access list and its
// owner.
inline constexpr std::uint32_t kRightsThatChangeALink =
    access_right::write_data | access_right::append_data | access_right::write_ea | access_right::write_attributes |
    access_right::delete_ | access_right::write_dac | access_right::write_owner;

// The rights on a folder that delete or replace any entry in it, or let
// their holder grant that to themselves.
inline constexpr std::uint32_t kRightsThatReplaceAnEntry =
    access_right::delete_child | access_right::write_dac | access_right::write_owner;

// The whole rule: the link's owner is trusted, nobody else may change it, and
// nobody else may delete or replace it through its parent.
bool is_trusted_windows_link(const SecurityDescription& link, const SecurityDescription& parent);

}  // namespace velmarch::platform

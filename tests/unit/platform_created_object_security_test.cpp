// What an elevated run gives the folders and report files it creates on a
// caller-named path, weighed as an attacker would: the folders and the log
// built for typical parents, then every change their ordinary user can still
// make, and the link rule asked again about each link made of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/rules/created_object_security.h"
#include "platform/rules/trusted_access.h"
#include "support/case_name.h"

namespace velmarch::platform {
namespace {

namespace right = access_right;

constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kAuthenticatedUsers = "S-1-5-11";
constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kInteractive = "S-1-5-4";
constexpr const char* kUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const char* kUserGroup = "S-1-5-21-1004336348-1177238915-682003330-513";
constexpr const char* kCreatorOwner = "S-1-3-0";
constexpr const char* kOwnerRights = "S-1-3-4";

constexpr std::uint32_t kFullControl = 0x001F01FF;
constexpr std::uint32_t kModify = 0x001301BF;
constexpr std::uint32_t kReadAndExecute = 0x001200A9;
constexpr std::uint32_t kEverything = ~std::uint32_t{0};
constexpr std::uint32_t kLockDown = right::write_dac | right::write_owner;
// What a user needs of their report: read it, write and append to it, delete it.
constexpr std::uint32_t kReportRights =
    0x0001 | right::write_data | right::append_data | right::read_control | right::delete_;

AccessEntry allow(std::string sid, std::uint32_t mask, bool to_children = true) {
    return AccessEntry{.sid = std::move(sid), .mask = mask, .to_files = to_children, .to_folders = to_children};
}
AccessEntry passed_on_only(AccessEntry entry) {
    entry.inherit_only = true;
    return entry;
}
AccessEntry this_folder_only(AccessEntry entry) {
    entry.to_files = entry.to_folders = false;
    return entry;
}

// The ordinary user and the groups of their token.
const std::vector<std::string> kUserToken{kUser, kUsers, kAuthenticatedUsers, kEveryone, kInteractive};
bool is_users(const std::string& sid) { return std::ranges::find(kUserToken, sid) != kUserToken.end(); }

std::uint32_t mapped(std::uint32_t mask) {
    if ((mask & (right::generic_all | right::maximum_allowed)) != 0) return kEverything;
    if ((mask & right::generic_write) != 0) mask |= 0x00120116;
    if ((mask & right::generic_read) != 0) mask |= 0x00120089;
    return mask;
}

// The rights the ordinary user holds on an object, read without the rule
// under test: every allow entry naming them or a group of theirs, OWNER
// RIGHTS and the owner's implicit READ_CONTROL and WRITE_DAC when they own it.
// Deny entries are not weighed (which can only grant them more).
std::uint32_t user_rights(const SecurityDescription& object) {
    if (!object.dacl) return kEverything;
    const bool owner = is_users(object.owner);
    bool owner_rights_listed = false;
    std::uint32_t rights = 0;
    for (const AccessEntry& entry : *object.dacl) {
        if (entry.inherit_only || entry.kind == AccessEntryKind::deny) continue;
        if (entry.kind == AccessEntryKind::unknown) return kEverything;
        if (entry.sid == kOwnerRights) {
            owner_rights_listed = true;
            if (owner) rights |= mapped(entry.mask);
        } else if (is_users(entry.sid)) {
            rights |= mapped(entry.mask);
        }
    }
    if (owner && !owner_rights_listed) rights |= right::read_control | right::write_dac;
    return rights;
}

// The access list an attacker puts on: administrators only, protected.
std::vector<AccessEntry> locked_down() { return {allow(kSystem, kFullControl), allow(kAdministrators, kFullControl)}; }

bool may_make_a_link(const SecurityDescription& object) {
    // Setting a reparse point takes one of these.
    return (user_rights(object) & (right::write_data | right::write_attributes)) != 0;
}

// A state the user can bring an object to, and whether on the way there they
// could make it a link (first the link, then the lock-down).
struct Reached {
    SecurityDescription security;
    bool link_made;
};

// Every descriptor the user can bring `object` to, in a folder described by
// `parent`: taking ownership with WRITE_OWNER, any access list with WRITE_DAC
// (as owner or granted), and, with DELETE on it or DELETE_CHILD on the
// parent, a replacement of their own (they may then move a run-made object
// there, which is also covered by taking the run-made one as the link).
std::vector<Reached> reachable(const SecurityDescription& object, const SecurityDescription& parent) {
    std::vector<Reached> seen{{object, may_make_a_link(object)}};
    for (std::size_t next = 0; next < seen.size(); ++next) {
        const Reached now = seen[next];
        const std::uint32_t rights = user_rights(now.security);
        std::vector<SecurityDescription> more;
        if ((rights & right::write_owner) != 0) more.push_back({kUser, now.security.dacl});
        if ((rights & right::write_dac) != 0) {
            more.push_back({now.security.owner, locked_down()});
            more.push_back({now.security.owner, std::vector<AccessEntry>{}});
        }
        if ((rights & right::delete_) != 0 || (user_rights(parent) & right::delete_child) != 0)
            more.push_back({kUser, std::vector{allow(kUser, kFullControl)}});
        for (SecurityDescription& candidate : more) {
            const bool link_made = now.link_made || may_make_a_link(candidate);
            const bool known = std::ranges::any_of(seen, [&](const Reached& s) {
                return s.link_made == link_made && s.security.owner == candidate.owner &&
                       s.security.dacl.has_value() == candidate.dacl.has_value() &&
                       protected_access_list_text(s.security) == protected_access_list_text(candidate);
            });
            if (!known) seen.push_back({std::move(candidate), link_made});
        }
    }
    return seen;
}

struct ParentCase {
    const char* name;
    SecurityDescription parent;
    Creator creator;
    // The parent passes the ordinary user the rights to their reports.
    bool user_keeps_reports;
};

void PrintTo(const ParentCase& c, std::ostream* out) { *out << c.name; }

const Creator kElevatedAdministrator{kAdministrators, kUserGroup};
// "Default owner for objects created by members of the Administrators
// group: object creator", with the user's own account elevated.
const Creator kOwnerIsTheUser{kUser, kUserGroup};

// A profile folder such as AppData\Local: the user owns it and has full
// control, CREATOR OWNER full control of what is created inside.
SecurityDescription profile_folder() {
    return {kUser, std::vector{allow(kSystem, kFullControl), allow(kAdministrators, kFullControl),
                               allow(kUser, kFullControl), passed_on_only(allow(kCreatorOwner, kFullControl))}};
}

std::vector<ParentCase> parent_cases() {
    return {
        {"ProfileFolderWithCreatorOwner", profile_folder(), kElevatedAdministrator, true},
        {"ProfileFolderOwnerIsTheUser", profile_folder(), kOwnerIsTheUser, true},
        {"InheritedUsersModify",
         {kAdministrators,
          std::vector{allow(kSystem, kFullControl), allow(kAdministrators, kFullControl), allow(kUsers, kModify),
                      passed_on_only(allow(kCreatorOwner, right::generic_all))}},
         kElevatedAdministrator,
         true},
        {"GenericAllToEveryone",
         {kUser, std::vector{allow(kEveryone, right::generic_all), allow(kCreatorOwner, right::generic_all)}},
         kElevatedAdministrator,
         true},
        {"NullAccessList", {kUser, std::nullopt}, kElevatedAdministrator, false},
        {"NothingPassedOn",
         {kUser,
          std::vector{this_folder_only(allow(kUser, kFullControl)), this_folder_only(allow(kSystem, kFullControl))}},
         kElevatedAdministrator,
         false},
        {"EmptyAccessList", {kUser, std::vector<AccessEntry>{}}, kElevatedAdministrator, false},
        // Like the root of a drive: Authenticated Users may add folders, and
        // modify what they create.
        {"AdministratorOwnedParent",
         {kAdministrators,
          std::vector{allow(kSystem, kFullControl), allow(kAdministrators, kFullControl),
                      allow(kUsers, kReadAndExecute), this_folder_only(allow(kAuthenticatedUsers, right::append_data)),
                      passed_on_only(allow(kAuthenticatedUsers, kModify))}},
         kElevatedAdministrator,
         true},
    };
}

// What the run builds on the way to a helper log below `parent`:
// <parent>\Velmarch\Updates\helper.log.
struct Built {
    SecurityDescription velmarch;
    SecurityDescription updates;
    SecurityDescription log;
};
Built build(const ParentCase& c) {
    Built built;
    built.velmarch = created_object_security(c.parent, c.creator, CreatedKind::folder);
    built.updates = created_object_security(built.velmarch, c.creator, CreatedKind::folder);
    built.log = created_object_security(built.updates, c.creator, CreatedKind::file);
    return built;
}

class CreatedInAUsersPlace : public ::testing::TestWithParam<ParentCase> {};

TEST_P(CreatedInAUsersPlace, NoChangeTheUserCanMakeTurnsItIntoATrustedLink) {
    const ParentCase& c = GetParam();
    const Built built = build(c);
    struct Pair {
        const char* link_name;
        const SecurityDescription& link;
        const SecurityDescription& parent;
    };
    // Each link the user could make of what the run created, in the folder
    // it is in: the created folders made junctions, the created log file
    // made (or moved in beside) a link.
    const Pair pairs[] = {{"Velmarch", built.velmarch, c.parent},
                          {"Updates", built.updates, built.velmarch},
                          {"helper.log", built.log, built.updates}};
    int links_made = 0;
    for (const Pair& pair : pairs) {
        for (const Reached& parent : reachable(pair.parent, SecurityDescription{kUser, std::nullopt})) {
            for (const Reached& link : reachable(pair.link, parent.security)) {
                // What the user could not make a link stays what it is.
                if (!link.link_made) continue;
                ++links_made;
                EXPECT_FALSE(is_trusted_windows_link(link.security, parent.security))
                    << pair.link_name << " owned by " << link.security.owner << ", "
                    << protected_access_list_text(link.security) << ", in a folder owned by " << parent.security.owner
                    << ", " << protected_access_list_text(parent.security);
            }
        }
    }
    // At least the user's own replacement of each.
    EXPECT_GE(links_made, 3);
}

TEST_P(CreatedInAUsersPlace, OnlyTheSystemsAccountsMayChangeTheAccessListOrOwner) {
    const Built built = build(GetParam());
    for (const SecurityDescription* object : {&built.velmarch, &built.updates, &built.log}) {
        EXPECT_EQ(user_rights(*object) & kLockDown, 0u);
        EXPECT_FALSE(others_may(*object, kLockDown));
    }
}

// What the parent passes the user, they keep (but the two rights); where it
// passes them nothing, the reports are the administrators', as the system
// would have made them.
TEST_P(CreatedInAUsersPlace, TheUserKeepsWhatTheParentGaveThemOfTheirReports) {
    const ParentCase& c = GetParam();
    const Built built = build(c);
    for (const SecurityDescription* object : {&built.velmarch, &built.updates, &built.log})
        EXPECT_EQ(user_rights(*object) & kReportRights, c.user_keeps_reports ? kReportRights : 0u)
            << protected_access_list_text(*object);
}

INSTANTIATE_TEST_SUITE_P(Windows, CreatedInAUsersPlace, ::testing::ValuesIn(parent_cases()), testing::CaseName());

// Where the parent passes nothing on, the system would have used the
// elevated token's own list; the run's reports are then for administrators.
TEST(CreatedObjectSecurity, NothingPassedOnGivesTheSystemsAccountsFullControl) {
    const SecurityDescription built =
        created_object_security({kUser, std::nullopt}, kElevatedAdministrator, CreatedKind::file);
    EXPECT_EQ(built.owner, kAdministrators);
    EXPECT_EQ(protected_access_list_text(built),
              "D:P(A;OICI;0x001F01FF;;;S-1-5-18)(A;OICI;0x001F01FF;;;S-1-5-32-544)(A;;0x00020000;;;S-1-3-4)");
}

// A profile folder's entries, as the new folder carries them: effective
// entries with the user's WRITE_DAC and WRITE_OWNER taken, CREATOR OWNER
// standing for Administrators, and what it passes on unchanged.
TEST(CreatedObjectSecurity, ProfileFolderGivesThisList) {
    const SecurityDescription built =
        created_object_security(profile_folder(), kElevatedAdministrator, CreatedKind::folder);
    EXPECT_EQ(protected_access_list_text(built),
              "D:P"
              "(A;;0x001F01FF;;;S-1-5-18)(A;OICIIO;0x001F01FF;;;S-1-5-18)"
              "(A;;0x001F01FF;;;S-1-5-32-544)(A;OICIIO;0x001F01FF;;;S-1-5-32-544)"
              "(A;;0x001301FF;;;S-1-5-21-1004336348-1177238915-682003330-1001)"
              "(A;OICIIO;0x001F01FF;;;S-1-5-21-1004336348-1177238915-682003330-1001)"
              "(A;;0x001F01FF;;;S-1-5-32-544)(A;OICIIO;0x001F01FF;;;S-1-3-0)"
              "(A;;0x00020000;;;S-1-3-4)");
}

// A file takes only what is passed on to files; a folder what is passed on
// to folders, and passes on further only what does not stop at it.
TEST(CreatedObjectSecurity, FollowsInheritanceByKind) {
    AccessEntry to_files = allow(kUsers, kModify);
    to_files.to_folders = false;
    AccessEntry stops_below = allow(kEveryone, kReadAndExecute);
    stops_below.no_propagate = true;
    AccessEntry denied{.kind = AccessEntryKind::deny, .sid = kUser, .mask = right::delete_, .to_files = true};
    AccessEntry conditional = allow(kAuthenticatedUsers, kModify);
    conditional.conditional = true;
    const SecurityDescription parent{kUser, std::vector{denied, to_files, stops_below, conditional}};

    EXPECT_EQ(protected_access_list_text(created_object_security(parent, kElevatedAdministrator, CreatedKind::file)),
              "D:P(D;;0x00010000;;;S-1-5-21-1004336348-1177238915-682003330-1001)(A;;0x001301BF;;;S-1-5-32-545)"
              "(A;;0x001200A9;;;S-1-1-0)(A;;0x00020000;;;S-1-3-4)");
    EXPECT_EQ(protected_access_list_text(created_object_security(parent, kElevatedAdministrator, CreatedKind::folder)),
              "D:P(D;OIIO;0x00010000;;;S-1-5-21-1004336348-1177238915-682003330-1001)(A;OIIO;0x001301BF;;;S-1-5-32-545)"
              "(A;;0x001200A9;;;S-1-1-0)(A;;0x00020000;;;S-1-3-4)");
}

}  // namespace
}  // namespace velmarch::platform

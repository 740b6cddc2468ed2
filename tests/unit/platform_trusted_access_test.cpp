// Whether an ordinary user could have made a Windows link what it is: the
// rule over owners and access lists, and the walk over an in-memory tree
// whose entries carry them.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/rules/trusted_access.h"
#include "platform/rules/trusted_walk.h"
#include "support/scripted_cursor.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

using testing::as_path;
using testing::generic_utf8;

namespace right = access_right;

constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kAuthenticatedUsers = "S-1-5-11";
constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const char* kCreatorOwner = "S-1-3-0";
constexpr const char* kOwnerRights = "S-1-3-4";

constexpr std::uint32_t kFullControl = 0x001F01FF;  // FILE_ALL_ACCESS
constexpr std::uint32_t kReadAndExecute = 0x001200A9;
constexpr std::uint32_t kModify = 0x001301BF;

AccessEntry allow(std::string sid, std::uint32_t mask) {
    return {.kind = AccessEntryKind::allow, .sid = std::move(sid), .mask = mask};
}
AccessEntry deny(std::string sid, std::uint32_t mask) {
    return {.kind = AccessEntryKind::deny, .sid = std::move(sid), .mask = mask};
}
AccessEntry inherit_only(AccessEntry entry) {
    entry.inherit_only = true;
    return entry;
}

// What an administrator's folder gets by default: full control for the
// system's accounts, reading for Users.
std::vector<AccessEntry> tight() {
    return {allow(kSystem, kFullControl), allow(kAdministrators, kFullControl), allow(kUsers, kReadAndExecute)};
}
std::vector<AccessEntry> plus(std::vector<AccessEntry> entries, AccessEntry more) {
    entries.push_back(std::move(more));
    return entries;
}

SecurityDescription described(std::string owner, std::optional<std::vector<AccessEntry>> dacl) {
    return SecurityDescription{std::move(owner), std::move(dacl)};
}

struct LinkRuleCase {
    const char* name;
    SecurityDescription link;
    SecurityDescription parent;
    bool trusted;
};

void PrintTo(const LinkRuleCase& c, std::ostream* out) { *out << c.name; }

class LinkRule : public ::testing::TestWithParam<LinkRuleCase> {};

TEST_P(LinkRule, DecidesWhetherOnlyTheSystemCouldHaveMadeTheLink) {
    EXPECT_EQ(is_trusted_windows_link(GetParam().link, GetParam().parent), GetParam().trusted);
}

const SecurityDescription kTightFolder = described(kSystem, tight());

INSTANTIATE_TEST_SUITE_P(
    Windows, LinkRule,
    ::testing::Values(
        LinkRuleCase{"TightListTrustedOwner", described(kAdministrators, tight()), kTightFolder, true},
        LinkRuleCase{"TrustedInstallerOwnsAndAloneMayChange",
                     described(kTrustedInstaller, std::vector{allow(kTrustedInstaller, kFullControl)}), kTightFolder,
                     true},
        LinkRuleCase{"EmptyListNobodyButTheTrustedOwner", described(kAdministrators, std::vector<AccessEntry>{}),
                     kTightFolder, true},
        LinkRuleCase{"UntrustedOwnerTightList", described(kUser, tight()), kTightFolder, false},
        LinkRuleCase{"UnknownOwner", described("", tight()), kTightFolder, false},
        // The fault: an administrator's folder in a profile, full control
        // inherited by its user, emptied and made a mount point.
        LinkRuleCase{"TrustedOwnerButWritableByTheUser",
                     described(kAdministrators, plus(tight(), allow(kUser, kFullControl))), kTightFolder, false},
        LinkRuleCase{"TrustedOwnerButUsersMayModify", described(kAdministrators, plus(tight(), allow(kUsers, kModify))),
                     kTightFolder, false},
        LinkRuleCase{"NullAccessList", described(kAdministrators, std::nullopt), kTightFolder, false},
        LinkRuleCase{"GenericAllToEveryone", described(kSystem, plus(tight(), allow(kEveryone, right::generic_all))),
                     kTightFolder, false},
        LinkRuleCase{"GenericWriteToAuthenticatedUsers",
                     described(kSystem, plus(tight(), allow(kAuthenticatedUsers, right::generic_write))), kTightFolder,
                     false},
        LinkRuleCase{"GenericReadAndExecuteToEveryone",
                     described(kSystem, plus(tight(), allow(kEveryone, right::generic_read | right::generic_execute))),
                     kTightFolder, true},
        LinkRuleCase{"MaximumAllowedCountsAsEverything",
                     described(kSystem, plus(tight(), allow(kUsers, right::maximum_allowed))), kTightFolder, false},
        LinkRuleCase{"EachChangingRightAloneIsEnough_WriteAttributes",
                     described(kSystem, plus(tight(), allow(kUser, right::write_attributes))), kTightFolder, false},
        LinkRuleCase{"EachChangingRightAloneIsEnough_WriteDac",
                     described(kSystem, plus(tight(), allow(kUser, right::write_dac))), kTightFolder, false},
        LinkRuleCase{"EachChangingRightAloneIsEnough_WriteOwner",
                     described(kSystem, plus(tight(), allow(kUser, right::write_owner))), kTightFolder, false},
        LinkRuleCase{"EachChangingRightAloneIsEnough_Delete",
                     described(kSystem, plus(tight(), allow(kUser, right::delete_))), kTightFolder, false},
        LinkRuleCase{"EachChangingRightAloneIsEnough_WriteEa",
                     described(kSystem, plus(tight(), allow(kUser, right::write_ea))), kTightFolder, false},
        LinkRuleCase{"EachChangingRightAloneIsEnough_AppendData",
                     described(kSystem, plus(tight(), allow(kUser, right::append_data))), kTightFolder, false},
        // An entry only for what is created inside says nothing about the
        // link itself.
        LinkRuleCase{"InheritOnlyEntryIgnored",
                     described(kSystem, plus(tight(), inherit_only(allow(kUser, kFullControl)))), kTightFolder, true},
        // Deny entries never make a link trusted, and alone they allow
        // nobody anything.
        LinkRuleCase{"DenyOnlyList", described(kAdministrators, std::vector{deny(kEveryone, kFullControl)}),
                     kTightFolder, true},
        LinkRuleCase{
            "DenyEntriesAreNotWeighed",
            described(kAdministrators, plus(std::vector{deny(kUser, kFullControl)}, allow(kUser, kFullControl))),
            kTightFolder, false},
        LinkRuleCase{"UnknownEntryKind",
                     described(kSystem, plus(tight(), AccessEntry{.kind = AccessEntryKind::unknown, .sid = kSystem})),
                     kTightFolder, false},
        // CREATOR OWNER and OWNER RIGHTS stand for the owner.
        LinkRuleCase{"CreatorOwnerWithTrustedOwner",
                     described(kAdministrators, plus(tight(), allow(kCreatorOwner, kFullControl))), kTightFolder, true},
        // The parent: whoever may delete any entry, or give themselves that
        // right, could put another link in its place.
        LinkRuleCase{"ParentLetsUsersDeleteChildren", described(kAdministrators, tight()),
                     described(kSystem, plus(tight(), allow(kUsers, right::delete_child))), false},
        LinkRuleCase{"ParentFullControlForTheUser", described(kAdministrators, tight()),
                     described(kSystem, plus(tight(), allow(kUser, kFullControl))), false},
        LinkRuleCase{"ParentWriteDacForTheUser", described(kAdministrators, tight()),
                     described(kSystem, plus(tight(), allow(kUser, right::write_dac))), false},
        LinkRuleCase{"ParentOwnedByTheUser", described(kAdministrators, tight()), described(kUser, tight()), false},
        LinkRuleCase{"ParentNullAccessList", described(kAdministrators, tight()), described(kSystem, std::nullopt),
                     false},
        // Creating entries is not replacing one: the root of C: lets
        // Authenticated Users add folders.
        LinkRuleCase{"ParentLetsUsersAddEntriesOnly", described(kAdministrators, tight()),
                     described(kTrustedInstaller, plus(plus(tight(), allow(kAuthenticatedUsers, right::append_data)),
                                                       inherit_only(allow(kAuthenticatedUsers, kModify)))),
                     true},
        LinkRuleCase{"ParentOwnedByTheUserButOwnerRightsReadOnly", described(kAdministrators, tight()),
                     described(kUser, plus(tight(), allow(kOwnerRights, right::read_control))), true},
        LinkRuleCase{"ParentOwnedByTheUserOwnerRightsMayWriteDac", described(kAdministrators, tight()),
                     described(kUser, plus(tight(), allow(kOwnerRights, right::write_dac))), false}),
    [](const auto& test) { return std::string(test.param.name); });

// Keys are generic paths ("/a/b"); every entry carries an owner and an access
// list, and a link is judged with its parent's.
struct SecuredNode {
    EntryKind kind = EntryKind::directory;
    SecurityDescription security = described(kSystem, tight());
    std::string target;  // links only
};

using SecuredTreeCursor = testing::ScriptedCursor<SecuredNode>;

// A profile its user fully controls; the folder above the helper log was
// made there by an elevated run (owner Administrators, the profile's access
// list inherited) and the user has made it a junction into System32.
class LinkAccessWalk : public ::testing::Test {
protected:
    LinkAccessWalk() {
        const auto profile = described(kSystem, plus(tight(), allow(kUser, kFullControl)));
        cursor.tree["/Users"] = SecuredNode{};
        cursor.tree["/Users/ann"] = SecuredNode{EntryKind::directory, profile, ""};
        cursor.tree["/Users/ann/Logs"] =
            SecuredNode{EntryKind::link, described(kAdministrators, plus(tight(), allow(kUser, kFullControl))),
                        "/Windows/System32"};
        cursor.tree["/Windows"] = SecuredNode{EntryKind::directory, described(kTrustedInstaller, tight()), ""};
        cursor.tree["/Windows/System32"] = cursor.tree["/Windows"];
        cursor.tree["/ProgramData"] = SecuredNode{};
        cursor.tree["/ProgramData/Logs"] =
            SecuredNode{EntryKind::link, described(kAdministrators, tight()), "/Windows/System32"};
    }

    SecuredTreeCursor cursor{[](const SecuredNode& link, const SecuredNode& parent) {
        return is_trusted_windows_link(link.security, parent.security);
    }};
};

TEST_F(LinkAccessWalk, AdministratorsFolderTheUserTurnedIntoAJunctionIsRefused) {
    auto name = walk_trusted_path(cursor, as_path("/Users/ann/Logs/helper.log"));
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "untrusted link");
    EXPECT_EQ(cursor.here, "/Users/ann");
}

TEST_F(LinkAccessWalk, TightLinkInATightFolderIsFollowed) {
    auto name = walk_trusted_path(cursor, as_path("/ProgramData/Logs/helper.log"));
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("helper.log"));
    EXPECT_EQ(cursor.here, "/Windows/System32");
}

// The same tight link, in a folder where users may delete entries: one of
// them could have put it there in place of another.
TEST_F(LinkAccessWalk, TightLinkInAFolderUsersMayDeleteFromIsRefused) {
    cursor.tree["/ProgramData"].security = described(kSystem, plus(tight(), allow(kUsers, right::delete_child)));
    auto name = walk_trusted_path(cursor, as_path("/ProgramData/Logs/helper.log"));
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "untrusted link");
}

}  // namespace
}  // namespace velmarch::platform

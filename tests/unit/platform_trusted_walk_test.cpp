// The walk an elevated run makes through a caller-named path, over a small
// in-memory tree whose entries carry Windows owners: the decision logic that
// both platforms share, with the Windows owner rule.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rules/trusted_owner.h"
#include "platform/rules/trusted_walk.h"
#include "support/scripted_cursor.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

using testing::as_path;
using testing::generic_utf8;

constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const char* kUser = "S-1-5-21-1004336348-1177238915-682003330-1001";

struct Node {
    EntryKind kind = EntryKind::directory;
    std::string owner = kSystem;
    std::string target;  // links only
};

using TreeCursor = testing::ScriptedCursor<Node>;

Node directory(std::string owner = kSystem) { return Node{EntryKind::directory, std::move(owner), ""}; }
Node file(std::string owner = kUser) { return Node{EntryKind::other, std::move(owner), ""}; }
Node link(std::string owner, std::string target) { return Node{EntryKind::link, std::move(owner), std::move(target)}; }

// The tree every case starts from: a user's profile, a protected folder with
// a file only administrators may touch, and links of both kinds.
class TrustedWalk : public ::testing::Test {
protected:
    TrustedWalk() {
        cursor.add("/Users", directory());
        cursor.add("/Users/ann", directory(kUser));
        cursor.add("/Users/ann/Logs", directory(kUser));
        cursor.add("/Users/ann/Logs/helper.log", file());
        cursor.add("/Windows", directory(kTrustedInstaller));
        cursor.add("/Windows/System32", directory(kTrustedInstaller));
        cursor.add("/Windows/System32/config.sys", file(kSystem));
        cursor.add("/ProgramData", directory());
        cursor.add("/ProgramData/Velmarch", directory(kAdministrators));
    }

    Result<NativeString> walk(const std::string& path, WalkOptions options = {}) {
        return walk_trusted_path(cursor, as_path(path), options);
    }

    TreeCursor cursor{[](const Node& link, const Node&) { return is_trusted_windows_owner(link.owner); }};
};

struct LinkCase {
    const char* name;
    const char* owner;
    bool followed;
};

void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.name; }

class LinkOwners : public TrustedWalk, public ::testing::WithParamInterface<LinkCase> {};

// A junction planted in the user's folder, pointing at System32: only the
// system's own accounts may have made one that is followed.
TEST_P(LinkOwners, DecideWhetherALinkAboveTheFileIsFollowed) {
    cursor.add("/Users/ann/Logs/redirect", link(GetParam().owner, "/Windows/System32"));
    auto name = walk("/Users/ann/Logs/redirect/config.sys");
    if (GetParam().followed) {
        ASSERT_TRUE(name) << name.error().text;
        EXPECT_EQ(Path(*name), as_path("config.sys"));
        EXPECT_EQ(cursor.here, "/Windows/System32");
    } else {
        ASSERT_FALSE(name);
        EXPECT_EQ(name.error().text, "untrusted link");
        EXPECT_EQ(cursor.here, "/Users/ann/Logs") << "the walk went past the refused link";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, LinkOwners,
    ::testing::Values(LinkCase{"Administrators", kAdministrators, true}, LinkCase{"LocalSystem", kSystem, true},
                      LinkCase{"TrustedInstaller", kTrustedInstaller, true}, LinkCase{"OrdinaryUser", kUser, false},
                      LinkCase{"Users", "S-1-5-32-545", false}, LinkCase{"Everyone", "S-1-1-0", false},
                      LinkCase{"AdministratorsPrefixOnly", "S-1-5-32-5440", false}, LinkCase{"NoOwner", "", false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(TrustedWalk, PlainPathEndsInTheFilesDirectoryWithItsName) {
    auto name = walk("/Users/ann/Logs/helper.log");
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("helper.log"));
    EXPECT_EQ(cursor.here, "/Users/ann/Logs");
}

TEST_F(TrustedWalk, UntrustedLinkAtTheFinalNameIsRefusedWhenItWouldBeFollowed) {
    cursor.add("/Users/ann/Logs/helper.log", link(kUser, "/Windows/System32/config.sys"));
    auto followed = walk("/Users/ann/Logs/helper.log");
    ASSERT_FALSE(followed);
    EXPECT_EQ(followed.error().text, "untrusted link");
    // Deleting the name or creating a new file there never follows it.
    auto kept = walk("/Users/ann/Logs/helper.log", WalkOptions{.follow_final_link = false});
    ASSERT_TRUE(kept) << kept.error().text;
    EXPECT_EQ(Path(*kept), as_path("helper.log"));
    EXPECT_EQ(cursor.here, "/Users/ann/Logs");
}

TEST_F(TrustedWalk, KeepingTheFinalLinkStillRefusesOneAboveIt) {
    cursor.add("/Users/ann/Downloads", link(kUser, "/Windows/System32"));
    auto name = walk("/Users/ann/Downloads/config.sys", WalkOptions{.follow_final_link = false});
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "untrusted link");
}

TEST_F(TrustedWalk, TrustedFinalLinkIsResolvedToItsTarget) {
    cursor.add("/ProgramData/Velmarch/current.log", link(kAdministrators, "/Windows/System32/config.sys"));
    auto name = walk("/ProgramData/Velmarch/current.log");
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("config.sys"));
    EXPECT_EQ(cursor.here, "/Windows/System32");
}

// An administrator's link into a user's folder must not open a way through
// that user's own links.
TEST_F(TrustedWalk, TrustedLinkIntoAnUntrustedOneIsRefused) {
    cursor.add("/ProgramData/Velmarch/logs", link(kAdministrators, "/Users/ann/Logs"));
    cursor.add("/Users/ann/Logs/deep", link(kUser, "/Windows/System32"));
    auto name = walk("/ProgramData/Velmarch/logs/deep/config.sys");
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "untrusted link");
}

TEST_F(TrustedWalk, RelativeTargetsAreReadFromTheLinksDirectory) {
    cursor.add("/ProgramData/Velmarch/sys", link(kSystem, "../../Windows/System32"));
    auto name = walk("/ProgramData/Velmarch/sys/config.sys");
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("config.sys"));
    EXPECT_EQ(cursor.here, "/Windows/System32");
}

// ".." is read on the text, as Windows' full-path rules read it, on both
// platforms: "sys/.." is /ProgramData/Velmarch whatever "sys" is, and never
// the parent of the folder a link leads to.
TEST_F(TrustedWalk, DotDotInThePathIsResolvedByTextBeforeAnyLink) {
    cursor.add("/ProgramData/Velmarch/sys", link(kSystem, "/Windows/System32"));
    cursor.add("/ProgramData/Velmarch/System32", directory(kAdministrators));
    auto name = walk("/ProgramData/Velmarch/sys/../System32/./config.sys");
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("config.sys"));
    EXPECT_EQ(cursor.here, "/ProgramData/Velmarch/System32");
}

// Within a target, ".." applies to the target's text: "logs/.." is
// /ProgramData, not the parent of the user's folder the link "logs" leads to.
TEST_F(TrustedWalk, DotDotInALinkTargetIsResolvedOnTheTargetsText) {
    cursor.add("/ProgramData/logs", link(kAdministrators, "/Users/ann/Logs"));
    cursor.add("/ProgramData/Velmarch/current", link(kAdministrators, "../logs/../Velmarch/./data"));
    cursor.add("/ProgramData/Velmarch/data", directory(kAdministrators));
    auto name = walk("/ProgramData/Velmarch/current/new.log");
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("new.log"));
    EXPECT_EQ(cursor.here, "/ProgramData/Velmarch/data");
}

TEST_F(TrustedWalk, DotDotStaysAtTheRoot) {
    cursor.add("/root-link", link(kSystem, "../../../Windows/System32"));
    auto through_text = walk("/../../Windows/System32/config.sys");
    ASSERT_TRUE(through_text) << through_text.error().text;
    EXPECT_EQ(cursor.here, "/Windows/System32");
    auto through_link = walk("/root-link/config.sys");
    ASSERT_TRUE(through_link) << through_link.error().text;
    EXPECT_EQ(cursor.here, "/Windows/System32");
}

// A relative path that climbs above where it starts has no text to resolve
// its ".." against: refused rather than taken up from the current directory.
TEST_F(TrustedWalk, RelativePathAboveItsStartIsRefused) {
    auto name = walk("../Windows/System32/config.sys");
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "missing directory");
    cursor.add("/cwd", directory());
    cursor.add("/cwd/up", link(kSystem, "../x"));
    auto through_link = walk("up/file");
    ASSERT_FALSE(through_link);
    EXPECT_EQ(through_link.error().text, "missing directory");
}

TEST_F(TrustedWalk, LinkLoopEndsAsTooManyLinks) {
    cursor.add("/ProgramData/a", link(kSystem, "/ProgramData/b"));
    cursor.add("/ProgramData/b", link(kSystem, "/ProgramData/a"));
    auto name = walk("/ProgramData/a/file");
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "too many links");
}

// Links counted over the whole walk: a chain of links each pointing at the
// next, or one link to "." repeated as every component of the path.
struct LinkCountCase {
    const char* name;
    int links;
    bool chained;
    bool followed;
};

void PrintTo(const LinkCountCase& c, std::ostream* out) { *out << c.name; }

class LinkCount : public TrustedWalk, public ::testing::WithParamInterface<LinkCountCase> {};

TEST_P(LinkCount, UpToFortyLinksAreFollowedAndOneMoreIsRefused) {
    const LinkCountCase& c = GetParam();
    std::string path = "/ProgramData";
    std::string directory = "/Windows/System32";
    if (c.chained) {
        for (int i = 1; i <= c.links; ++i) {
            const std::string next = i == c.links ? "/Windows/System32" : "/ProgramData/l" + std::to_string(i + 1);
            cursor.add("/ProgramData/l" + std::to_string(i), link(kSystem, next));
        }
        path += "/l1";
    } else {
        cursor.add("/ProgramData/here", link(kSystem, "."));
        for (int i = 0; i < c.links; ++i) path += "/here";
        directory = "/ProgramData";
    }
    auto name = walk(path + "/config.sys");
    if (c.followed) {
        ASSERT_TRUE(name) << name.error().text;
        EXPECT_EQ(Path(*name), as_path("config.sys"));
        EXPECT_EQ(cursor.here, directory);
    } else {
        ASSERT_FALSE(name);
        EXPECT_EQ(name.error().text, "too many links");
    }
}

INSTANTIATE_TEST_SUITE_P(Walk, LinkCount,
                         ::testing::Values(LinkCountCase{"ChainOf39", 39, true, true},
                                           LinkCountCase{"ChainOf40", 40, true, true},
                                           LinkCountCase{"ChainOf41", 41, true, false},
                                           LinkCountCase{"FortyOnThePath", 40, false, true},
                                           LinkCountCase{"FortyOneOnThePath", 41, false, false}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(TrustedWalk, MissingAndNonDirectoryComponents) {
    auto missing_file = walk("/Users/ann/Logs/new.log");
    ASSERT_TRUE(missing_file) << missing_file.error().text;
    EXPECT_EQ(Path(*missing_file), as_path("new.log"));

    auto missing_directory = walk("/Users/ann/Gone/new.log");
    ASSERT_FALSE(missing_directory);
    EXPECT_EQ(missing_directory.error().text, "missing directory");

    auto through_file = walk("/Users/ann/Logs/helper.log/below");
    ASSERT_FALSE(through_file);
    EXPECT_EQ(through_file.error().text, "not a directory");

    auto root = walk("/");
    ASSERT_TRUE(root) << root.error().text;
    EXPECT_EQ(Path(*root), as_path("."));
}

TEST_F(TrustedWalk, CreatingDirectoriesMakesEachMissingOneAndEndsInTheLast) {
    auto name = walk("/Users/ann/Logs/a/b", WalkOptions{.create_directories = true});
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("."));
    EXPECT_EQ(cursor.here, "/Users/ann/Logs/a/b");
    EXPECT_EQ(cursor.made, (std::vector<std::string>{"/Users/ann/Logs/a", "/Users/ann/Logs/a/b"}));
}

// The user swaps a link in where the walk has just created a directory: the
// walk looks again and refuses it.
TEST_F(TrustedWalk, CreatingDirectoriesLooksAgainAtWhatWasCreated) {
    cursor.planted_on_creation["/Users/ann/Logs/a"] = link(kUser, "/Windows/System32");
    auto name = walk("/Users/ann/Logs/a/b", WalkOptions{.create_directories = true});
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "untrusted link");
    EXPECT_EQ(cursor.made, std::vector<std::string>{"/Users/ann/Logs/a"});
}

// A user removes each directory the walk creates before it looks again: the
// walk gives up after a bounded number of tries.
TEST_F(TrustedWalk, CreatingADirectoryThatKeepsVanishingEndsAsMissing) {
    cursor.created_directories_vanish = true;
    auto name = walk("/Users/ann/Logs/a/b", WalkOptions{.create_directories = true});
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "missing directory");
    EXPECT_EQ(cursor.made.size(), static_cast<std::size_t>(kMaxLinksFollowed));
    EXPECT_EQ(cursor.made.back(), "/Users/ann/Logs/a");
}

TEST_F(TrustedWalk, CreatingDirectoriesRefusesAFileOnTheWay) {
    auto name = walk("/Users/ann/Logs/helper.log", WalkOptions{.create_directories = true});
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "not a directory");
}

// An elevated run acts on local volumes only: a remote volume anywhere on the
// path, or behind a trusted link, is refused before anything on it is looked
// at, and a volume query that fails refuses the path as well.
TEST_F(TrustedWalk, ARemoteVolumeOnThePathIsRefusedBeforeAnythingOnItIsLookedAt) {
    cursor.add("/Users/ann/Share", directory(kUser));
    cursor.add("/Users/ann/Share/Logs", directory(kUser));
    cursor.remote_volumes = {"/Users/ann/Share"};
    for (const WalkOptions options : {WalkOptions{}, WalkOptions{.create_directories = true}}) {
        cursor.inspected.clear();
        auto name = walk("/Users/ann/Share/Logs/helper.log", options);
        ASSERT_FALSE(name);
        EXPECT_EQ(name.error().text, kNotOnALocalVolume);
        EXPECT_EQ(cursor.here, "/Users/ann/Share");
        EXPECT_EQ(cursor.inspected.back(), "/Users/ann/Share") << "something on the remote volume was looked at";
        EXPECT_TRUE(cursor.made.empty());
    }
    // The same folder on a local volume is walked.
    cursor.remote_volumes.clear();
    cursor.volume_queries.clear();
    ASSERT_TRUE(walk("/Users/ann/Share/Logs/helper.log"));
    EXPECT_EQ(cursor.volume_queries,
              (std::vector<std::string>{"/", "/Users", "/Users/ann", "/Users/ann/Share", "/Users/ann/Share/Logs"}));
}

TEST_F(TrustedWalk, ARemoteRootIsRefusedAtTheStart) {
    cursor.remote_volumes = {"/"};
    auto name = walk("/Users/ann/Logs/helper.log");
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, kNotOnALocalVolume);
    EXPECT_TRUE(cursor.inspected.empty());
}

TEST_F(TrustedWalk, ATrustedLinkToARemoteVolumeIsRefused) {
    cursor.add("/Mounts", directory());
    cursor.add("/Mounts/server", directory());
    cursor.add("/ProgramData/Velmarch/Logs", link(kAdministrators, "/Mounts/server"));
    cursor.remote_volumes = {"/Mounts/server"};
    auto name = walk("/ProgramData/Velmarch/Logs/helper.log");
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, kNotOnALocalVolume);
}

TEST_F(TrustedWalk, AVolumeQueryThatFailsRefusesThePath) {
    cursor.volume_failure = "Access is denied. (os error 5)";
    auto name = walk("/Users/ann/Logs/helper.log");
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, "Access is denied. (os error 5)");
    EXPECT_TRUE(cursor.inspected.empty());
}

#ifdef _WIN32
// Shares and device paths, in the path and as a trusted link's target, are
// refused by their text: nothing is started on them, not even the root.
TEST_F(TrustedWalk, SharesAndDevicePathsAreRefusedByTheirText) {
    for (const char* path : {"\\\\server\\share\\Logs\\helper.log", "//server/share/helper.log",
                             "\\\\?\\UNC\\server\\share\\x", "\\??\\UNC\\server\\share\\x", "\\\\localhost\\pipe\\name",
                             "\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share", "\\\\.\\C:\\Windows", "//?/C:/Windows"}) {
        SCOPED_TRACE(path);
        cursor.volume_queries.clear();
        auto name = walk(path);
        ASSERT_FALSE(name);
        EXPECT_EQ(name.error().text, kNotOnALocalVolume);
        EXPECT_TRUE(cursor.volume_queries.empty()) << "the walk started on it";
    }
    cursor.add("/ProgramData/Velmarch/Logs", link(kAdministrators, "\\\\server\\share"));
    auto name = walk("/ProgramData/Velmarch/Logs/helper.log");
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().text, kNotOnALocalVolume);
}

// A target that is a bare drive ("C:") names that drive's current directory,
// here the link's own on the same drive: the names after the link join it as
// Windows reads "C:" and "x", never as "C:\x".
TEST_F(TrustedWalk, ABareDriveTargetTakesTheNamesAfterItAsDriveRelative) {
    cursor.add("/ProgramData/Velmarch/here", link(kAdministrators, "C:"));
    cursor.add("/ProgramData/Velmarch/Logs", directory(kAdministrators));
    cursor.add("/Logs", directory(kUser));
    auto name = walk("C:\\ProgramData\\Velmarch\\here\\Logs\\helper.log");
    ASSERT_TRUE(name) << name.error().text;
    EXPECT_EQ(Path(*name), as_path("helper.log"));
    EXPECT_EQ(cursor.here, "/ProgramData/Velmarch/Logs");
}
#endif

TEST(TrustedOwner, PosixTrustsRootOnly) {
    EXPECT_TRUE(is_trusted_posix_owner(0));
    EXPECT_FALSE(is_trusted_posix_owner(65534));
    EXPECT_FALSE(is_trusted_posix_owner(1000));
}

}  // namespace
}  // namespace velmarch::platform

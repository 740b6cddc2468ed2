// The stand-in's two kinds of run meeting a link that an ordinary user owns:
// the elevated one (root) refuses it in every file operation, any other run
// follows it like any program.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "platform/posix/platform.h"
#include "platform/posix/trusted_path.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

constexpr uid_t kOrdinaryUser = 65534;
constexpr const char* kRefused = "Permission denied (os error 13)";

std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

std::string read_text(const Path& path) {
    std::ifstream in(path.native(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// <temp>/protected/target holds "protected"; <temp>/user/link is a link to
// <temp>/protected that the ordinary user owns.
class PosixLinks : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
        std::filesystem::create_directories(temp.path() / "protected");
        std::filesystem::create_directories(temp.path() / "user");
        std::ofstream(target().native()) << "protected";
        ASSERT_EQ(::symlink((temp.path() / "protected").c_str(), through().c_str()), 0);
        ASSERT_EQ(::lchown(through().c_str(), kOrdinaryUser, kOrdinaryUser), 0);
    }
    Path target() const { return testing::to_path(temp.path() / "protected" / "target"); }
    Path through() const { return testing::to_path(temp.path() / "user" / "link"); }

    testing::ScratchFolder temp;
};

TEST_F(PosixLinks, ElevatedRunRefusesEveryOperationThroughTheLink) {
    posix::PosixPlatform platform({}, true);
    const Path via = through() / Path("target");

    EXPECT_EQ(platform.file_type(via), FileType::missing);
    EXPECT_FALSE(platform.exists(via));
    EXPECT_EQ(platform.write_file(via, bytes_of("x")).error().text, kRefused);
    EXPECT_EQ(platform.append_to_file(via, bytes_of("x")).error().text, kRefused);
    EXPECT_EQ(platform.open_for_reading(via).error().text, kRefused);
    EXPECT_EQ(platform.delete_file(via).error().text, kRefused);
    EXPECT_EQ(platform.create_directories(through() / Path("made")).error().text, kRefused);
    EXPECT_EQ(read_text(target()), "protected");
    EXPECT_FALSE(std::filesystem::exists(temp.path() / "protected" / "made"));
}

TEST_F(PosixLinks, ElevatedRunDeletesALinkAtTheFinalNameNotItsTarget) {
    posix::PosixPlatform platform({}, true);
    const Path link = testing::to_path(temp.path() / "user" / "file-link");
    ASSERT_EQ(::symlink(target().c_str(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), kOrdinaryUser, kOrdinaryUser), 0);

    EXPECT_EQ(platform.write_file(link, bytes_of("x")).error().text, kRefused);
    EXPECT_TRUE(platform.exists(link));
    ASSERT_TRUE(platform.delete_file(link));
    EXPECT_FALSE(std::filesystem::is_symlink(link.native()));
    EXPECT_EQ(read_text(target()), "protected");
}

TEST_F(PosixLinks, OrdinaryRunFollowsTheLink) {
    posix::PosixPlatform platform({}, false);
    const Path via = through() / Path("target");

    EXPECT_EQ(platform.file_type(via), FileType::file);
    ASSERT_TRUE(platform.append_to_file(via, bytes_of(" and more")));
    EXPECT_EQ(read_text(target()), "protected and more");
    ASSERT_TRUE(platform.create_directories(through() / Path("made")));
    EXPECT_TRUE(std::filesystem::is_directory(temp.path() / "protected" / "made"));
    ASSERT_TRUE(platform.delete_file(via));
    EXPECT_FALSE(std::filesystem::exists(target().native()));
}

// A link the elevated run trusts (root's own) is read whatever the length of
// its target: the text is read into a buffer that grows from 256 bytes.
TEST_F(PosixLinks, ElevatedRunFollowsATrustedLinkWhateverTheLengthOfItsTarget) {
    posix::PosixPlatform platform({}, true);
    const std::string protected_directory = (temp.path() / "protected").string();
    for (const std::size_t length : {255u, 256u, 257u, 511u, 512u, 513u, 1500u}) {
        ASSERT_GT(length, protected_directory.size());
        // Extra slashes change the length of the text, not where it leads.
        const std::string text =
            std::string(length + 1 - protected_directory.size(), '/') + protected_directory.substr(1);
        ASSERT_EQ(text.size(), length);
        const Path link = testing::to_path(temp.path() / "user" / ("root-link-" + std::to_string(length)));
        ASSERT_EQ(::symlink(text.c_str(), link.c_str()), 0);
        ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);

        const std::string before = read_text(target());
        ASSERT_TRUE(platform.append_to_file(link / Path("target"), bytes_of("+"))) << length;
        EXPECT_EQ(read_text(target()), before + "+") << "a target of " << length << " bytes";
    }
}

// The program and the working directory of a started process are checked
// like any other path.
TEST_F(PosixLinks, ElevatedRunStartsNothingThroughTheLink) {
    posix::PosixPlatform platform({}, true);
    LaunchRequest through_program{
        .application = through() / Path("true"), .command_line = u"\"true\"", .working_directory = {}};
    std::filesystem::copy_file("/bin/true", temp.path() / "protected" / "true");
    EXPECT_EQ(platform.run_and_wait(through_program).error().text, kRefused);

    LaunchRequest in_directory{
        .application = Path("/bin/true"), .command_line = u"\"true\"", .working_directory = through()};
    EXPECT_EQ(platform.run_and_wait(in_directory).error().text, kRefused);

    posix::PosixPlatform ordinary({}, false);
    EXPECT_EQ(ordinary.run_and_wait(through_program), 0);
    EXPECT_EQ(ordinary.run_and_wait(in_directory), 0);
}

// The stand-in's remote volume: a file system whose answers come from another
// machine or a user-space server, told by statfs's f_type (linux/magic.h).
TEST(PosixVolumes, NetworkAndUserSpaceFileSystemsAreRemote) {
    for (const std::uint32_t remote :
         {0x6969u /* NFS */, 0xFF534D42u /* CIFS */, 0xFE534D42u /* SMB2 */, 0x517Bu /* SMB */, 0x01021997u /* 9P */,
          0x65735546u /* FUSE: sshfs */, 0x00C36400u /* Ceph */, 0x6B414653u /* AFS */, 0x5346414Fu /* kAFS */,
          0x73757245u /* Coda */, 0x564Cu /* NCP */, 0x7461636Fu /* OCFS2 */, 0x47504653u /* GPFS */,
          0x0BD00BD0u /* Lustre */})
        EXPECT_TRUE(posix::is_remote_file_system(remote)) << std::hex << remote;
    for (const std::uint32_t local : {0xEF53u /* ext4 */, 0x01021994u /* tmpfs */, 0x794C7630u /* overlay */,
                                      0x58465342u /* XFS */, 0x9123683Eu /* Btrfs */, 0x9FA0u /* proc */})
        EXPECT_FALSE(posix::is_remote_file_system(local)) << std::hex << local;
}

// The elevated run walks local volumes as before: the temporary folder (a
// local file system wherever the tests run) is reached and written.
TEST(PosixVolumes, ElevatedRunWalksALocalVolume) {
    testing::ScratchFolder temp;
    posix::PosixPlatform platform({}, true);
    const Path file = testing::to_path(temp.path() / "local.txt");
    ASSERT_TRUE(platform.write_file(file, bytes_of("local")));
    EXPECT_EQ(read_text(file), "local");
}

// The cursor asks the type of each directory it stands in, from the root on
// and after every directory it enters, and a remote type refuses the walk
// there. No network volume can be mounted for a test: /proc stands for one.
bool proc_counts_as_remote(std::uint32_t type) { return type == 0x9FA0u; }
bool every_type_counts_as_remote(std::uint32_t) { return true; }

TEST(PosixVolumes, ACursorThatSeesARemoteTypeRefusesTheWalk) {
    const Path below_proc("/proc/velmarch-absent");
    struct Case {
        const char* name;
        bool (*counts_as_remote)(std::uint32_t);
    } cases[] = {
        {"the root", every_type_counts_as_remote},
        {"a directory entered", proc_counts_as_remote},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        posix::DescriptorCursor cursor(c.counts_as_remote);
        const Result<NativeString> walked = walk_trusted_path(cursor, below_proc);
        ASSERT_FALSE(walked) << "walked to " << *walked;
        EXPECT_EQ(walked.error().kind, ErrorKind::not_on_local_volume);
        EXPECT_EQ(walked.error().text, kNotOnALocalVolume);
    }
    // With the stand-in's own list /proc is local, and the same walk ends.
    posix::DescriptorCursor cursor;
    const Result<NativeString> walked = walk_trusted_path(cursor, below_proc);
    ASSERT_TRUE(walked) << walked.error().text;
    EXPECT_EQ(*walked, "velmarch-absent");
}

}  // namespace
}  // namespace velmarch::platform

// The stand-in's walk decides on one descriptor: a name is opened once
// (O_PATH|O_NOFOLLOW), and the link's owner, its target and the directory
// entered all come from that descriptor, whatever stands at the name by the
// time they are asked for.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/posix/trusted_path.h"
#include "support/scratch_folder.h"

namespace velmarch::platform {
namespace {

constexpr uid_t kOrdinaryUser = 65534;

class PosixWalkCursor : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(cursor.start(Path(temp.path().string()))); }

    std::string at(const char* name) const { return (temp.path() / name).string(); }

    // A link at `name` to `target`, given to `owner` (root only).
    void link(const char* name, const std::string& target, uid_t owner) {
        ASSERT_EQ(::symlink(target.c_str(), at(name).c_str()), 0);
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(at(name).c_str(), owner, owner), 0);
        }
    }

    // Replaces `name` with a link to `target` in one step, as a user who
    // owns the folder would between two looks.
    void swap_for_link(const char* name, const std::string& target, uid_t owner) {
        link("swap-in", target, owner);
        ASSERT_EQ(::rename(at("swap-in").c_str(), at(name).c_str()), 0);
    }

    testing::ScratchFolder temp;
    posix::DescriptorCursor cursor;
};

TEST_F(PosixWalkCursor, ALinkIsDecidedAndReadOnTheDescriptorThatLookedAtIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    link("l", "/first/target", 0);
    Result<EntryInfo> entry = cursor.inspect("l");
    ASSERT_TRUE(entry) << entry.error().text;
    EXPECT_EQ(entry->kind, EntryKind::link);
    EXPECT_TRUE(entry->trusted_owner);

    swap_for_link("l", "/second/target", kOrdinaryUser);
    Result<Path> target = cursor.link_target("l");
    ASSERT_TRUE(target) << target.error().text;
    EXPECT_EQ(target->native(), "/first/target");

    // Looked at again, the user's link is what the walk sees.
    entry = cursor.inspect("l");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->kind, EntryKind::link);
    EXPECT_FALSE(entry->trusted_owner);
}

TEST_F(PosixWalkCursor, ADirectoryEnteredIsTheOneThatWasLookedAt) {
    std::filesystem::create_directories(at("d"));
    std::filesystem::create_directories(at("elsewhere"));
    Result<EntryInfo> entry = cursor.inspect("d");
    ASSERT_TRUE(entry) << entry.error().text;
    EXPECT_EQ(entry->kind, EntryKind::directory);

    ASSERT_EQ(::rename(at("d").c_str(), at("looked-at").c_str()), 0);
    swap_for_link("d", at("elsewhere"), ::geteuid() == 0 ? kOrdinaryUser : ::geteuid());
    ASSERT_TRUE(cursor.enter("d"));
    ASSERT_TRUE(cursor.make_directory("made"));
    EXPECT_TRUE(std::filesystem::is_directory(at("looked-at") + "/made"));
    EXPECT_FALSE(std::filesystem::exists(at("elsewhere") + "/made"));
}

TEST_F(PosixWalkCursor, WhatWasNotADirectoryWhenLookedAtIsNeverEntered) {
    ::close(::creat(at("f").c_str(), 0600));
    std::filesystem::create_directories(at("elsewhere"));
    Result<EntryInfo> entry = cursor.inspect("f");
    ASSERT_TRUE(entry) << entry.error().text;
    EXPECT_EQ(entry->kind, EntryKind::other);

    // Even once a directory stands at the name.
    ASSERT_EQ(::unlink(at("f").c_str()), 0);
    std::filesystem::create_directories(at("f"));
    Result<void> entered = cursor.enter("f");
    ASSERT_FALSE(entered);
    EXPECT_EQ(entered.error().text, cursor.not_a_directory_error());
    // Nor is a name read as a link that was not looked at as one.
    EXPECT_EQ(cursor.link_target("f").error().text, cursor.untrusted_link_error());
}

// A FIFO looked at is opened O_PATH: nothing waits for a writer.
TEST_F(PosixWalkCursor, LookingAtAFifoDoesNotWait) {
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    Result<EntryInfo> entry = cursor.inspect("fifo");
    ASSERT_TRUE(entry) << entry.error().text;
    EXPECT_EQ(entry->kind, EntryKind::other);
    EXPECT_EQ(cursor.inspect("missing")->kind, EntryKind::missing);
}

}  // namespace
}  // namespace velmarch::platform

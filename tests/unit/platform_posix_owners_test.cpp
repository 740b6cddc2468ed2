#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/owners.h"

namespace velmarch::platform {
namespace {

using posix::UniqueFd;

// A descriptor whose close fails: its number was closed behind its owner's back.
UniqueFd stale_descriptor() {
    UniqueFd owner(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_TRUE(owner.valid());
    ::close(owner.get());
    return owner;
}

TEST(PosixDescriptorOwner, ClosesItsDescriptor) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    {
        const UniqueFd read_end(fds[0]);
        UniqueFd write_end(fds[1]);
        write_end.reset();
        EXPECT_EQ(::fcntl(fds[1], F_GETFD), -1);
        EXPECT_NE(::fcntl(fds[0], F_GETFD), -1);
    }
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);
}

TEST(PosixDescriptorOwner, ResetKeepsTheErrnoOfTheFailedCall) {
    UniqueFd owner = stale_descriptor();
    ASSERT_EQ(::open("/nonexistent-velmarch/file", O_RDONLY), -1);
    ASSERT_EQ(errno, ENOENT);
    owner.reset();  // close fails with EBADF here
    EXPECT_EQ(errno, ENOENT);
}

TEST(PosixDescriptorOwner, DestructionKeepsTheErrnoOfTheFailedCall) {
    {
        const UniqueFd owner = stale_descriptor();
        errno = EACCES;
    }
    EXPECT_EQ(errno, EACCES);
}

TEST(PosixDescriptorOwner, CloseReportsAFailedClose) {
    UniqueFd owner = stale_descriptor();
    errno = 0;
    EXPECT_EQ(owner.close(), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(owner.valid());
    EXPECT_EQ(owner.close(), 0);
}

}  // namespace
}  // namespace velmarch::platform

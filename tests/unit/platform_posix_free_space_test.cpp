// The stand-in's free space is what the running account may still write:
// statvfs's f_bavail, not f_bfree, which counts the blocks a file system
// keeps back for root (5 % of an ext4 volume by default). On a volume that
// keeps nothing back (tmpfs) the two agree, and only the equality is shown.

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <optional>

#include "platform/posix/platform.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

std::optional<std::uint64_t> available_by_statvfs(const std::filesystem::path& directory) {
    struct statvfs volume {};
    if (::statvfs(directory.c_str(), &volume) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(volume.f_bavail) * static_cast<std::uint64_t>(volume.f_frsize);
}

TEST(PosixFreeSpace, IsTheSpaceTheAccountMayStillWrite) {
    testing::ScratchFolder temp;
    for (const bool elevated : {false, true}) {
        SCOPED_TRACE(elevated ? "elevated" : "not elevated");
        posix::PosixPlatform platform({}, elevated);
        // Other programs write to the volume meanwhile: asked between two
        // equal answers of statvfs, the platform's answer is theirs.
        bool compared = false;
        for (int attempt = 0; attempt < 50 && !compared; ++attempt) {
            const std::optional<std::uint64_t> before = available_by_statvfs(temp.path());
            const Result<std::uint64_t> free = platform.free_bytes(testing::to_path(temp.path()));
            const std::optional<std::uint64_t> after = available_by_statvfs(temp.path());
            ASSERT_TRUE(before && after);
            ASSERT_TRUE(free) << free.error().text;
            if (*before != *after) continue;
            EXPECT_EQ(*free, *before);
            compared = true;
        }
        EXPECT_TRUE(compared) << "the volume never held still between two looks";
    }
}

}  // namespace
}  // namespace velmarch::platform

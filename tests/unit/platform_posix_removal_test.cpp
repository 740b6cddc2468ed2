// Removals on the stand-in: which failed deletions are another program's
// passing hold and which are lasting, and the sweep's deletion of exactly
// the object it opened, whatever stands at its name by then.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/os_error.h"
#include "platform/posix/platform.h"
#include "support/file_bytes.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

using testing::read_text;

// Only the stand-in's "in use" errors are worth trying again; a refusal of
// access is lasting there, never the passing state of another program.
TEST(PosixRemovalError, OnlyInUseErrorsAreAHold) {
    struct Case {
        int error_number;
        ErrorKind kind;
    } cases[] = {
        {EBUSY, ErrorKind::held},     {ETXTBSY, ErrorKind::held},    {EACCES, ErrorKind::os_error},
        {EPERM, ErrorKind::os_error}, {ENOENT, ErrorKind::os_error}, {ENOTEMPTY, ErrorKind::os_error},
        {EROFS, ErrorKind::os_error}, {EAGAIN, ErrorKind::os_error},
    };
    for (const Case& c : cases) {
        const Error error = posix::removal_error(c.error_number);
        EXPECT_EQ(error.kind, c.kind) << posix::os_error_text(c.error_number);
        EXPECT_EQ(error.text, posix::os_error_text(c.error_number));
    }
}

// <temp>/stage holds the staged package; <temp>/other is someone else's file
// and <temp>/other-folder someone else's empty folder.
class PosixSweptObject : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(stage());
        std::filesystem::create_directories(temp.path() / "other-folder");
        std::ofstream(stage() / "velmarch-update.msi") << "package";
        std::ofstream(temp.path() / "other") << "someone's";
        auto root = platform.open_held_directory(testing::to_path(temp.path()));
        ASSERT_TRUE(root) << root.error().text;
        root_ = std::move(*root);
    }

    std::filesystem::path stage() const { return temp.path() / "stage"; }

    // Moves `from` to `to` in one step, over whatever stands there.
    static void rename_over(const std::filesystem::path& from, const std::filesystem::path& to) {
        ASSERT_EQ(::rename(from.c_str(), to.c_str()), 0) << from << " -> " << to;
    }

    testing::ScratchFolder temp;
    posix::PosixPlatform platform{{}, false};
    std::unique_ptr<HeldDirectory> root_;
};

TEST_F(PosixSweptObject, AFileWhoseNameLeadsElsewhereSinceItWasTakenStays) {
    auto folder = root_->open_directory("stage");
    ASSERT_TRUE(folder) << folder.error().text;
    auto taken = (*folder)->take_file("velmarch-update.msi");
    ASSERT_TRUE(taken) << taken.error().text;
    rename_over(temp.path() / "other", stage() / "velmarch-update.msi");

    const Result<void> removed = (*taken)->remove();
    ASSERT_FALSE(removed) << "the file now at the name was deleted";
    EXPECT_EQ(removed.error().text, posix::os_error_text(ESTALE));
    EXPECT_EQ(read_text(stage() / "velmarch-update.msi"), "someone's");
}

TEST_F(PosixSweptObject, AFolderWhoseNameLeadsElsewhereSinceItWasOpenedStays) {
    std::filesystem::remove(stage() / "velmarch-update.msi");  // empty: only the name can stop the removal
    auto folder = root_->open_directory("stage");
    ASSERT_TRUE(folder) << folder.error().text;
    rename_over(stage(), temp.path() / "opened");
    rename_over(temp.path() / "other-folder", stage());

    const Result<void> removed = (*folder)->remove();
    ASSERT_FALSE(removed) << "the folder now at the name was deleted";
    EXPECT_EQ(removed.error().text, posix::os_error_text(ESTALE));
    EXPECT_TRUE(std::filesystem::is_directory(stage()));
    EXPECT_TRUE(std::filesystem::is_directory(temp.path() / "opened"));
}

}  // namespace
}  // namespace velmarch::platform

// A user racing the elevated run: between the check of a caller-named entry
// and its use, the entry is replaced (rename over it, as the owner of the
// folder can) by a FIFO, a device or a link of the user's own. What the run
// then opens is checked again on the descriptor: a FIFO never holds the open,
// nothing but a regular file is used, and no link swapped in is followed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/platform.h"
#include "platform/posix/regular_file.h"
#include "support/file_bytes.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

using testing::bytes_of;
using testing::read_text;

constexpr uid_t kOrdinaryUser = 65534;
constexpr const char* kUntrustedLink = "Permission denied (os error 13)";
constexpr const char* kLinkNotFollowed = "Too many levels of symbolic links (os error 40)";
constexpr const char* kNoReader = "No such device or address (os error 6)";

// Unblocks an open that waits on the FIFO at `path` for its other end, and
// records that it had to: a FIFO that holds the open would otherwise hold
// the test for ever. The open is given far longer than it ever needs.
class FifoWatch {
public:
    explicit FifoWatch(std::filesystem::path path) : path_(std::move(path)) {
        thread_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            if (done_changed_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; })) return;
            waited_ = true;
            // O_RDWR never waits, and counts as the other end for either side.
            const int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        });
    }
    FifoWatch(const FifoWatch&) = delete;
    FifoWatch& operator=(const FifoWatch&) = delete;
    ~FifoWatch() { finish(); }

    // Whether the watched open had to be unblocked.
    bool finish() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        return waited_;
    }

private:
    std::filesystem::path path_;
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
    bool waited_ = false;
    std::thread thread_;
};

enum class SwappedIn { fifo, device, link };

// <temp>/protected/secret holds "secret"; <temp>/user/, the user's folder,
// holds "file" (a regular file) and "folder/inner" (a directory with a file).
class PosixRaces : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the elevated run and a user's link need root";
        std::filesystem::create_directories(temp.path() / "protected");
        std::filesystem::create_directories(temp.path() / "user" / "folder" / "inner");
        std::ofstream(secret()) << "secret";
        std::ofstream(user("file")) << "caller";
        std::ofstream(user("folder") / "inner" / "kept") << "kept";
    }

    std::filesystem::path secret() const { return temp.path() / "protected" / "secret"; }
    std::filesystem::path user(std::string_view name) const { return temp.path() / "user" / name; }

    // Replaces `path` with `what` in one rename when the run has checked the
    // entry named `name` and is about to use it.
    void swap_after_check(std::string name, std::filesystem::path path, SwappedIn what,
                          std::filesystem::path link_target = {}) {
        armed_name_ = std::move(name);
        swap_ = [this, path = std::move(path), what, link_target = std::move(link_target)] {
            const std::filesystem::path staged = temp.path() / "user" / "swap-in";
            switch (what) {
                case SwappedIn::fifo: ASSERT_EQ(::mkfifo(staged.c_str(), 0666), 0); break;
                case SwappedIn::device:
                    ASSERT_EQ(::mknod(staged.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);  // /dev/null
                    break;
                case SwappedIn::link:
                    ASSERT_EQ(::symlink(link_target.c_str(), staged.c_str()), 0);
                    ASSERT_EQ(::lchown(staged.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
                    break;
            }
            if (std::filesystem::is_directory(std::filesystem::symlink_status(path))) std::filesystem::remove_all(path);
            ASSERT_EQ(::rename(staged.c_str(), path.c_str()), 0) << path;
            swapped_ = true;
        };
    }

    // Root in a user namespace, or a file system mounted nodev, has no
    // device of its own to swap in.
    bool devices_can_be_made_here() const {
        const std::filesystem::path probe = temp.path() / "device-probe";
        if (::mknod(probe.c_str(), S_IFCHR | 0600, ::makedev(1, 3)) != 0) return false;
        const int fd = ::open(probe.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
        ::unlink(probe.c_str());
        return fd >= 0;
    }

    // Whether the window was reached and the swap made.
    bool swapped() const { return swapped_; }

    testing::ScratchFolder temp;
    posix::PosixPlatform platform{{}, true, [this](std::string_view name) {
                                      if (!swap_ || name != armed_name_) return;
                                      auto swap = std::move(swap_);
                                      swap_ = nullptr;
                                      swap();
                                  }};

private:
    std::string armed_name_;
    std::function<void()> swap_;
    bool swapped_ = false;
};

// What each operation on a caller's file answers to what was swapped in.
struct SwapCase {
    const char* name;
    SwappedIn what;
    std::function<Result<void>(Platform&, const Path& file)> operation;
    const char* error;
};

void PrintTo(const SwapCase& c, std::ostream* out) { *out << c.name; }

Result<void> open_for_reading(Platform& platform, const Path& file) {
    auto opened = platform.open_for_reading(file);
    if (!opened) return std::unexpected(opened.error());
    return {};
}
Result<void> write_file(Platform& platform, const Path& file) { return platform.write_file(file, bytes_of("x")); }
Result<void> append_to_file(Platform& platform, const Path& file) {
    return platform.append_to_file(file, bytes_of("x"));
}
Result<void> hold_file(Platform& platform, const Path& file) {
    auto held = platform.hold_file(file);
    if (!held) return std::unexpected(held.error());
    return {};
}
Result<void> take_file(Platform& platform, const Path& file) {
    auto directory = platform.open_held_directory(file.parent_path());
    if (!directory) return fail(directory.error().kind, "the folder: " + directory.error().text);
    auto taken = (*directory)->take_file(file.filename().native());
    if (!taken) return std::unexpected(taken.error());
    return {};
}

class SwapAfterTheCheck : public PosixRaces, public ::testing::WithParamInterface<SwapCase> {};

TEST_P(SwapAfterTheCheck, IsFoundOnTheDescriptorWithoutWaiting) {
    const SwapCase& c = GetParam();
    if (c.what == SwappedIn::device && !devices_can_be_made_here())
        GTEST_SKIP() << "no device can be made or opened here";
    swap_after_check("file", user("file"), c.what, secret());
    FifoWatch watch(user("file"));
    Result<void> done = c.operation(platform, testing::to_path(user("file")));
    EXPECT_FALSE(watch.finish()) << "the open waited for the FIFO's other end";
    ASSERT_TRUE(swapped()) << "the operation never reached the window between check and use";
    ASSERT_FALSE(done) << "the operation used what was swapped in";
    EXPECT_EQ(done.error().text, c.error);
    EXPECT_EQ(read_text(secret()), "secret");
}

INSTANTIATE_TEST_SUITE_P(
    Posix, SwapAfterTheCheck,
    ::testing::Values(SwapCase{"ReadFifo", SwappedIn::fifo, open_for_reading, kNotARegularFile.data()},
                      SwapCase{"ReadDevice", SwappedIn::device, open_for_reading, kNotARegularFile.data()},
                      SwapCase{"ReadLink", SwappedIn::link, open_for_reading, kUntrustedLink},
                      // Nothing reads the FIFO: opening it to write fails at once.
                      SwapCase{"WriteFifo", SwappedIn::fifo, write_file, kNoReader},
                      SwapCase{"WriteDevice", SwappedIn::device, write_file, kNotARegularFile.data()},
                      SwapCase{"WriteLink", SwappedIn::link, write_file, kUntrustedLink},
                      SwapCase{"AppendFifo", SwappedIn::fifo, append_to_file, kNoReader},
                      SwapCase{"AppendDevice", SwappedIn::device, append_to_file, kNotARegularFile.data()},
                      SwapCase{"AppendLink", SwappedIn::link, append_to_file, kUntrustedLink},
                      SwapCase{"HoldFifo", SwappedIn::fifo, hold_file, kNotARegularFile.data()},
                      SwapCase{"HoldDevice", SwappedIn::device, hold_file, kNotARegularFile.data()},
                      SwapCase{"HoldLink", SwappedIn::link, hold_file, kLinkNotFollowed},
                      SwapCase{"TakeFifo", SwappedIn::fifo, take_file, kNotARegularFile.data()},
                      SwapCase{"TakeDevice", SwappedIn::device, take_file, kNotARegularFile.data()},
                      SwapCase{"TakeLink", SwappedIn::link, take_file, kLinkNotFollowed}),
    [](const auto& test) { return std::string(test.param.name); });

// The folder a held directory is opened on, replaced by a link into the
// protected folder once the walk has looked at it.
TEST_F(PosixRaces, HeldDirectorySwappedForALinkIsNotFollowed) {
    swap_after_check("folder", user("folder"), SwappedIn::link, temp.path() / "protected");
    auto held = platform.open_held_directory(testing::to_path(user("folder")));
    ASSERT_TRUE(swapped());
    ASSERT_FALSE(held) << "the held directory is the protected folder";
    // O_DIRECTORY|O_NOFOLLOW on a link: the system answers ENOTDIR.
    EXPECT_EQ(held.error().text, "Not a directory (os error 20)");
}

// A directory in the tree being removed, replaced by a link into the
// protected folder once it was found to be a directory: the link goes, what
// it points to stays.
TEST_F(PosixRaces, RemovalNeverDescendsThroughALinkSwappedInForADirectory) {
    swap_after_check("inner", user("folder") / "inner", SwappedIn::link, temp.path() / "protected");
    Result<void> removed = platform.remove_directory_tree(testing::to_path(user("folder")));
    ASSERT_TRUE(swapped());
    EXPECT_FALSE(removed);
    EXPECT_EQ(read_text(secret()), "secret") << "the removal went through the link";
}

// The program of a launch, replaced once walked by a user's link to another
// program: the link is not executed.
TEST_F(PosixRaces, ProgramSwappedForALinkIsNotExecuted) {
    std::filesystem::copy_file("/bin/true", user("program"));
    swap_after_check("program", user("program"), SwappedIn::link, "/bin/false");
    Result<std::int32_t> ran = platform.run_and_wait(LaunchRequest{
        .application = testing::to_path(user("program")), .command_line = u"program", .working_directory = {}});
    ASSERT_TRUE(swapped());
    ASSERT_FALSE(ran) << "the link's target ran, with exit code " << *ran;
    EXPECT_EQ(ran.error().text, kLinkNotFollowed);
}

// The working directory of a launch, replaced once walked by a link into the
// protected folder: the child never starts there.
TEST_F(PosixRaces, WorkingDirectorySwappedForALinkIsNotEntered) {
    swap_after_check("folder", user("folder"), SwappedIn::link, temp.path() / "protected");
    Result<std::int32_t> ran =
        platform.run_and_wait(LaunchRequest{.application = platform::Path("/bin/true"),
                                            .command_line = u"true",
                                            .working_directory = testing::to_path(user("folder"))});
    ASSERT_TRUE(swapped());
    ASSERT_FALSE(ran) << "the child started in the protected folder";
    EXPECT_EQ(ran.error().text, "Not a directory (os error 20)");
}

// The check on an open descriptor, given each kind of file.
class PosixRegularFile : public ::testing::Test {
protected:
    static posix::UniqueFd open(const std::filesystem::path& path, int flags) {
        return posix::UniqueFd(::open(path.c_str(), flags | O_CLOEXEC));
    }
    testing::ScratchFolder temp;
};

TEST_F(PosixRegularFile, ARegularFilePassesAndIsNoLongerNonBlocking) {
    std::ofstream(temp.path() / "file") << "x";
    posix::UniqueFd fd = open(temp.path() / "file", O_RDONLY | O_NONBLOCK);
    ASSERT_TRUE(fd);
    Result<void> checked = posix::require_regular_file(fd);
    ASSERT_TRUE(checked) << checked.error().text;
    EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(PosixRegularFile, AFifoADeviceAndADirectoryAreRefused) {
    ASSERT_EQ(::mkfifo((temp.path() / "fifo").c_str(), 0600), 0);
    posix::UniqueFd fifo = open(temp.path() / "fifo", O_RDONLY | O_NONBLOCK);
    posix::UniqueFd device = open("/dev/null", O_RDONLY | O_NONBLOCK);
    posix::UniqueFd directory = open(temp.path(), O_RDONLY | O_DIRECTORY);
    ASSERT_TRUE(fifo && device && directory);
    EXPECT_EQ(posix::require_regular_file(fifo).error(),
              (Error{ErrorKind::not_a_regular_file, std::string(kNotARegularFile)}));
    EXPECT_EQ(posix::require_regular_file(device).error(),
              (Error{ErrorKind::not_a_regular_file, std::string(kNotARegularFile)}));
    EXPECT_EQ(posix::require_regular_file(directory).error().text, "Is a directory (os error 21)");
}

// The look by name, before anything is opened.
TEST_F(PosixRegularFile, TheLookByNameRefusesAFifoAndADeviceAndPassesTheRest) {
    ASSERT_EQ(::mkfifo((temp.path() / "fifo").c_str(), 0600), 0);
    std::ofstream(temp.path() / "file") << "x";
    auto at = [](std::filesystem::path path) {
        posix::Located located;
        located.name = path.string();
        return located;
    };
    EXPECT_EQ(posix::refuse_special_file_at(at(temp.path() / "fifo")).error(),
              (Error{ErrorKind::not_a_regular_file, std::string(kNotARegularFile)}));
    EXPECT_EQ(posix::refuse_special_file_at(at("/dev/null")).error(),
              (Error{ErrorKind::not_a_regular_file, std::string(kNotARegularFile)}));
    EXPECT_TRUE(posix::refuse_special_file_at(at(temp.path() / "file")));
    EXPECT_TRUE(posix::refuse_special_file_at(at(temp.path())));
    EXPECT_TRUE(posix::refuse_special_file_at(at(temp.path() / "missing")));
}

// What a name is, asked once the walk has reached it and the name has been
// replaced by the user's link: the link is not followed, whatever it leads to.
TEST_F(PosixRaces, FileTypeOfALinkSwappedInAfterTheWalkIsMissing) {
    struct Case {
        const char* name;
        std::filesystem::path link_target;
    } cases[] = {
        {"file", secret()},
        {"folder", temp.path() / "protected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        swap_after_check(c.name, user(c.name), SwappedIn::link, c.link_target);
        EXPECT_EQ(platform.file_type(testing::to_path(user(c.name))), FileType::missing);
        EXPECT_TRUE(std::filesystem::is_symlink(user(c.name))) << "file_type never reached the window after the walk";
    }
}

}  // namespace
}  // namespace velmarch::platform

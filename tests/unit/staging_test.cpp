#include <gtest/gtest.h>

#include "platform/held_retry.h"
#include "run/stage_inputs.h"
#include "staging/staging.h"
#include "staging/staging_name.h"
#include "support/fake_platform.h"
#include "support/staging_names.h"
#include "support/test_signing.h"

namespace velmarch::staging {
namespace {

using platform::DirectoryCreation;
using testing::as_path;
using testing::test_path;
using testing::FakePlatform;
using testing::Op;

constexpr std::string_view kContent = "MSI package bytes";

// A machine with its Windows directory's Temp folder and the downloaded package.
void lay_out_download(FakePlatform& machine) {
    machine.windows_dir = test_path("/Windows");
    machine.add_directory("/Windows/Temp");
    machine.add_file("/Downloads/velmarch-2.4.0.msi", kContent);
}

class StagingTest : public ::testing::Test {
protected:
    StagingTest() {
        lay_out_download(platform);
        request.msi_path = as_path("/Downloads/velmarch-2.4.0.msi");
        testing::sign_request(request, kContent);
    }

    std::string stage_error() {
        auto staged = stage_package(platform, request.msi_path, run::package_claim(request), kContent.size());
        EXPECT_FALSE(staged.has_value());
        return staged ? std::string("<staged>") : staged.error().text;
    }

    // Nothing is left under Temp, and every handle and descriptor was released.
    void expect_clean() {
        EXPECT_EQ(platform.entries_below("/Windows/Temp").size(), 1u);  // Temp itself
        EXPECT_EQ(platform.files_opened, platform.files_closed);
        EXPECT_EQ(platform.descriptors_created, platform.descriptors_freed);
    }

    FakePlatform platform;
    run::UpdateRequest request;
};

TEST(StagingDirectoryName, ProcessIdThenTwoDigitsPerRandomByte) {
    std::array<std::byte, 16> random{};
    for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<std::byte>(i * 17 % 256);
    random[0] = std::byte{0x0a};
    EXPECT_EQ(staging_directory_name(5120, random), "VelmarchUpdate-5120-0a112233445566778899aabbccddeeff");
    random.fill(std::byte{0});
    EXPECT_EQ(staging_directory_name(4294967295u, random).size(), 58u);
    EXPECT_EQ(staging_directory_name(0, random).size(), 49u);
}

// What the run names its staging, the sweep recognizes, at every process id
// width and for random bytes that make every hex digit.
TEST(StagingDirectoryName, EveryNameARunMakesIsOneTheSweepRecognizes) {
    for (const std::uint32_t process_id : {0u, 7u, 5120u, 1000000000u, 4294967295u})
        for (const std::uint8_t fill :
             {std::uint8_t{0x00}, std::uint8_t{0x5a}, std::uint8_t{0xf0}, std::uint8_t{0xff}}) {
            const std::string name = staging_directory_name(process_id, testing::filled_staging_random(fill));
            EXPECT_TRUE(is_staging_directory_name(name)) << name;
        }
    EXPECT_TRUE(is_staging_directory_name(testing::staging_name(5120)));
}

TEST_F(StagingTest, CopiesAndVerifiesThePackageInAFreshDirectory) {
    {
        auto staged = stage_package(platform, request.msi_path, run::package_claim(request), kContent.size());
        ASSERT_TRUE(staged) << staged.error().text;
        EXPECT_EQ(staged->staging_dir(),
                  test_path("/Windows/Temp/VelmarchUpdate-5120-000102030405060708090a0b0c0d0e0f"));
        EXPECT_EQ(staged->package_path(), staged->staging_dir() / as_path("velmarch-update.msi"));
        EXPECT_EQ(platform.file_text(staged->package_path()), kContent);
        EXPECT_EQ(platform.descriptors_freed, 1);
        EXPECT_EQ(platform.files_opened, platform.files_closed);  // nothing left open
        EXPECT_EQ(platform.calls(Op::flush), 1);
    }
    expect_clean();
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));  // staging never removes the download
}

TEST_F(StagingTest, CopiesInChunksAndCompletesShortWrites) {
    std::string big(100000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
    platform.add_file("/Downloads/velmarch-2.4.0.msi", big);
    testing::sign_request(request, big);
    platform.max_write_chunk = 1000;
    auto staged = stage_package(platform, request.msi_path, run::package_claim(request), big.size());
    ASSERT_TRUE(staged) << staged.error().text;
    EXPECT_EQ(platform.file_text(staged->package_path()), big);
}

TEST_F(StagingTest, TemporaryDirectoryMustExist) {
    platform.windows_dir.reset();
    EXPECT_EQ(stage_error(), "The protected Windows temporary directory was not found.");
    platform.windows_dir = as_path("/nowhere");
    EXPECT_EQ(stage_error(), "The protected Windows temporary directory was not found.");
    platform.add_file("/other/Temp", "a file");
    platform.windows_dir = as_path("/other/");
    EXPECT_EQ(stage_error(), "The protected Windows temporary directory was not found.");
    EXPECT_EQ(platform.descriptors_created, 0);
    EXPECT_TRUE(platform.directory_attempts.empty());
}

// An elevated run inherits the starting user's environment: a SystemRoot of
// their choosing must not place the staging directory.
TEST_F(StagingTest, TheWindowsDirectoryPlacesStagingNotSystemRoot) {
    platform.add_directory("/home/user/Temp");
    platform.set_environment("SystemRoot", "/home/user");
    auto staged = stage_package(platform, request.msi_path, run::package_claim(request), kContent.size());
    ASSERT_TRUE(staged) << staged.error().text;
    EXPECT_EQ(staged->staging_dir().parent_path(), test_path("/Windows/Temp"));
    EXPECT_EQ(platform.entries_below("/home/user/Temp").size(), 1u);  // the folder itself only

    platform.windows_dir.reset();
    EXPECT_EQ(stage_error(), "The protected Windows temporary directory was not found.");
}

TEST_F(StagingTest, TakenNamesAreSkippedAndSixteenAreTried) {
    platform.directory_answers = {DirectoryCreation::already_exists, DirectoryCreation::already_exists};
    auto staged = stage_package(platform, request.msi_path, run::package_claim(request), kContent.size());
    ASSERT_TRUE(staged) << staged.error().text;
    ASSERT_EQ(platform.directory_attempts.size(), 3u);
    EXPECT_NE(platform.directory_attempts[0], platform.directory_attempts[1]);  // new random digits each time
    EXPECT_EQ(staged->staging_dir(), platform.directory_attempts[2]);

    FakePlatform& p = platform;
    p.directory_attempts.clear();
    p.directory_answers.assign(16, DirectoryCreation::already_exists);
    EXPECT_EQ(stage_error(), "A unique administrator-only staging directory could not be created.");
    EXPECT_EQ(p.directory_attempts.size(), 16u);
    EXPECT_EQ(p.descriptors_created, p.descriptors_freed);
}

TEST_F(StagingTest, OtherDirectoryErrorsEndAtOnce) {
    platform.directory_answers = {fail(ErrorKind::os_error, testing::fake_os_error(5))};
    EXPECT_EQ(stage_error(),
              "The administrator-only staging directory could not be created: Access is denied. (os error 5)");
    EXPECT_EQ(platform.directory_attempts.size(), 1u);
    EXPECT_EQ(platform.descriptors_freed, 1);
}

TEST_F(StagingTest, DescriptorFailureCreatesNothing) {
    platform.fail(Op::create_security_descriptor, "The parameter is incorrect. (os error 87)");
    EXPECT_EQ(
        stage_error(),
        "The restricted staging security descriptor could not be created: The parameter is incorrect. (os error 87)");
    EXPECT_TRUE(platform.directory_attempts.empty());
}

TEST_F(StagingTest, FailuresAfterTheDirectoryExistsRemoveIt) {
    struct Case {
        Op op;
        std::string expected;
    } cases[] = {
        {Op::open_for_reading, "The verified update package could not be reopened: E"},
        {Op::create_new_file, "The restricted staged MSI could not be created: E"},
        {Op::read, "The update package could not be copied to restricted staging: E"},
        {Op::write, "The update package could not be copied to restricted staging: E"},
        {Op::flush, "The restricted staged MSI could not be finalized: E"},
    };
    for (const auto& c : cases) {
        FakePlatform fresh;
        lay_out_download(fresh);
        fresh.fail(c.op, "E", 1);
        auto staged = stage_package(fresh, request.msi_path, run::package_claim(request), kContent.size());
        ASSERT_FALSE(staged) << testing::op_name(c.op);
        EXPECT_EQ(staged.error().text, c.expected);
        EXPECT_EQ(fresh.entries_below("/Windows/Temp").size(), 1u) << testing::op_name(c.op);
        EXPECT_EQ(fresh.files_opened, fresh.files_closed) << testing::op_name(c.op);
        EXPECT_TRUE(fresh.has_file("/Downloads/velmarch-2.4.0.msi"));
    }
}

TEST_F(StagingTest, AWriteThatAcceptsNothingFails) {
    platform.write_accepts_nothing = true;
    EXPECT_EQ(stage_error(),
              "The update package could not be copied to restricted staging: failed to write whole buffer");
    expect_clean();
}

TEST_F(StagingTest, ThePackageChangedBeforeTheCopyIsRefusedByTheSecondCheck) {
    platform.before_call = [&](Op op, int n) {
        if (op == Op::open_for_reading && n == 1) platform.add_file("/Downloads/velmarch-2.4.0.msi", "tampered");
    };
    EXPECT_EQ(stage_error(), "Update package SHA-256 verification failed.");
    expect_clean();
}

// The download changes between its check and the copy. The staged copy is
// never longer than what was verified: the copy reads no further than the
// verified length, and the second verification decides on what it holds.
TEST_F(StagingTest, TheCopyStopsAtTheVerifiedLengthWhateverTheDownloadBecame) {
    const std::string content(kContent);
    const std::string tail(100000, 'z');  // several copy buffers more
    struct Case {
        std::string_view name;
        std::string download_becomes;
        std::string outcome;  // "staged", or the failure message
    } cases[] = {
        {"grown", content + tail, "staged"},
        {"shrunk", content.substr(0, 5), "Update package SHA-256 verification failed."},
        {"rewritten to a longer text", tail, "Update package SHA-256 verification failed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        lay_out_download(fresh);
        fresh.max_read_chunk = 8;
        std::size_t copy_reads = 0;
        std::string staged_bytes;
        fresh.before_call = [&](Op op, int n) {
            if (op == Op::open_for_reading && n == 1)
                fresh.add_file("/Downloads/velmarch-2.4.0.msi", c.download_becomes);
            if (op == Op::read && fresh.calls(Op::open_for_reading) == 1) ++copy_reads;
            // The copy is complete once the second verification opens it.
            if (op == Op::open_for_reading && n == 2)
                for (const auto& entry : fresh.entries_below("/Windows/Temp"))
                    if (entry.filename() == as_path(testing::kStagedPackage)) staged_bytes = fresh.file_text(entry);
        };
        auto staged = stage_package(fresh, request.msi_path, run::package_claim(request), kContent.size());
        EXPECT_EQ(staged ? std::string("staged") : staged.error().text, c.outcome);
        EXPECT_LE(staged_bytes.size(), kContent.size());
        EXPECT_TRUE(staged_bytes == c.download_becomes.substr(0, kContent.size()))
            << "the staged copy holds " << staged_bytes.size() << " other bytes";
        // 17 bytes in reads of at most 8; a shorter file ends with a read of 0.
        const std::size_t expected_reads = c.download_becomes.size() >= kContent.size() ? 3 : 2;
        EXPECT_EQ(copy_reads, expected_reads);
        EXPECT_EQ(fresh.files_opened, fresh.files_closed);
        if (!staged) {
            EXPECT_EQ(fresh.entries_below("/Windows/Temp").size(), 1u);
        }
    }
}

// Between the check and the copy the download became a FIFO: the reopen
// refuses it, reads nothing and leaves nothing behind.
TEST_F(StagingTest, ADownloadThatBecameAFifoIsNotReopened) {
    platform.before_call = [&](Op op, int n) {
        if (op == Op::open_for_reading && n == 1) {
            (void)platform.delete_file(as_path("/Downloads/velmarch-2.4.0.msi"));
            platform.add_special("/Downloads/velmarch-2.4.0.msi");
        }
    };
    EXPECT_EQ(stage_error(), "The verified update package could not be reopened: not a regular file");
    EXPECT_EQ(platform.calls(Op::read), 0);
    expect_clean();
}

TEST_F(StagingTest, AnExistingStagedNameIsNeverOpened) {
    // Someone planted the package name inside the new directory.
    platform.before_call = [&](Op op, int) {
        if (op == Op::create_new_file && !platform.directory_attempts.empty())
            platform.add_file(platform.directory_attempts.back() / as_path(testing::kStagedPackage), "planted");
    };
    auto error = stage_error();
    EXPECT_TRUE(error.starts_with("The restricted staged MSI could not be created: ")) << error;
    expect_clean();
}

}  // namespace
}  // namespace velmarch::staging

namespace velmarch::staging {
namespace {

// --- the free-space reserve ---------------------------------------------------

TEST_F(StagingTest, StagesOnlyWhereTheReserveStaysFreeAfterTheCopy) {
    const std::uint64_t needed = kContent.size() + kStagingFreeSpaceReserve;
    ASSERT_EQ(kStagingFreeSpaceReserve, 268435456u);
    struct Case {
        std::string_view name;
        std::uint64_t free;
        bool stages;
    } cases[] = {
        {"enough", needed + 4096, true},
        {"just enough", needed, true},
        {"one byte too little", needed - 1, false},
        {"nothing", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        lay_out_download(fresh);
        fresh.free_space = c.free;
        {
            auto staged = stage_package(fresh, request.msi_path, run::package_claim(request), kContent.size());
            ASSERT_EQ(staged.has_value(), c.stages);
            if (!c.stages) {
                EXPECT_EQ(staged.error().text,
                          "There is not enough free space for restricted staging: " + std::to_string(needed) +
                              " bytes are needed and " + std::to_string(c.free) + " are available.");
                // Asked before anything was created.
                EXPECT_TRUE(fresh.directory_attempts.empty());
            }
        }
        ASSERT_EQ(fresh.free_space_queries.size(), 1u);
        EXPECT_EQ(fresh.free_space_queries[0], test_path("/Windows/Temp"));
        EXPECT_EQ(fresh.entries_below("/Windows/Temp").size(), 1u);
    }
}

TEST_F(StagingTest, TheReserveCountsTheVerifiedLengthNotTheFileAsItIsNow) {
    // A download that grew since its verification cannot make staging ask
    // for less room than the bytes it will copy, nor overflow the sum.
    platform.free_space = UINT64_MAX;
    auto staged = stage_package(platform, request.msi_path, run::package_claim(request), UINT64_MAX);
    // The copy stops at the file's end; the verification then decides.
    EXPECT_TRUE(staged.has_value());
    platform.free_space = kStagingFreeSpaceReserve;  // nothing left for the copy
    EXPECT_EQ(stage_error(), "There is not enough free space for restricted staging: " +
                                 std::to_string(kContent.size() + kStagingFreeSpaceReserve) + " bytes are needed and " +
                                 std::to_string(kStagingFreeSpaceReserve) + " are available.");
}

// --- the staged package is held while staging exists -------------------------

TEST_F(StagingTest, TheStagedPackageIsHeldUntilStagingGoesAndReleasedBeforeItsDeletion) {
    {
        auto staged = stage_package(platform, request.msi_path, run::package_claim(request), kContent.size());
        ASSERT_TRUE(staged) << staged.error().text;
        EXPECT_TRUE(platform.is_held(staged->package_path()));
        EXPECT_EQ(platform.held_opened, 1);
        EXPECT_EQ(platform.held_closed, 0);
        StagedPackage moved = std::move(*staged);  // the hold moves with it
        EXPECT_EQ(platform.held_closed, 0);
    }
    EXPECT_EQ(platform.held_closed, 1);
    // The fake refuses deleting a held file as Windows does: the installer's
    // log and the package each deleted at the first try, so the hold went first.
    EXPECT_EQ(platform.calls(Op::delete_file), 2);
    EXPECT_TRUE(platform.sleeps.empty());
    expect_clean();
}

TEST_F(StagingTest, AHoldThatCannotBeTakenFailsStagingAndRemovesIt) {
    platform.fail(Op::hold_file, "Injected failure. (os error 32)");
    EXPECT_EQ(stage_error(), "The restricted staged MSI could not be held: Injected failure. (os error 32)");
    expect_clean();
}

// --- held files -----------------------------------------------------------------

constexpr std::string_view kHeld =
    "The process cannot access the file because it is being used by another process. (os error 32)";

std::vector<std::uint32_t> pauses(std::size_t count) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(i == 0 ? 50 : 250);
    return out;
}

TEST_F(StagingTest, RemovalTriesAgainWhileAFileIsHeldWithinOneBudget) {
    struct Case {
        std::string_view name;
        int package_held_times;  // -1: always
        int directory_held_times;
        bool plain_failure;  // the package's deletion fails, not held
        int package_deletions;
        int tree_removals;
        std::size_t pauses;
        bool staging_left;
    } cases[] = {
        {"nothing held", 0, 0, false, 1, 1, 0, false},
        {"package held twice", 2, 0, false, 3, 1, 2, false},
        {"directory held once", 0, 1, false, 1, 2, 1, false},
        {"package held for ever: 13 tries, 12 pauses", -1, 0, false, 13, 1, 12, false},
        {"both held for ever share the budget", -1, -1, false, 13, 1, 12, true},
        {"package held 5 times, directory for ever", 5, -1, false, 6, 8, 12, true},
        {"a failure that is not a hold is not tried again", 0, 0, true, 1, 1, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        lay_out_download(fresh);
        {
            auto staged = stage_package(fresh, request.msi_path, run::package_claim(request), kContent.size());
            ASSERT_TRUE(staged) << staged.error().text;
            // The installer's log goes first, at the first try; the package's
            // deletions follow.
            fresh.add_file(platform::path_to_utf8(staged->installer_log_path()), "log");
            constexpr int kLog = 1;
            if (c.plain_failure) fresh.fail(Op::delete_file, "Injected failure. (os error 1)", kLog + 1);
            const int package_held = c.package_held_times < 0 ? platform::kHeldRemovalTries : c.package_held_times;
            for (int n = 1; n <= package_held; ++n)
                fresh.fail(Op::delete_file, std::string(kHeld), kLog + n, ErrorKind::held);
            if (c.directory_held_times < 0)
                fresh.fail(Op::remove_directory_tree, std::string(kHeld), 0, ErrorKind::held);
            for (int n = 1; n <= c.directory_held_times; ++n)
                fresh.fail(Op::remove_directory_tree, std::string(kHeld), n, ErrorKind::held);
        }
        EXPECT_EQ(fresh.calls(Op::delete_file), 1 + c.package_deletions);
        EXPECT_EQ(fresh.calls(Op::remove_directory_tree), c.tree_removals);
        EXPECT_EQ(fresh.sleeps, pauses(c.pauses));
        // Left to a later run's sweep; nothing else is attempted.
        EXPECT_EQ(fresh.entries_below("/Windows/Temp").size() > 1, c.staging_left);
    }
}

}  // namespace
}  // namespace velmarch::staging

namespace velmarch::staging {
namespace {

// A verified length so large that adding the reserve would wrap round to a
// small sum: the room needed is then all there is, never that small sum,
// whatever the volume has free above it.
TEST_F(StagingTest, ALengthThatWouldWrapWithTheReserveNeedsAllThereIs) {
    constexpr std::uint64_t kMost = UINT64_MAX;
    struct Case {
        std::string_view name;
        std::uint64_t length;
        std::uint64_t free;  // at least the wrapped sum
    } cases[] = {
        {"wraps to nothing", kMost - kStagingFreeSpaceReserve + 1, kStagingFreeSpaceReserve},
        {"wraps to the reserve less one", kMost, kStagingFreeSpaceReserve},
        {"wraps to a little", kMost - 1000, kMost - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        lay_out_download(fresh);
        fresh.free_space = c.free;
        auto staged = stage_package(fresh, request.msi_path, run::package_claim(request), c.length);
        ASSERT_FALSE(staged) << "staged with " << c.free << " bytes free";
        EXPECT_EQ(staged.error().text,
                  "There is not enough free space for restricted staging: " + std::to_string(kMost) +
                      " bytes are needed and " + std::to_string(c.free) + " are available.");
        EXPECT_TRUE(fresh.directory_attempts.empty());
    }
}

}  // namespace
}  // namespace velmarch::staging

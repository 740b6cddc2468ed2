// The sweep of earlier runs' staging on the stand-in, run as root (its
// elevated run): a killed run's staging goes with the next run; a live run's
// staging stays; and look-alikes a user plants in the Temp folder never make
// the sweep touch what they lead to.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "e2e/stand_in_machine.h"
#include "staging/sweep.h"
#include "support/staging_names.h"

namespace velmarch::e2e {
namespace {

using namespace std::chrono_literals;

constexpr uid_t kOrdinaryUser = 65534;  // nobody
constexpr const char* kProtected = "only root may change this\n";
constexpr const char* kSweptLine = "Removed 1 staging directories left by earlier runs.";
const std::string kLookAlikeName = testing::staging_name(4242);

// Sets the last-write time of `path` (a link itself, not its target) and of
// every entry in it an hour back.
void age(const fs::path& path) {
    const timespec times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    if (fs::is_directory(fs::symlink_status(path))) {
        for (const auto& entry : fs::directory_iterator(path)) {
            ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << entry.path();
        }
    }
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

bool log_holds(const platform::Path& log, std::string_view line) {
    return read_text(log).value_or("").find(line) != std::string::npos;
}

class StaleStaging : public ElevatedStandInTest {
protected:
    // Starts a run whose application is still running, and returns once its
    // staged package is in place (the run then waits for the application).
    RunningUpdater start_waiting_run(const OwnedChild& application, fs::path& staging) {
        machine.request.parent_process_id = static_cast<std::uint32_t>(application.process_id());
        RunningUpdater updater = machine.start(machine.arguments());
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (log_holds(machine.request.helper_log_path, "Waiting for process")) {
                const auto entries = machine.temp_entries();
                if (entries.size() == 1) staging = entries.front();
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_FALSE(staging.empty()) << "the run never reached its wait";
        return updater;
    }
};

TEST_F(StaleStaging, AKilledRunsStagingIsRemovedByTheNextRun) {
    fs::path staging;
    {
        OwnedChild application({"/bin/sleep", "60"});
        RunningUpdater killed = start_waiting_run(application, staging);
        ASSERT_FALSE(staging.empty());
        // Destroyed unwaited: killed with SIGKILL, as power loss would.
    }
    ASSERT_TRUE(fs::exists(staging / testing::kStagedPackage));
    age(staging);

    machine.request.parent_process_id = unused_process_id();
    const UpdaterRun run = machine.run();
    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    const auto messages = machine.helper_log_messages(run);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[1], kSweptLine);
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(StaleStaging, AKilledRunsStagingStaysForFiveMinutes) {
    fs::path staging;
    {
        OwnedChild application({"/bin/sleep", "60"});
        RunningUpdater killed = start_waiting_run(application, staging);
        ASSERT_FALSE(staging.empty());
    }
    machine.request.parent_process_id = unused_process_id();
    const UpdaterRun run = machine.run();
    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_TRUE(fs::exists(staging / testing::kStagedPackage));
    EXPECT_FALSE(log_holds(machine.request.helper_log_path, "Removed"));
    fs::remove_all(staging);
}

TEST_F(StaleStaging, ARunWaitingForItsApplicationKeepsItsStagingWhileASecondRunSweeps) {
    fs::path staging;
    auto application = std::make_unique<OwnedChild>(std::vector<std::string>{"/bin/sleep", "60"});
    RunningUpdater waiting = start_waiting_run(*application, staging);
    ASSERT_FALSE(staging.empty());
    // Old enough to go: only the package the run holds keeps it.
    age(staging);
    const std::string staged = read_text(staging / testing::kStagedPackage).value_or("");

    // The second run writes its own log and result.
    const platform::Path first_log = machine.request.helper_log_path;
    const platform::Path first_result = machine.request.result_path;
    machine.request.helper_log_path = to_path(machine.root() / "second-helper.log");
    machine.request.result_path = to_path(machine.root() / "second-result.json");
    machine.request.parent_process_id = unused_process_id();
    const UpdaterRun second = machine.run();
    EXPECT_EQ(second.exit_status, 0) << second.standard_error;
    EXPECT_FALSE(log_holds(machine.request.helper_log_path, "Removed"));
    ASSERT_TRUE(fs::exists(staging / testing::kStagedPackage));
    EXPECT_TRUE(holds(staging / testing::kStagedPackage, staged));

    // The first run goes on once its application has ended, with its staging.
    application.reset();
    const UpdaterRun first = waiting.wait();
    EXPECT_EQ(first.exit_status, 0) << first.standard_error;
    EXPECT_EQ(read_text(first_result), expected_result("success", 0, ""));
    EXPECT_FALSE(log_holds(first_log, "Removed"));
    EXPECT_EQ(machine.invocations("msiexec").size(), 2u);
}

// A user's folder of the staging name, holding links to root's files, and a
// user's link of that name to a folder of root's that looks like a stale
// staging directory in every way: nothing behind any link is touched, and
// the user's entries stay as they are.
TEST_F(StaleStaging, LookAlikesAUserPlantsNeverLeadTheSweepElsewhere) {
    const fs::path secret = protected_dir / "secret.txt";
    write_text(secret, kProtected);
    // Root's folder elsewhere, exactly like a stale staging directory.
    const fs::path decoy = protected_dir / "decoy";
    fs::create_directory(decoy);
    fs::permissions(decoy, fs::perms(0700));
    write_text(decoy / testing::kStagedPackage, kProtected);
    age(decoy);

    const fs::path temp = machine.temp_directory();
    const fs::path user_folder = temp / kLookAlikeName;
    fs::create_directory(user_folder);
    fs::permissions(user_folder, fs::perms(0700));
    ASSERT_EQ(::symlink(secret.c_str(), (user_folder / testing::kStagedPackage).c_str()), 0);
    ASSERT_EQ(::symlink(decoy.c_str(), (user_folder / testing::kStagedLog).c_str()), 0);
    for (const fs::path& path : {user_folder / testing::kStagedPackage, user_folder / testing::kStagedLog})
        ASSERT_EQ(::lchown(path.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
    ASSERT_EQ(::chown(user_folder.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
    age(user_folder);

    const fs::path user_link = temp / testing::staging_name(4243);
    ASSERT_EQ(::symlink(decoy.c_str(), user_link.c_str()), 0);
    ASSERT_EQ(::lchown(user_link.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
    age(user_link);

    // Root's own folder of the name, holding root's links: still no link is
    // followed, and the folder stays.
    const fs::path root_folder = temp / testing::staging_name(4244);
    fs::create_directory(root_folder);
    fs::permissions(root_folder, fs::perms(0700));
    ASSERT_EQ(::symlink(secret.c_str(), (root_folder / testing::kStagedPackage).c_str()), 0);
    age(root_folder);

    machine.request.parent_process_id = unused_process_id();
    const UpdaterRun run = machine.run();
    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_FALSE(log_holds(machine.request.helper_log_path, "Removed"));

    EXPECT_TRUE(holds(secret, kProtected));
    EXPECT_TRUE(holds(decoy / testing::kStagedPackage, kProtected));
    EXPECT_TRUE(fs::is_symlink(user_folder / testing::kStagedPackage));
    EXPECT_TRUE(fs::is_symlink(user_folder / testing::kStagedLog));
    EXPECT_TRUE(fs::is_symlink(user_link));
    EXPECT_TRUE(fs::is_symlink(root_folder / testing::kStagedPackage));

    for (const fs::path& planted : {user_folder, user_link, root_folder}) fs::remove_all(planted);
}

// The stand-in's counterpart of a user's folder that is old and of the
// right mode, but not root's: left alone, while root's stale staging beside
// it goes.
TEST_F(StaleStaging, OnlyRootsOwnerOnlyFoldersGo) {
    const fs::path temp = machine.temp_directory();
    struct Planted {
        std::string name;
        unsigned mode;
        uid_t owner;
        bool goes;
    } planted[] = {
        {testing::staging_name(1), 0700, 0, true},
        {testing::staging_name(2), 0755, 0, false},
        {testing::staging_name(3), 0700, kOrdinaryUser, false},
        {std::string(staging::kStagingNamePrefix) + "4-00112233445566778899AABBCCDDEEFF", 0700, 0, false},
    };
    for (const Planted& p : planted) {
        const fs::path folder = temp / p.name;
        fs::create_directory(folder);
        write_text(folder / testing::kStagedPackage, "an earlier package");
        ASSERT_EQ(::chmod(folder.c_str(), p.mode), 0);
        ASSERT_EQ(::chown(folder.c_str(), p.owner, p.owner), 0);
        age(folder);
    }
    machine.request.parent_process_id = unused_process_id();
    const UpdaterRun run = machine.run();
    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_TRUE(log_holds(machine.request.helper_log_path, kSweptLine));
    for (const Planted& p : planted) {
        EXPECT_EQ(fs::exists(temp / p.name), !p.goes) << p.name;
        if (!p.goes) fs::remove_all(temp / p.name);
    }
}

// How many names of the staging prefix the directory's listing gives before
// `name` (all of them when `name` is not there).
std::size_t listed_before(const fs::path& directory, const std::string& name) {
    std::size_t before = 0;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const std::string listed = entry.path().filename().string();
        if (listed == name) break;
        if (listed.starts_with("VelmarchUpdate-")) ++before;
    }
    return before;
}

// 2,000 folders of the exact staging form, old and of the staging mode, that
// an ordinary user owns, and one real stale staging folder of root's that the
// listing gives only after more look-alikes than the sweep examines
// candidates: the stale folder goes, every look-alike stays, and no bound
// stopped the sweep.
TEST_F(StaleStaging, ALeftoverGoesWhateverNumberOfLookAlikesAUserMade) {
    constexpr std::size_t kLookAlikes = 2000;
    const fs::path temp = machine.temp_directory();
    const std::string hex = "00112233445566778899aabbccddeeff";
    for (std::size_t i = 0; i < kLookAlikes; ++i) {
        const fs::path folder = temp / ("VelmarchUpdate-" + std::to_string(i) + "-" + hex);
        fs::create_directory(folder);
        ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chown(folder.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
        age(folder);
    }
    // Renamed until the listing reaches it after more look-alikes than the
    // candidate limit (the listing's order is the file system's).
    fs::path stale = temp / ("VelmarchUpdate-999999-" + hex);
    fs::create_directory(stale);
    fs::permissions(stale, fs::perms(0700));
    write_text(stale / "velmarch-update.msi", "an earlier package");
    for (unsigned n = 0; listed_before(temp, stale.filename().string()) <= staging::kSweepCandidateLimit; ++n) {
        ASSERT_LT(n, 1000u) << "no name of the staging form is listed late enough";
        const fs::path renamed = temp / ("VelmarchUpdate-" + std::to_string(1000000 + n) + "-" + hex);
        fs::rename(stale, renamed);
        stale = renamed;
    }
    age(stale);

    machine.request.parent_process_id = unused_process_id();
    const UpdaterRun run = machine.run();
    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_TRUE(log_holds(machine.request.helper_log_path, kSweptLine));
    EXPECT_FALSE(log_holds(machine.request.helper_log_path, "stopped at its limit"));
    EXPECT_FALSE(fs::exists(stale));
    std::size_t left = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(temp)) ++left;
    EXPECT_EQ(left, kLookAlikes);
    for (std::size_t i = 0; i < kLookAlikes; ++i)
        fs::remove_all(temp / ("VelmarchUpdate-" + std::to_string(i) + "-" + hex));
}

}  // namespace
}  // namespace velmarch::e2e

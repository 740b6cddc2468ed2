// Runs that are interrupted or raced: the updater killed at arbitrary moments
// and started again, and a download rewritten while staging copies it. Both
// use a package big enough for every step of the run to take a while.

#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "e2e/stand_in_machine.h"
#include "platform/posix/owners.h"
#include "staging/staging_name.h"
#include "support/scratch_folder.h"
#include "support/test_signing.h"
#include "text/hex.h"
#include "trust/file_digest.h"

namespace velmarch::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kPackageSize = 256 * kMiB;

using platform::posix::UniqueFd;

// The package's digest is taken while it is written, with OpenSSL directly,
// apart from the updater's code; the file on disk is read back with the
// updater's own file digest.
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

DigestContext new_sha256() {
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        ADD_FAILURE() << "cannot start a SHA-256 digest";
    return context;
}

std::string finish_hex(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context, digest, &size);
    return text::encode_hex_lower(std::span(digest, size));
}

// The SHA-256 of a file as the updater computes it; empty when it cannot be read.
std::string file_sha256_hex(const fs::path& path) {
    const std::unique_ptr<platform::Platform> native = platform::make_native_platform(0, nullptr);
    return trust::compute_file_sha256(*native, to_path(path)).value_or("");
}

// Writes the big package: a header naming it, then a pseudo-random mebibyte
// repeated; returns its digest, computed while writing.
std::string write_big_package(const fs::path& path) {
    std::vector<char> block(kMiB);
    std::uint32_t state = 0x2400u;
    for (char& byte : block) {
        state = state * 1'664'525u + 1'013'904'223u;
        byte = static_cast<char>(state >> 24);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    DigestContext context = new_sha256();
    std::string header = "Velmarch 2.4.0 interruption test package\n";
    for (std::size_t written = 0; written < kPackageSize; written += kMiB) {
        std::vector<char> piece = block;
        if (written == 0) std::memcpy(piece.data(), header.data(), header.size());
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        EVP_DigestUpdate(context.get(), piece.data(), piece.size());
    }
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
    return finish_hex(context.get());
}

// Whether any stand-in program of `machine` is still running: a killed
// updater leaves its children behind, and their records must be complete
// before the next run appends to them.
bool stand_ins_running(const StandInMachine& machine) {
    const std::string root = machine.root().string();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string command_line = read_text(entry.path() / "cmdline").value_or("");
        if (command_line.find(root) != std::string::npos) return true;
    }
    return false;
}

void wait_for_stand_ins(const StandInMachine& machine) {
    const auto deadline = Clock::now() + 20s;
    while (stand_ins_running(machine)) {
        if (Clock::now() > deadline) {
            ADD_FAILURE() << "stand-in programs of a killed run did not end within 20 s";
            return;
        }
        std::this_thread::sleep_for(5ms);
    }
}

enum class Ending { killed, finished };

// Kills the updater unless it has already ended; leaves it unreaped for the
// RunningUpdater to reap.
Ending kill_unless_ended(pid_t process_id) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(process_id), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
        return Ending::finished;
    ::kill(process_id, SIGKILL);
    info = {};
    if (::waitid(P_PID, static_cast<id_t>(process_id), &info, WEXITED | WNOWAIT) != 0) {
        ADD_FAILURE() << "waitid failed: " << std::strerror(errno);
        return Ending::finished;
    }
    return info.si_code == CLD_KILLED ? Ending::killed : Ending::finished;
}

// A digest-matching installer record for every installer start.
::testing::AssertionResult installer_got_signed_bytes(const std::vector<Invocation>& installers) {
    for (std::size_t i = 0; i < installers.size(); ++i) {
        const auto digest = installers[i].facts.find("digest");
        if (digest == installers[i].facts.end() || digest->second != "match")
            return ::testing::AssertionFailure() << "installer start " << i << " got other bytes";
    }
    return ::testing::AssertionSuccess();
}

// Waits (up to 10 s) until the shell has recorded more than `before` starts.
std::optional<Invocation> wait_for_new_restart(const StandInMachine& machine, std::size_t before) {
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        std::vector<Invocation> started = machine.invocations("explorer");
        if (started.size() > before) return started.back();
        std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
}

class BigPackageTest : public StandInTest {
protected:
    static void SetUpTestSuite() {
        folder_ = new testing::ScratchFolder("velmarch-big-package-");
        if (folder_->path().empty()) return;
        master_ = new fs::path(folder_->path() / "velmarch-2.4.0.msi");
        digest_ = new std::string(write_big_package(*master_));
    }

    static void TearDownTestSuite() {
        delete digest_;
        delete master_;
        delete folder_;
        digest_ = nullptr;
        master_ = nullptr;
        folder_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(master_, nullptr);
        run::UpdateRequest& request = machine.request;
        request.expected_sha256 = *digest_;
        request.expected_version = "2.4.0";
        request.key_id = "velmarch-update-2026-01";
        request.signature_algorithm = "ed25519";
        request.signature = testing::sign_with_development_key(
            "velmarch-update-v1\nkey-id:velmarch-update-2026-01\nversion:2.4.0\nsha256:" + *digest_ + "\n");
        write_text(machine.records() / "expected.sha256", *digest_);
        restore_download();
    }

    // Puts the signed big package at the download path again.
    void restore_download() {
        fs::copy_file(*master_, fs_path(machine.request.msi_path), fs::copy_options::overwrite_existing);
    }

    bool download_intact() const { return file_sha256_hex(fs_path(machine.request.msi_path)) == *digest_; }

    static testing::ScratchFolder* folder_;
    static fs::path* master_;
    static std::string* digest_;
};

testing::ScratchFolder* BigPackageTest::folder_ = nullptr;
fs::path* BigPackageTest::master_ = nullptr;
std::string* BigPackageTest::digest_ = nullptr;

// --- killed and started again -------------------------------------------------

class KilledUpdater : public BigPackageTest {
protected:
    // Nobody removes the staging directory of a killed run. Each leftover must
    // be one a killed run made: named after its process id, owner-only.
    void TearDown() override {
        std::size_t leftovers = 0;
        for (const fs::path& entry : machine.temp_entries()) {
            const std::string name = entry.filename().string();
            bool from_killed_run = false;
            for (pid_t pid : killed_process_ids) {
                const std::string prefix = std::string(staging::kStagingNamePrefix) + std::to_string(pid) + "-";
                from_killed_run =
                    from_killed_run || (name.starts_with(prefix) && staging::is_staging_directory_name(name));
            }
            EXPECT_TRUE(from_killed_run) << name << " is no staging directory of a killed run";
            const fs::file_status status = fs::symlink_status(entry);
            EXPECT_EQ(status.type(), fs::file_type::directory) << name;
            EXPECT_EQ(status.permissions() & fs::perms::all, fs::perms::owner_all) << name;
            std::error_code ignored;
            fs::remove_all(entry, ignored);
            ++leftovers;
        }
        std::cout << "staging directories left by killed runs: " << leftovers << "\n";
        RecordProperty("staging_leftovers", static_cast<int>(leftovers));
        BigPackageTest::TearDown();
    }

    std::vector<pid_t> killed_process_ids;
};

std::uint64_t kill_seed() {
    if (const char* given = std::getenv("VELMARCH_KILL_SEED")) return std::strtoull(given, nullptr, 10);
    return std::random_device{}();
}

TEST_F(KilledUpdater, StartedAgainWithTheSameOptionsInstallsTheSignedPackage) {
    const std::vector<std::string> arguments = machine.arguments();

    // Whole runs give the span the kill moments are spread over: the shortest
    // of three, since the first one also pays for reading the fresh package
    // into the page cache and later runs are faster.
    Clock::duration duration = Clock::duration::max();
    for (std::size_t measured_runs = 0; measured_runs < 3; ++measured_runs) {
        const auto measured_start = Clock::now();
        const UpdaterRun measured = machine.run(arguments);
        duration = std::min(duration, Clock::now() - measured_start);
        ASSERT_EQ(measured.exit_status, 0) << measured.standard_error;
        ASSERT_TRUE(wait_for_new_restart(machine, measured_runs));
    }

    const std::uint64_t seed = kill_seed();
    std::cout << "kill seed (VELMARCH_KILL_SEED): " << seed
              << ", whole run: " << std::chrono::duration_cast<std::chrono::milliseconds>(duration).count() << " ms\n";
    RecordProperty("kill_seed", std::to_string(seed));
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> within(0.0, 1.0);

    // One moment in each of seven equal slices of the run.
    constexpr int kKills = 7;
    int finished_before_kill = 0;
    for (int slice = 0; slice < kKills; ++slice) {
        const auto moment = std::chrono::duration_cast<Clock::duration>(duration * ((slice + within(random)) / kKills));
        {
            RunningUpdater updater = machine.start(arguments);
            std::this_thread::sleep_until(Clock::now() + moment);
            const bool killed = kill_unless_ended(updater.process_id()) == Ending::killed;
            if (killed)
                killed_process_ids.push_back(updater.process_id());
            else
                ++finished_before_kill;
            std::cout << "at " << std::chrono::duration_cast<std::chrono::milliseconds>(moment).count()
                      << " ms: " << (killed ? "killed" : "had finished")
                      << ", staging directories: " << machine.temp_entries().size() << "\n";
        }  // reaped here
        wait_for_stand_ins(machine);
        ASSERT_TRUE(fs::exists(fs_path(machine.request.msi_path))) << "a killed run deleted the download";
        ASSERT_EQ(fs::file_size(fs_path(machine.request.msi_path)), kPackageSize);
    }
    std::cout << "killed runs: " << killed_process_ids.size()
              << ", finished before their kill: " << finished_before_kill << "\n";
    EXPECT_GE(killed_process_ids.size(), 4u) << "most kill moments fall within a run";

    const std::size_t installers_before = machine.invocations("msiexec").size();
    const std::size_t restarts_before = machine.invocations("explorer").size();
    const UpdaterRun run = machine.run(arguments);
    const std::optional<Invocation> shell = wait_for_new_restart(machine, restarts_before);
    ASSERT_TRUE(shell) << "the application was not restarted";

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
    const std::vector<std::string> messages = machine.helper_log_messages(run);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), kStarted);
    EXPECT_EQ(messages.back(), restart_line(machine.shell_path(), shell->process_id));

    const std::vector<Invocation> installers = machine.invocations("msiexec");
    ASSERT_EQ(installers.size(), installers_before + 1) << "the last run started the installer once";
    EXPECT_TRUE(installer_got_signed_bytes(installers));
    EXPECT_TRUE(download_intact());
}

// --- the download rewritten while staging copies it -------------------------------

class RewrittenDuringStaging : public BigPackageTest {};

// Overwrites the last mebibyte of the download in place, which the staging
// copy reaches last, as soon as the staging directory exists (before the
// copy begins). Returns false when the directory never appeared.
bool rewrite_tail_once_staging_starts(const StandInMachine& machine, int watch_fd) {
    pollfd wanted{watch_fd, POLLIN, 0};
    if (::poll(&wanted, 1, 20'000) != 1) return false;
    alignas(inotify_event) char events[4096];
    if (::read(watch_fd, events, sizeof events) <= 0) return false;

    UniqueFd download(::open(fs_path(machine.request.msi_path).c_str(), O_WRONLY));
    if (download.get() < 0) return false;
    const std::vector<char> other(kMiB, '\x5a');
    const auto offset = static_cast<off_t>(kPackageSize - kMiB);
    return ::pwrite(download.get(), other.data(), other.size(), offset) == static_cast<ssize_t>(other.size());
}

TEST_F(RewrittenDuringStaging, FailsTheSecondVerificationAndNeverReachesTheInstaller) {
    // Should the copy ever get past the end before the rewrite lands, the run
    // installs the untouched copy; that attempt proves nothing and is repeated.
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1) restore_download();
        write_text(fs_path(machine.request.result_path), "earlier result");
        const std::size_t installers_before = machine.invocations("msiexec").size();
        const std::size_t restarts_before = machine.invocations("explorer").size();

        UniqueFd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        ASSERT_GE(watch.get(), 0);
        ASSERT_GE(::inotify_add_watch(watch.get(), machine.temp_directory().c_str(), IN_CREATE | IN_ONLYDIR), 0);

        RunningUpdater updater = machine.start(machine.arguments());
        const bool rewritten = rewrite_tail_once_staging_starts(machine, watch.get());
        const UpdaterRun run = updater.wait();
        const std::optional<Invocation> shell = wait_for_new_restart(machine, restarts_before);
        ASSERT_TRUE(rewritten) << "the staging directory never appeared";
        ASSERT_TRUE(shell) << "the application was not restarted";

        const std::vector<Invocation> installers = machine.invocations("msiexec");
        EXPECT_TRUE(installer_got_signed_bytes(installers));
        if (run.exit_status == 0 && installers.size() == installers_before + 1) {
            std::cout << "attempt " << attempt << ": the copy was complete before the rewrite; again\n";
            continue;
        }

        EXPECT_EQ(run.exit_status, kAbortStatus);
        EXPECT_EQ(run.standard_error, "");
        EXPECT_EQ(installers.size(), installers_before) << "the installer was started";
        EXPECT_TRUE(machine.invocations("application").empty());
        EXPECT_EQ(machine.helper_log_messages(run),
                  (std::vector<std::string>{kStarted, std::string(kStagingFailed) + kDigestRefused,
                                            restart_line(machine.shell_path(), shell->process_id)}));
        EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("error", 1603, kDigestRefused));
        EXPECT_FALSE(fs::exists(fs_path(machine.request.msi_path))) << "the rewritten download was kept";
        EXPECT_TRUE(machine.temp_entries().empty()) << "the staging directory outlived the refusal";
        return;
    }
    FAIL() << "in " << kAttempts << " attempts the staging copy was always complete before the rewrite";
}

}  // namespace
}  // namespace velmarch::e2e

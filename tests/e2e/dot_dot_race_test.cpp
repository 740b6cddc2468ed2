// A ".." after a folder an ordinary user owns, met by the stand-in's elevated
// run (the updater run as root). The user keeps swapping that folder
// (rename-exchange) with a folder of its own in a shared sticky folder, next
// to a file only root may change. Were ".." taken from the system, it would
// lead into the shared folder whenever the swap had just happened, and the
// run would empty and write root's file as its helper log. Read by text,
// "inner/.." is the folder above "inner", whatever "inner" is by then.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "e2e/stand_in_machine.h"

namespace velmarch::e2e {
namespace {

constexpr uid_t kOrdinaryUser = 65534;  // nobody
constexpr int kAttempts = 25;
constexpr const char* kProtected = "only root may change this\n";

// The user's process, swapping two of its folders until it is killed.
class ExchangingUser {
public:
    ExchangingUser(const fs::path& first, const fs::path& second) {
        process_id_ = ::fork();
        if (process_id_ != 0) return;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOrdinaryUser) != 0 || ::setuid(kOrdinaryUser) != 0) ::_exit(3);
        for (;;) {
            if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0) ::_exit(4);
        }
    }
    ExchangingUser(const ExchangingUser&) = delete;
    ExchangingUser& operator=(const ExchangingUser&) = delete;
    ~ExchangingUser() { (void)stop(); }

    bool started() const { return process_id_ > 0; }
    // Ends the user's process; false when it had stopped on its own, that is
    // when a swap failed and the race was not run.
    bool stop() {
        if (process_id_ <= 0) return true;
        int status = 0;
        const bool still_running = ::waitpid(process_id_, &status, WNOHANG) == 0;
        if (still_running) {
            ::kill(process_id_, SIGKILL);
            ::waitpid(process_id_, &status, 0);
        }
        process_id_ = -1;
        return still_running;
    }

private:
    pid_t process_id_ = -1;
};

void give_to_user(const fs::path& path) { ASSERT_EQ(::chown(path.c_str(), kOrdinaryUser, kOrdinaryUser), 0) << path; }

TEST_F(StandInTest, DotDotAfterAFolderTheUserSwapsNeverLeadsOutOfItsParent) {
    if (::geteuid() != 0) GTEST_SKIP() << "an elevated run is played by root; this test runs as uid " << ::geteuid();
    // The user may pass through the machine to its folders.
    fs::permissions(machine.root(), fs::perms(0755));
    const fs::path logs = fs_path(machine.request.helper_log_path).parent_path();
    fs::permissions(logs, fs::perms(0755));
    const fs::path sub = logs / "sub";
    const fs::path inner = sub / "inner";
    fs::create_directories(inner);
    give_to_user(sub);
    give_to_user(inner);
    // A shared sticky folder, as /tmp is: root's file next to the user's folder.
    const fs::path shared = machine.root() / "Shared";
    fs::create_directories(shared / "mine");
    fs::permissions(shared, fs::perms(01777));
    give_to_user(shared / "mine");
    const fs::path protected_file = shared / "helper.log";
    write_text(protected_file, kProtected);
    fs::permissions(protected_file, fs::perms(0644));

    machine.request.helper_log_path = to_path(inner / ".." / "helper.log");
    ExchangingUser user(inner, shared / "mine");
    ASSERT_TRUE(user.started());

    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const UpdaterRun run = machine.run();
        ASSERT_TRUE(holds(protected_file, kProtected)) << "the run wrote root's file at attempt " << attempt;
        ASSERT_EQ(run.exit_status, 0) << "attempt " << attempt << ": " << run.standard_error;
    }
    ASSERT_TRUE(user.stop()) << "the user's swaps failed, so nothing was raced";
    // The helper log is where the text says: in "sub", the folder above "inner".
    const std::optional<std::string> log = read_text(sub / "helper.log");
    ASSERT_TRUE(log.has_value());
    EXPECT_NE(log->find("Velmarch native updater started."), std::string::npos);
    EXPECT_EQ(fs::directory_entry(protected_file).file_size(), std::string_view(kProtected).size());
}

}  // namespace
}  // namespace velmarch::e2e

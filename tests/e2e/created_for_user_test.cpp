// What the stand-in's elevated run (the updater run as root) creates in a
// folder its user owns: the helper log's missing folders, the helper log,
// the result and the installer log's copy. Root owns them, and a user cannot
// change the mode or owner of what they do not own, so, unlike on Windows,
// no access list is there to lock down: the user can only delete or rename
// them (where the folder allows) and put their own in their place, which the
// run refuses as a link its user made.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "e2e/stand_in_machine.h"

namespace velmarch::e2e {
namespace {

constexpr uid_t kOrdinaryUser = 65534;  // nobody

// In a child turned into the ordinary user: how many of the changes to
// `path`'s mode and owner the system refused with EPERM (of four).
int refused_changes_as_user(const fs::path& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kOrdinaryUser) != 0 || ::setuid(kOrdinaryUser) != 0) ::_exit(100);
        int refused = 0;
        refused += (::chmod(path.c_str(), 0777) != 0 && errno == EPERM) ? 1 : 0;
        refused += (::chown(path.c_str(), kOrdinaryUser, kOrdinaryUser) != 0 && errno == EPERM) ? 1 : 0;
        refused += (::chown(path.c_str(), static_cast<uid_t>(-1), kOrdinaryUser) != 0 && errno == EPERM) ? 1 : 0;
        refused += (::lchown(path.c_str(), kOrdinaryUser, static_cast<gid_t>(-1)) != 0 && errno == EPERM) ? 1 : 0;
        ::_exit(refused);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class CreatedForTheUser : public ElevatedStandInTest {};

TEST_F(CreatedForTheUser, TheUserCannotChangeTheModeOrOwnerOfWhatTheRunCreated) {
    // The user reaches their folder (the machine's root is private to root).
    fs::permissions(machine.root(), fs::perms(0755));
    const fs::path reports = machine.root() / "Reports";
    fs::create_directories(reports);
    ASSERT_EQ(::chown(reports.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
    const fs::path updates = reports / "Velmarch" / "Updates";
    machine.request.helper_log_path = to_path(updates / "helper.log");
    machine.request.result_path = to_path(updates / "result.json");
    machine.request.msi_log_path = to_path(updates / "msiexec.log");

    const UpdaterRun run = machine.run();

    ASSERT_EQ(run.exit_status, 0) << run.standard_error;
    for (const fs::path& created :
         {reports / "Velmarch", updates, updates / "helper.log", updates / "result.json", updates / "msiexec.log"}) {
        SCOPED_TRACE(created.string());
        struct stat status {};
        ASSERT_EQ(::lstat(created.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 0u);
        const mode_t mode_before = status.st_mode;
        EXPECT_EQ(refused_changes_as_user(created), 4);
        ASSERT_EQ(::lstat(created.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 0u);
        EXPECT_EQ(status.st_mode, mode_before);
    }
}

}  // namespace
}  // namespace velmarch::e2e

// Links planted by an ordinary user, met by the stand-in's elevated run (the
// updater run as root). A link that root does not own is never followed, so
// the files behind it, which only root may touch, stay as they are; root's
// own links are followed as before.

#include <sys/stat.h>
#include <unistd.h>

#include "e2e/stand_in_machine.h"

namespace velmarch::e2e {
namespace {

constexpr uid_t kOrdinaryUser = 65534;  // nobody
constexpr int kAbortStatus = 1603 & 0xFF;
constexpr const char* kRefused = "Permission denied (os error 13)";
constexpr const char* kProtected = "only root may change this\n";

class PlantedLinks : public ElevatedStandInTest {
protected:
    // A file in the protected folder that a followed link would let the run
    // overwrite, delete or start.
    fs::path protected_file(const std::string& name, std::string_view content = kProtected) {
        const fs::path path = protected_dir / name;
        write_text(path, content);
        return path;
    }

    // The user owns the folder the link is planted in, as a profile folder is.
    static void give_to_user(const fs::path& directory) {
        ASSERT_EQ(::chown(directory.c_str(), kOrdinaryUser, kOrdinaryUser), 0) << directory;
    }

    static void plant_link(const fs::path& link, const fs::path& target, uid_t owner) {
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
        ASSERT_EQ(::lchown(link.c_str(), owner, owner), 0) << link;
    }
};

TEST_F(PlantedLinks, AtTheHelperLogAbortsTheRunAndLeavesTheTargetAlone) {
    const fs::path target = protected_file("system.cfg");
    const fs::path logs = fs_path(machine.request.helper_log_path).parent_path();
    give_to_user(logs);
    plant_link(fs_path(machine.request.helper_log_path), target, kOrdinaryUser);
    write_text(fs_path(machine.request.result_path), "earlier result");

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(run.standard_error, std::string(kRefused) + "\n");
    EXPECT_TRUE(holds(target, kProtected));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), "earlier result");
    EXPECT_TRUE(holds(fs_path(machine.request.msi_path), machine.package_content()));
    EXPECT_TRUE(machine.invocations("msiexec").empty());
    EXPECT_TRUE(machine.invocations("explorer").empty());
}

TEST_F(PlantedLinks, AboveTheResultFileDropsTheResultAndTheRunGoesOn) {
    const fs::path logs = fs_path(machine.request.helper_log_path).parent_path();
    give_to_user(logs);
    const fs::path target = protected_file("result.json");
    plant_link(logs / "results", protected_dir, kOrdinaryUser);
    machine.request.result_path = to_path(logs / "results" / "result.json");

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0);
    // Neither the deletion of an earlier result nor the new one reached it.
    EXPECT_TRUE(holds(target, kProtected));
    const std::vector<std::string> log = machine.helper_log_messages(run);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Velmarch native updater started.");
    EXPECT_EQ(machine.invocations("application").size(), 1u);
    EXPECT_TRUE(machine.wait_for_restart().has_value());
}

TEST_F(PlantedLinks, AboveTheDownloadRefusesThePackageAndDeletesNothing) {
    const fs::path downloads = fs_path(machine.request.msi_path).parent_path();
    give_to_user(downloads);
    // The protected file carries the very bytes that were signed: only the
    // link stands between the run and installing or deleting it.
    const fs::path target =
        protected_file(fs_path(machine.request.msi_path).filename().string(), machine.package_content());
    plant_link(downloads / "latest", protected_dir, kOrdinaryUser);
    machine.request.msi_path = to_path(downloads / "latest" / target.filename());

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_TRUE(holds(target, machine.package_content()));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)),
              expected_result("error", 1603, "The downloaded update package is not a valid MSI file."));
    EXPECT_TRUE(machine.invocations("msiexec").empty());
    EXPECT_TRUE(machine.temp_directory_untouched());
}

// The install directory is reached through the user's link: the application
// behind it is never started, neither to confirm the version nor to restart.
TEST_F(PlantedLinks, AboveTheApplicationAndInstallDirectoryStartsNothingBehindIt) {
    const fs::path behind = protected_dir / "Velmarch";
    fs::create_directories(behind);
    machine.write_stand_in(behind / "Velmarch.exe", "protected-application");
    const fs::path programs = fs_path(machine.request.install_dir).parent_path();
    give_to_user(programs);
    plant_link(programs / "Linked", behind, kOrdinaryUser);
    machine.request.install_dir = to_path(programs / "Linked");
    machine.request.app_path = to_path(programs / "Linked" / "Velmarch.exe");

    const UpdaterRun run = machine.run();

    const std::string missing = "The installed application executable was not found after the update.";
    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)),
              expected_result("installVerificationFailed", 1603, missing));
    const std::vector<std::string> log = machine.helper_log_messages(run);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "The application executable was not found for restart.");
    EXPECT_TRUE(machine.invocations("protected-application").empty());
    EXPECT_TRUE(machine.invocations("explorer").empty());
}

// Only the working directory of the version check passes through the link:
// starting in it is refused with the system's error.
TEST_F(PlantedLinks, AboveTheInstallDirectoryAloneRefusesToStartThere) {
    const fs::path behind = protected_dir / "Velmarch";
    fs::create_directories(behind);
    const fs::path programs = fs_path(machine.request.install_dir).parent_path();
    give_to_user(programs);
    plant_link(programs / "Linked", behind, kOrdinaryUser);
    machine.request.install_dir = to_path(programs / "Linked");

    const UpdaterRun run = machine.run();

    const std::string message = std::string("The installed application version could not be verified: ") + kRefused;
    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)),
              expected_result("installVerificationFailed", 1603, message));
    EXPECT_TRUE(machine.invocations("application").empty());
    const std::vector<std::string> log = machine.helper_log_messages(run);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), std::string("Application restart failed: ") + kRefused);
}

// The installer writes its log into staging; the run copies it out through
// its own walk, which refuses the user's link: the update goes on, the log is
// not delivered and the protected file stays as it is.
TEST_F(PlantedLinks, AboveTheInstallerLogLeavesTheTargetAloneAndTheUpdateGoesOn) {
    const fs::path logs = fs_path(machine.request.msi_log_path).parent_path();
    give_to_user(logs);
    const fs::path target = protected_file("msiexec.log");
    plant_link(logs / "installer", protected_dir, kOrdinaryUser);
    machine.request.msi_log_path = to_path(logs / "installer" / "msiexec.log");

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_TRUE(holds(target, kProtected));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
    ASSERT_EQ(machine.invocations("msiexec").size(), 1u);
    EXPECT_TRUE(machine.wait_for_restart().has_value());
}

// The attack on the installer's own opening of its log: the user renames the
// folder that holds the caller's installer log while the installer runs and
// puts a link to a root-only folder in its place. The installer writes into
// staging, and the run's copy refuses the link, so the root-only folder stays
// empty. Without the swap the same run delivers the log where it was asked.
TEST_F(PlantedLinks, TheLogFolderSwappedWhileTheInstallerRunsLeavesTheRootOnlyFolderEmpty) {
    const fs::path logs = fs_path(machine.request.msi_log_path).parent_path();
    give_to_user(logs);
    const fs::path installer_logs = logs / "installer";
    fs::create_directories(installer_logs);
    give_to_user(installer_logs);
    const fs::path root_only = machine.root() / "RootOnly";
    fs::create_directories(root_only);
    fs::permissions(root_only, fs::perms(0700));
    machine.request.msi_log_path = to_path(installer_logs / "msiexec.log");
    machine.hold_installer();

    RunningUpdater updater = machine.start(machine.arguments());
    ASSERT_TRUE(machine.wait_until_installer_holds());
    fs::rename(installer_logs, logs / "installer-before");
    plant_link(installer_logs, root_only, kOrdinaryUser);
    machine.release_installer();
    const UpdaterRun run = updater.wait();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_TRUE(fs::is_empty(root_only));
    EXPECT_TRUE(fs::is_empty(logs / "installer-before"));
    const std::vector<Invocation> installers = machine.invocations("msiexec");
    ASSERT_EQ(installers.size(), 1u);
    EXPECT_EQ(fs::path(installers.front().facts.at("log")).parent_path().parent_path(), machine.temp_directory());
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
    EXPECT_TRUE(machine.wait_for_restart().has_value());
}

// A user's link put at the caller's installer log path as the installer ends
// does not redirect the copy: the protected file behind it stays as it was.
TEST_F(PlantedLinks, AtTheInstallerLogAfterTheInstallDoesNotRedirectTheCopy) {
    const fs::path log = fs_path(machine.request.msi_log_path);
    give_to_user(log.parent_path());
    const fs::path target = protected_file("system.cfg");
    machine.write_stand_in(machine.installer_path(), "msiexec",
                           "ln -s '" + target.string() + "' '" + log.string() + "' && chown -h " +
                               std::to_string(kOrdinaryUser) + " '" + log.string() + "' && exit 0\nexit 99");

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_TRUE(fs::is_symlink(log));
    EXPECT_TRUE(holds(target, kProtected));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
}

// Root's own links everywhere at once: followed as any program follows them.
TEST_F(PlantedLinks, RootsOwnLinksAreFollowed) {
    const fs::path logs = fs_path(machine.request.helper_log_path).parent_path();
    const fs::path real_logs = protected_dir / "Logs";
    const fs::path real_downloads = protected_dir / "Downloads";
    fs::create_directories(real_logs);
    fs::create_directories(real_downloads);
    fs::copy_file(fs_path(machine.request.msi_path), real_downloads / "velmarch-2.4.0.msi");
    const fs::path programs = fs_path(machine.request.install_dir).parent_path();
    plant_link(logs / "linked-logs", real_logs, 0);
    plant_link(logs / "helper-link.log", real_logs / "helper.log", 0);
    plant_link(fs_path(machine.request.msi_path).parent_path() / "linked", real_downloads, 0);
    plant_link(programs / "Linked", fs_path(machine.request.install_dir), 0);
    plant_link(logs / "linked-installer-logs", real_logs, 0);
    machine.request.msi_log_path = to_path(logs / "linked-installer-logs" / "msiexec.log");
    machine.request.helper_log_path = to_path(logs / "helper-link.log");
    machine.request.result_path = to_path(logs / "linked-logs" / "result.json");
    machine.request.msi_path =
        to_path(fs_path(machine.request.msi_path).parent_path() / "linked" / "velmarch-2.4.0.msi");
    machine.request.install_dir = to_path(programs / "Linked");
    machine.request.app_path = to_path(programs / "Linked" / "Velmarch.exe");

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_EQ(read_text(real_logs / "result.json"), expected_result("success", 0, ""));
    const std::optional<std::string> log = read_text(real_logs / "helper.log");
    ASSERT_TRUE(log.has_value());
    EXPECT_TRUE(log->find("Velmarch native updater started.") != std::string::npos);
    EXPECT_TRUE(holds(real_logs / "msiexec.log", kStandInInstallerLog));
    EXPECT_EQ(machine.invocations("application").size(), 1u);
    EXPECT_TRUE(machine.wait_for_restart().has_value());
}

}  // namespace
}  // namespace velmarch::e2e

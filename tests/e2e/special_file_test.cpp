// FIFOs where the updater expects files. An ordinary user can make one at any
// path in their profile; an open or a read of one that nobody serves never
// ends, and a run left waiting on it would leave no result, no restart and
// its staging behind. Every case ends within the wait's limit (30 s, after
// which the updater is killed and the test fails).

#include <sys/stat.h>

#include <algorithm>

#include "e2e/stand_in_machine.h"

namespace velmarch::e2e {
namespace {

constexpr const char* kNotRegular = "not a regular file";

void make_fifo(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0) << path;
}

std::string quoted(const fs::path& path) {
    std::string text = "'";
    for (char c : path.string()) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

using SpecialFiles = StandInTest;

struct DownloadCase {
    std::string name;
    bool fed_from_dev_zero;
};

class FifoAtTheDownload : public StandInParamTest<DownloadCase> {};

// Refused as a package of the wrong type before a byte is read, whether a
// writer feeds it without end or nobody ever opens the other end.
TEST_P(FifoAtTheDownload, IsRefusedAsNoMsiFile) {
    make_fifo(fs_path(machine.request.msi_path));
    std::optional<OwnedChild> writer;
    if (GetParam().fed_from_dev_zero)
        writer.emplace(std::vector<std::string>{"/bin/sh", "-c",
                                                "exec cat /dev/zero > " + quoted(fs_path(machine.request.msi_path))});

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("error", 1603, kNotAnMsi));
    const std::optional<Invocation> restart = machine.wait_for_restart();
    ASSERT_TRUE(restart.has_value());
    EXPECT_EQ(machine.helper_log_messages(run),
              (std::vector<std::string>{kStarted, std::string("Package verification failed: ") + kNotAnMsi,
                                        restart_line(machine.shell_path(), restart->process_id)}));
    EXPECT_TRUE(machine.invocations("msiexec").empty());
    EXPECT_TRUE(machine.temp_directory_untouched());
}

INSTANTIATE_TEST_SUITE_P(Cases, FifoAtTheDownload,
                         ::testing::Values(DownloadCase{"NobodyWrites", false}, DownloadCase{"FedFromDevZero", true}),
                         CaseName());

TEST_F(SpecialFiles, AFifoAtTheHelperLogAbortsTheRunBeforeAnythingElse) {
    make_fifo(fs_path(machine.request.helper_log_path));
    write_text(fs_path(machine.request.result_path), "earlier result");

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(run.standard_error, std::string(kNotRegular) + "\n");
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), "earlier result");
    EXPECT_TRUE(holds(fs_path(machine.request.msi_path), machine.package_content()));
    EXPECT_TRUE(machine.invocations("msiexec").empty());
    EXPECT_TRUE(machine.invocations("explorer").empty());
    EXPECT_TRUE(machine.temp_directory_untouched());
}

struct InstallerLogFifoCase {
    std::string name;
    bool planted_by_the_installer;  // after writing its log; otherwise there from the start
};

class FifoAtTheInstallerLog : public StandInParamTest<InstallerLogFifoCase> {};

// The installer writes its log into staging; only the run's own copy opens
// the caller's path, after the install, and it neither waits on a FIFO nor
// writes into one. The update goes on and the log is not delivered.
TEST_P(FifoAtTheInstallerLog, NeitherBlocksNorFailsTheUpdate) {
    const fs::path log = fs_path(machine.request.msi_log_path);
    if (GetParam().planted_by_the_installer) {
        machine.write_stand_in(machine.installer_path(), "msiexec",
                               "rm -f " + quoted(log) + " && mkfifo " + quoted(log) + " && exit 0\nexit 99");
    } else {
        make_fifo(log);
    }

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
    ASSERT_EQ(machine.invocations("msiexec").size(), 1u);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(log)));
    EXPECT_TRUE(machine.wait_for_restart().has_value());
    EXPECT_TRUE(machine.temp_entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, FifoAtTheInstallerLog,
                         ::testing::Values(InstallerLogFifoCase{"ThereFromTheStart", false},
                                           InstallerLogFifoCase{"PlantedWhileTheInstallerRuns", true}),
                         CaseName());

struct DuringInstallCase {
    std::string name;
    bool result;  // true: the result path; false: the helper log
};

class FifoPlantedWhileTheInstallerRuns : public StandInParamTest<DuringInstallCase> {};

// The installer succeeds and, as it ends, a FIFO takes the place of the
// result file or the helper log. The run still ends as a success: what cannot
// be written is dropped, the application is confirmed and restarted, and
// staging is removed (the fixture checks that no staging directory is left).
TEST_P(FifoPlantedWhileTheInstallerRuns, TheRunEndsAndRemovesStaging) {
    const fs::path planted =
        GetParam().result ? fs_path(machine.request.result_path) : fs_path(machine.request.helper_log_path);
    machine.write_stand_in(machine.installer_path(), "msiexec",
                           "rm -f " + quoted(planted) + " && mkfifo " + quoted(planted) + " && exit 0\nexit 99");

    const UpdaterRun run = machine.run();

    EXPECT_EQ(run.exit_status, 0) << run.standard_error;
    EXPECT_EQ(run.standard_error, "");
    ASSERT_EQ(machine.invocations("msiexec").size(), 1u);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(planted)));
    EXPECT_EQ(machine.invocations("application").size(), 1u);
    EXPECT_TRUE(machine.wait_for_restart().has_value());
    EXPECT_TRUE(machine.temp_entries().empty());
    if (GetParam().result) {
        const std::vector<std::string> log = machine.helper_log_messages(run);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), kStarted);
        EXPECT_TRUE(std::find(log.begin(), log.end(), kInstallerExited0) != log.end());
    } else {
        EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("success", 0, ""));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FifoPlantedWhileTheInstallerRuns,
                         ::testing::Values(DuringInstallCase{"AtTheResult", true},
                                           DuringInstallCase{"AtTheHelperLog", false}),
                         CaseName());

}  // namespace
}  // namespace velmarch::e2e

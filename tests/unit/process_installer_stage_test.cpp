// The installer stage: what it logs and runs, in order, and the ending it
// hands the run, which the run then records and restarts as it says.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <expected>
#include <tuple>

#include "platform/path/path.h"
#include "process/installer_stage.h"
#include "run/finish_run.h"
#include "run/stage_inputs.h"
#include "support/case_name.h"
#include "support/installer_exit_codes.h"
#include "support/msiexec_command_line.h"
#include "support/process_world.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

using testing::PrintTo;  // cases print by name

using platform::Path;
using run::installer_inputs;
using testing::as_path;
using update::ResultStatus;
using update::result_status_word;
using testing::fake_os_error;
using testing::Op;
using testing::test_path;
using testing::test_path_list;
using testing::utf8;
using Events = std::vector<std::string>;

class InstallerStage : public ::testing::Test, public testing::ProcessWorld {
protected:
    InstallerStage() {
        // The installer writes its log where /L*v says, then answers the next
        // code of `installer_exit_codes` (the last one again once they run out).
        fake.on_run = [this](const platform::LaunchRequest& launch) -> Result<std::int32_t> {
            if (launch.application == msiexec) {
                const std::size_t run = installer_runs++;
                if (run < runs_that_write_a_log) fake.add_file(staged_log, installer_log_of(run));
                if (installer_exit_codes.empty()) return installer_exit_code;
                return installer_exit_codes[std::min(run, installer_exit_codes.size() - 1)];
            }
            if (launch.application == app) return application_exit_code;
            return fail(ErrorKind::general, "no such program in this test");
        };
    }

    // What the stage returned and the exit code the run finishes it with.
    struct Finished {
        StageFinished stage;
        std::int32_t process_exit_code;
    };

    // The stage, then the run's finishing of the ending it returns, as a run
    // does it. The stage itself records nothing and restarts nothing.
    std::expected<Finished, update::RunAborted> run() {
        const std::size_t results_before = reporter.results.size();
        const std::size_t starts_before = fake.detached.size();
        auto stage =
            run_installer_stage(fake, installer_inputs(request), StagedInstall{staged_package, staged_log}, reporter);
        EXPECT_EQ(reporter.results.size(), results_before);
        EXPECT_EQ(fake.detached.size(), starts_before);
        if (!stage) return std::unexpected(stage.error());
        const std::int32_t exit_code =
            run::finish_run(fake, reporter, stage->log_line, stage->ending, request.app_path, request.install_dir);
        return Finished{std::move(*stage), exit_code};
    }

    // Bytes as Windows Installer writes them: UTF-16 with its byte-order mark.
    static std::string installer_log_of(std::size_t run) {
        const std::string text = "=== Verbose logging, run " + std::to_string(run + 1) + " ===\r\n";
        std::string bytes = "\xFF\xFE";
        for (const char c : text) bytes.append({c, '\0'});
        return bytes;
    }
    // What the caller's installer log must hold after `runs` installer runs.
    static std::string delivered_logs(std::size_t runs) {
        std::string all;
        for (std::size_t run = 0; run < runs; ++run) all += installer_log_of(run);
        return all;
    }

    std::string installer_run(std::string_view repair_arguments = "") const {
        return "run: \"" + utf8(msiexec) + "\" /i " + utf8(staged_package) +
               " /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 /L*v " + utf8(staged_log) + " " +
               std::string(repair_arguments) + "INSTALLDIR=\"" + utf8(install_dir) + "\"";
    }

    std::int32_t installer_exit_code = 0;
    std::vector<std::int32_t> installer_exit_codes;  // one per run, when given
    std::size_t installer_runs = 0;
    std::size_t runs_that_write_a_log = SIZE_MAX;  // the later runs end before they log
    std::int32_t application_exit_code = 0;
    const std::string kInstallerRun = installer_run();
    const std::string kVersionCheckRun = "run: \"" + utf8(app) + "\" --verify-installed-version 2.4.0";
    const std::string kRestartStart = "start: \"" + utf8(explorer) + "\" \"" + utf8(app) + "\"";
    const std::string kRestartLine =
        "log: Application restart requested through " + utf8(explorer) + " with process id 7000.";
};

std::string command_text(const InstallerCommand& command) {
    auto composed = compose_command_line(platform::path_to_utf16(command.program), command.arguments);
    return composed ? text::utf16_to_utf8_lossy(*composed) : "error: " + composed.error().text;
}

TEST_F(InstallerStage, ConfirmedInstallRecordsSuccessThenRestarts) {
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 0);
    EXPECT_EQ(finished->stage.log_line, "");
    EXPECT_EQ(finished->stage.ending.status, ResultStatus::success);
    EXPECT_TRUE(finished->stage.ending.restart);
    EXPECT_EQ(reporter.events, (Events{
                                   "log: Starting Windows Installer.",
                                   kInstallerRun,
                                   "log: Windows Installer exited with code 0.",
                                   kVersionCheckRun,
                                   "result: success 0 ",
                                   kRestartStart,
                                   kRestartLine,
                               }));
    ASSERT_EQ(fake.runs.size(), 2u);
    EXPECT_EQ(fake.runs[0].working_directory, std::nullopt);
    EXPECT_EQ(fake.runs[1].working_directory, install_dir);
    // The installer writes its log into staging; the caller's path reaches
    // no child, and the run copies the log there itself.
    for (const auto& launch : fake.runs)
        EXPECT_EQ(text::utf16_to_utf8_lossy(launch.command_line).find(utf8(request.msi_log_path)), std::string::npos);
    EXPECT_EQ(fake.file_text(request.msi_log_path), delivered_logs(1));
}

TEST_F(InstallerStage, FailedVersionCheckIsLoggedRecordedAndStillRestarts) {
    application_exit_code = 1;
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 1603);
    const std::string message =
        "The installed application did not report expected version 2.4.0 after Windows Installer completed.";
    EXPECT_EQ(finished->stage.log_line, message);
    EXPECT_EQ(finished->stage.ending.message, message);
    EXPECT_EQ(reporter.events, (Events{
                                   "log: Starting Windows Installer.",
                                   kInstallerRun,
                                   "log: Windows Installer exited with code 0.",
                                   kVersionCheckRun,
                                   "log: " + message,
                                   "result: installVerificationFailed 1603 " + message,
                                   kRestartStart,
                                   kRestartLine,
                               }));
}

using testing::InstallerExitCodeRow;

class InstallerStageExitCodes : public InstallerStage, public ::testing::WithParamInterface<InstallerExitCodeRow> {};

TEST_P(InstallerStageExitCodes, LogsChecksRecordsAndRestartsAsItsRowSays) {
    const InstallerExitCodeRow& c = GetParam();
    fake.add_file(request.msi_log_path, "an earlier run's installer log, longer than this one's");
    installer_exit_code = c.installer_exit_code;
    application_exit_code = c.application_exit_code;
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, c.process_exit_code);
    const update::RunEnding& ending = finished->stage.ending;
    EXPECT_EQ(
        std::tie(ending.status, ending.result_exit_code, ending.message, ending.restart, ending.process_exit_code),
        std::make_tuple(c.status, c.result_exit_code, std::string(c.message), c.restart, c.process_exit_code));
    EXPECT_EQ(finished->stage.log_line,
              c.status == ResultStatus::install_verification_failed ? std::string(c.message) : std::string());
    Events expected{
        "log: Starting Windows Installer.",
        kInstallerRun,
        "log: Windows Installer exited with code " + std::to_string(c.installer_exit_code) + ".",
    };
    if (c.version_checked) expected.push_back(kVersionCheckRun);
    if (c.status == ResultStatus::install_verification_failed) expected.push_back("log: " + std::string(c.message));
    expected.push_back(text::format("result: {} {} {}", result_status_word(c.status), c.result_exit_code, c.message));
    if (c.restart) {
        expected.push_back(kRestartStart);
        expected.push_back(kRestartLine);
    }
    EXPECT_EQ(reporter.events, expected);
    // Whatever the installer answered, its log reaches the caller's path
    // exactly, replacing what an earlier run left there.
    EXPECT_EQ(fake.file_text(request.msi_log_path), delivered_logs(1));
    EXPECT_TRUE(fake.sleeps.empty());
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, InstallerStageExitCodes, ::testing::ValuesIn(testing::installer_exit_code_rows()),
                         testing::CaseName());

TEST_F(InstallerStage, RestartProblemsDoNotChangeTheOutcome) {
    fake.fail(Op::start_detached, fake_os_error(2));
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 0);
    EXPECT_EQ(reporter.log.back(),
              "Application restart failed: The system cannot find the file specified. (os error 2)");
}

class InstallerStageMissingInstaller : public InstallerStage, public ::testing::WithParamInterface<bool> {};

TEST_P(InstallerStageMissingInstaller, FinishesWith1603AfterLoggingRecordingAndRestarting) {
    ASSERT_TRUE(fake.delete_file(msiexec).has_value());
    if (GetParam()) fake.add_directory(msiexec);
    ASSERT_EQ(fake.file_type(msiexec), GetParam() ? platform::FileType::directory : platform::FileType::missing);
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 1603);
    EXPECT_EQ(finished->stage.log_line, "Windows Installer was not found.");
    const update::RunEnding& ending = finished->stage.ending;
    EXPECT_EQ(
        std::tie(ending.status, ending.result_exit_code, ending.message, ending.restart, ending.process_exit_code),
        std::make_tuple(ResultStatus::error, 1603, std::string("Windows Installer was not found."), true, 1603));
    EXPECT_EQ(reporter.events, (Events{
                                   "log: Windows Installer was not found.",
                                   "result: error 1603 Windows Installer was not found.",
                                   kRestartStart,
                                   kRestartLine,
                               }));
    EXPECT_TRUE(fake.runs.empty());
}

INSTANTIATE_TEST_SUITE_P(MissingOrDirectory, InstallerStageMissingInstaller, ::testing::Bool(),
                         (testing::NamesInOrder{"Missing", "ADirectoryInItsPlace"}));

TEST_F(InstallerStage, WithoutAWindowsDirectoryTheBareNameIsSearched) {
    fake.windows_dir.reset();
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    ASSERT_FALSE(fake.runs.empty());
    EXPECT_EQ(fake.runs[0].application, msiexec);
    EXPECT_TRUE(text::utf16_to_utf8_lossy(fake.runs[0].command_line).starts_with("\"msiexec.exe\" /i "));
}

// The bare name is looked for in the system and Windows directories only: a
// copy in the updater's own folder or on the user's PATH is never run with
// the updater's rights.
TEST_F(InstallerStage, WithoutAWindowsDirectoryAMissingInstallerCannotBeStarted) {
    fake.windows_dir.reset();
    ASSERT_TRUE(fake.delete_file(msiexec).has_value());
    fake.add_file(test_path("/Updater/msiexec.exe"), "");
    fake.add_file(test_path("/home/user/bin/msiexec.exe"), "");
    fake.environment["PATH"] = test_path_list("/home/user/bin");
    auto finished = run();
    ASSERT_FALSE(finished.has_value());
    EXPECT_EQ(finished.error().message, "Windows Installer could not be started: program not found");
    EXPECT_EQ(reporter.events, (Events{"log: Starting Windows Installer."}));
    EXPECT_TRUE(fake.runs.empty());
}

TEST_F(InstallerStage, RefusedInstallDirFailsAfterTheStartLineOnly) {
    request.install_dir = test_path("/Program Files/Velmarch\"/x");
    auto finished = run();
    ASSERT_FALSE(finished.has_value());
    EXPECT_EQ(finished.error().message, "The current install directory cannot be passed to Windows Installer.");
    EXPECT_EQ(reporter.events, (Events{"log: Starting Windows Installer."}));
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_TRUE(fake.detached.empty());
}

// An elevated run inherits the starting user's environment: their SystemRoot
// does not choose the program that runs as administrator.
TEST_F(InstallerStage, SystemRootDoesNotChooseTheInstaller) {
    fake.add_file(test_path("/home/user/System32/msiexec.exe"), "");
    fake.environment["SystemRoot"] = test_path("/home/user").native();
    ASSERT_TRUE(run().has_value());
    ASSERT_FALSE(fake.runs.empty());
    EXPECT_EQ(fake.runs[0].application, msiexec);
    EXPECT_EQ(reporter.events[1], kInstallerRun);

    // Nor when the system's own copy is missing: that is "not found".
    ASSERT_TRUE(fake.delete_file(msiexec).has_value());
    fake.runs.clear();
    reporter.events.clear();
    ASSERT_TRUE(run().has_value());
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_EQ(reporter.events.front(), "log: Windows Installer was not found.");
}

// The caller's installer log path is only where the staged log is copied:
// one that msiexec would split into options of its own never reaches it.
TEST_F(InstallerStage, ALogPathMsiexecWouldSplitNeverReachesIt) {
    for (const char* log : {"/Logs/a\" /i /other.msi Z=", "/Logs/a\rb.log", "/Logs/a\nb.log"}) {
        fake.runs.clear();
        request.msi_log_path = test_path(log);
        auto finished = run();
        ASSERT_TRUE(finished.has_value()) << log;
        ASSERT_EQ(fake.runs.size(), 2u) << log;  // the installer, then the version check
        for (const auto& launch : fake.runs) {
            const std::string command_line = text::utf16_to_utf8_lossy(launch.command_line);
            EXPECT_EQ(command_line.find(utf8(request.msi_log_path)), std::string::npos) << command_line;
            EXPECT_EQ(command_line.find("other.msi"), std::string::npos) << command_line;
        }
    }
}

TEST_F(InstallerStage, StartFailureFailsWithTheLaunchError) {
    fake.fail(Op::run_and_wait, fake_os_error(5));
    auto finished = run();
    ASSERT_FALSE(finished.has_value());
    EXPECT_EQ(finished.error().message, "Windows Installer could not be started: Access is denied. (os error 5)");
    EXPECT_EQ(reporter.events, (Events{"log: Starting Windows Installer.", kInstallerRun}));
    EXPECT_TRUE(reporter.results.empty());
    EXPECT_TRUE(fake.detached.empty());
    EXPECT_FALSE(fake.has_file(request.msi_log_path));
}

TEST_F(InstallerStage, RepairModeRunsTheRepairCommand) {
    request.repair_mode = true;
    ASSERT_TRUE(run().has_value());
    ASSERT_FALSE(fake.runs.empty());
    EXPECT_EQ("run: " + text::utf16_to_utf8_lossy(fake.runs[0].command_line),
              installer_run("REINSTALL=ALL REINSTALLMODE=amus "));
}

// Delivering the installer's log never changes the run: a staged log that
// cannot be opened or read, or a caller's file that cannot be written, leaves
// the events, the result and the exit code as they are, and the copy stops
// where it failed.
struct DeliveryFailure {
    const char* name;
    void (*arrange)(testing::FakePlatform& fake, const Path& caller_log);
    std::size_t delivered_bytes;  // of the run's log; SIZE_MAX: the earlier file stays
};

class InstallerLogDeliveryFailure : public InstallerStage, public ::testing::WithParamInterface<DeliveryFailure> {};

TEST_P(InstallerLogDeliveryFailure, IsDroppedAndChangesNothingElse) {
    const std::string earlier = "an earlier run's installer log";
    fake.add_file(request.msi_log_path, earlier);
    GetParam().arrange(fake, request.msi_log_path);
    const bool earlier_there = fake.has_file(request.msi_log_path);

    auto finished = run();

    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 0);
    EXPECT_EQ(reporter.events,
              (Events{"log: Starting Windows Installer.", kInstallerRun, "log: Windows Installer exited with code 0.",
                      kVersionCheckRun, "result: success 0 ", kRestartStart, kRestartLine}));
    const std::size_t delivered = GetParam().delivered_bytes;
    if (delivered == SIZE_MAX && earlier_there) {
        EXPECT_EQ(fake.file_text(request.msi_log_path), earlier);
    } else if (delivered == SIZE_MAX) {
        EXPECT_FALSE(fake.has_file(request.msi_log_path));
    } else {
        EXPECT_EQ(fake.file_text(request.msi_log_path), installer_log_of(0).substr(0, delivered));
    }
    EXPECT_EQ(fake.files_opened, fake.files_closed);
}

const DeliveryFailure kDeliveryFailures[] = {
    {"StagedLogMissing", [](testing::FakePlatform& f, const Path&) { f.fail(Op::open_for_reading, fake_os_error(2)); },
     SIZE_MAX},
    {"StagedLogUnreadable", [](testing::FakePlatform& f, const Path&) { f.fail(Op::read, fake_os_error(33)); },
     SIZE_MAX},
    {"CallersFileUnwritable", [](testing::FakePlatform& f, const Path&) { f.fail(Op::write_file, fake_os_error(5)); },
     SIZE_MAX},
    {"CallersFolderGone",
     [](testing::FakePlatform& f, const Path& log) { (void)f.remove_directory_tree(log.parent_path()); }, SIZE_MAX},
    {"FifoAtTheCallersPath",
     [](testing::FakePlatform& f, const Path& log) {
         (void)f.delete_file(log);
         f.add_special(log);
     },
     SIZE_MAX},
    {"SecondPieceCannotBeAppended",
     [](testing::FakePlatform& f, const Path&) {
         f.max_read_chunk = 6;
         f.fail(Op::append_to_file, fake_os_error(112));
     },
     6},
    {"ThirdPieceCannotBeRead",
     [](testing::FakePlatform& f, const Path&) {
         f.max_read_chunk = 6;
         f.fail(Op::read, fake_os_error(33), 3);
     },
     12},
};

INSTANTIATE_TEST_SUITE_P(Cases, InstallerLogDeliveryFailure, ::testing::ValuesIn(kDeliveryFailures),
                         testing::CaseName());

// The copy takes the bytes the staged log had when it was opened, in as many
// pieces as the reads give, and no more: a log still growing (a service that
// writes on) cannot keep the run copying.
TEST_F(InstallerStage, DeliversInPiecesUpToTheLengthAtOpening) {
    fake.max_read_chunk = 5;
    const std::string log = installer_log_of(0);
    int reads = 0;
    auto watch = fake.before_call;
    fake.before_call = [&](Op op, int n) {
        if (watch) watch(op, n);
        if (op == Op::read && ++reads == 2) fake.add_file(staged_log, log + "+ written after the copy began");
    };
    ASSERT_TRUE(run().has_value());
    EXPECT_EQ(fake.file_text(request.msi_log_path), log);
    EXPECT_EQ(fake.calls(Op::write_file), 1);
    EXPECT_EQ(fake.calls(Op::append_to_file), static_cast<int>((log.size() + 4) / 5) - 1);
}

// An empty staged log still replaces an earlier run's file: the caller's
// file is this run's log, however short.
TEST_F(InstallerStage, AnEmptyStagedLogEmptiesTheCallersFile) {
    fake.add_file(request.msi_log_path, "an earlier run's installer log");
    fake.on_run = [this](const platform::LaunchRequest& launch) -> Result<std::int32_t> {
        if (launch.application == msiexec) fake.add_file(staged_log, "");
        return 0;
    };
    ASSERT_TRUE(run().has_value());
    ASSERT_TRUE(fake.has_file(request.msi_log_path));
    EXPECT_EQ(fake.file_text(request.msi_log_path), "");
}

// Windows Installer busy with another installation (1618): started again up
// to four runs in all, after 5, 10 and 20 seconds, each wait logged and asked
// of the platform; every run logs its exit code and has its log delivered in
// order. Only 1618 is tried again.
struct BusyCase {
    const char* name;
    std::vector<std::int32_t> exit_codes;  // of each run, in order
    std::int32_t process_exit_code;
};

class InstallerBusy : public InstallerStage, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(InstallerBusy, StartsAgainAfterEachWaitUpToFourRuns) {
    const BusyCase& c = GetParam();
    installer_exit_codes = c.exit_codes;
    fake.add_file(request.msi_log_path, "an earlier run's installer log");

    auto finished = run();

    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, c.process_exit_code);
    const std::uint32_t waits[] = {5, 10, 20};
    Events expected{"log: Starting Windows Installer."};
    std::vector<std::uint32_t> expected_sleeps;
    for (std::size_t run = 0; run < c.exit_codes.size(); ++run) {
        expected.push_back(kInstallerRun);
        expected.push_back("log: Windows Installer exited with code " + std::to_string(c.exit_codes[run]) + ".");
        if (run + 1 < c.exit_codes.size()) {
            expected.push_back(text::format(
                "log: Windows Installer is busy with another installation; trying again in {} seconds.", waits[run]));
            expected_sleeps.push_back(waits[run] * 1000);
        }
    }
    const std::int32_t last = c.exit_codes.back();
    if (last == 0) {
        expected.push_back(kVersionCheckRun);
        expected.push_back("result: success 0 ");
    } else {
        expected.push_back(text::format("result: error {} Windows Installer exited with code {}.", last, last));
    }
    expected.push_back(kRestartStart);
    expected.push_back(kRestartLine);
    EXPECT_EQ(reporter.events, expected);
    EXPECT_EQ(fake.sleeps, expected_sleeps);
    EXPECT_EQ(installer_runs, c.exit_codes.size());
    EXPECT_EQ(fake.file_text(request.msi_log_path), delivered_logs(c.exit_codes.size()));
}

const BusyCase kBusyCases[] = {
    {"NotBusy", {0}, 0},
    {"BusyOnceThenInstalled", {1618, 0}, 0},
    {"BusyTwiceThenInstalled", {1618, 1618, 0}, 0},
    {"BusyThreeTimesThenInstalled", {1618, 1618, 1618, 0}, 0},
    {"AlwaysBusyEndsWithThe1618Row", {1618, 1618, 1618, 1618}, 1618},
    {"BusyThenFailedIsNotTriedAgain", {1618, 1603}, 1603},
    {"OtherFailureNeverTriedAgain", {1603}, 1603},
    {"CancelledNeverTriedAgain", {1602}, 1602},
};

INSTANTIATE_TEST_SUITE_P(Runs, InstallerBusy, ::testing::ValuesIn(kBusyCases), testing::CaseName());

// A run after a busy answer that cannot be started aborts as the first would;
// the logs of the runs before it have been delivered.
TEST_F(InstallerStage, AStartFailureAfterABusyAnswerAborts) {
    installer_exit_codes = {1618};
    fake.fail(Op::run_and_wait, fake_os_error(5), 2);
    auto finished = run();
    ASSERT_FALSE(finished.has_value());
    EXPECT_EQ(finished.error().message, "Windows Installer could not be started: Access is denied. (os error 5)");
    EXPECT_EQ(
        reporter.events,
        (Events{"log: Starting Windows Installer.", kInstallerRun, "log: Windows Installer exited with code 1618.",
                "log: Windows Installer is busy with another installation; trying again in 5 seconds.",
                kInstallerRun}));
    EXPECT_EQ(fake.sleeps, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(fake.file_text(request.msi_log_path), delivered_logs(1));
    EXPECT_TRUE(reporter.results.empty());
}

// A run that ends before it writes its log hands on nothing: the log of the
// busy run before it is delivered once, not twice.
TEST_F(InstallerStage, ARunWithoutALogDoesNotDeliverTheBusyRunsLogAgain) {
    installer_exit_codes = {1618, 0};
    runs_that_write_a_log = 1;
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(installer_runs, 2u);
    EXPECT_EQ(fake.file_text(request.msi_log_path), delivered_logs(1));
}

TEST(LocateWindowsInstaller, UsesSystem32UnderTheWindowsDirectory) {
    testing::ProcessWorld world;
    auto found = locate_windows_installer(world.fake);
    ASSERT_TRUE(found.has_value()) << found.error().text;
    EXPECT_EQ(utf8(*found), utf8(world.msiexec));

    world.fake.windows_dir = test_path("/Windows/");
    found = locate_windows_installer(world.fake);
    ASSERT_TRUE(found.has_value()) << found.error().text;
    EXPECT_EQ(utf8(*found), utf8(world.msiexec));
}

TEST(LocateWindowsInstaller, BareNameWithoutAWindowsDirectoryEvenWhenNothingExists) {
    testing::FakePlatform fake;
    auto found = locate_windows_installer(fake);
    ASSERT_TRUE(found.has_value()) << found.error().text;
    EXPECT_EQ(utf8(*found), "msiexec.exe");
}

// The command text Windows Installer parses, compared whole. `log` is the
// staged log that /L*v names; the caller's installer log path is never on it.
struct CommandCase {
    const char* name;
    const char* staged;
    const char* log;
    const char* install_dir;
    bool repair;
    const char* expected;
};

class BuildInstallerCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(BuildInstallerCommand, ComposesTheWholeCommandLine) {
    const CommandCase& c = GetParam();
    run::UpdateRequest request;
    request.msi_log_path = platform::path_from_utf8("C:\\Users\\U\\AppData\\Local\\Velmarch\\caller msi.log");
    request.install_dir = platform::path_from_utf8(c.install_dir);
    request.repair_mode = c.repair;
    const StagedInstall staged{platform::path_from_utf8(c.staged), platform::path_from_utf8(c.log)};
    auto command = build_installer_command(installer_inputs(request), staged,
                                           platform::path_from_utf8("C:\\Windows\\System32\\msiexec.exe"));
    ASSERT_TRUE(command.has_value()) << command.error().text;
    EXPECT_EQ(command_text(*command), c.expected);
    EXPECT_EQ(command_text(*command).find("caller msi.log"), std::string::npos);

    // msiexec reads every intended argument back, in order, with no doubt.
    std::vector<std::string> intended{"C:\\Windows\\System32\\msiexec.exe", "/i",   c.staged, "/passive", "/norestart",
                                      "VELMARCH_INSTALLDIR_LOCK=1",         "/L*v", c.log};
    if (c.repair) intended.insert(intended.end(), {"REINSTALL=ALL", "REINSTALLMODE=amus"});
    intended.push_back(std::string("INSTALLDIR=") + c.install_dir);
    auto composed = compose_command_line(platform::path_to_utf16(command->program), command->arguments);
    ASSERT_TRUE(composed.has_value());
    const testing::MsiexecSplit split = testing::split_msiexec_command_line(*composed);
    EXPECT_EQ(split.doubts, std::vector<std::string>{});
    std::vector<std::string> read;
    for (const auto& argument : split.arguments) read.push_back(text::utf16_to_utf8_lossy(argument));
    EXPECT_EQ(read, intended);
}

const CommandCase kCommands[] = {
    {"normal", "C:\\Windows\\Temp\\VelmarchUpdate-5120-0a\\velmarch-update.msi",
     "C:\\Users\\A B\\AppData\\Local\\Velmarch\\msi.log", "C:\\Program Files\\Velmarch", false,
     "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\Windows\\Temp\\VelmarchUpdate-5120-0a\\velmarch-update.msi "
     "/passive /norestart VELMARCH_INSTALLDIR_LOCK=1 /L*v \"C:\\Users\\A B\\AppData\\Local\\Velmarch\\msi.log\" "
     "INSTALLDIR=\"C:\\Program Files\\Velmarch\""},
    {"repair", "C:\\Windows\\Temp\\V\\velmarch-update.msi", "C:\\Logs\\msi.log", "C:\\Program Files\\Velmarch", true,
     "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\Windows\\Temp\\V\\velmarch-update.msi /passive /norestart "
     "VELMARCH_INSTALLDIR_LOCK=1 /L*v C:\\Logs\\msi.log REINSTALL=ALL REINSTALLMODE=amus "
     "INSTALLDIR=\"C:\\Program Files\\Velmarch\""},
    {"trailing_backslash_install_dir_unchanged", "C:\\S\\p.msi", "C:\\Logs\\", "C:\\App\\", false,
     "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\S\\p.msi /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 "
     "/L*v C:\\Logs\\ INSTALLDIR=\"C:\\App\\\""},
    {"tab_and_non_ascii", "C:\\S\\p.msi", "C:\\L\\a\tb.log", "D:\\Übung\tApp", false,
     "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\S\\p.msi /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 "
     "/L*v \"C:\\L\\a\tb.log\" INSTALLDIR=\"D:\\Übung\tApp\""},
    // msiexec reads a backslash literally: the C runtime's doubling of a
    // trailing run inside quotes would reach it as two backslashes.
    {"quoted_log_path_keeps_its_trailing_backslash", "C:\\S\\p.msi", "C:\\Log Files\\", "C:\\App", false,
     "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\S\\p.msi /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 "
     "/L*v \"C:\\Log Files\\\" INSTALLDIR=\"C:\\App\""},
    // Whitespace msiexec might separate at is never left outside quotes.
    {"other_whitespace_is_quoted", "C:\\Win dows\\Temp\\p.msi", "C:\\L\\a\u00A0b\u3000.log", "C:\\App", false,
     "\"C:\\Windows\\System32\\msiexec.exe\" /i \"C:\\Win dows\\Temp\\p.msi\" /passive /norestart "
     "VELMARCH_INSTALLDIR_LOCK=1 /L*v \"C:\\L\\a\u00A0b\u3000.log\" INSTALLDIR=\"C:\\App\""},
    {"backslash_before_a_space_and_unicode_install_dir", "C:\\S\\p.msi", "C:\\a\\ b\\c.log", "C:\\Ünï cødé\\", true,
     "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\S\\p.msi /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 "
     "/L*v \"C:\\a\\ b\\c.log\" REINSTALL=ALL REINSTALLMODE=amus INSTALLDIR=\"C:\\Ünï cødé\\\""},
};

INSTANTIATE_TEST_SUITE_P(Commands, BuildInstallerCommand, ::testing::ValuesIn(kCommands), testing::CaseName());

// Hostile texts as the installer log path and as the install directory:
// each request is either refused (for its directory) or read by msiexec
// exactly as intended, never anything in between. The caller's log path
// never reaches msiexec at all: /L*v names the staged log.
TEST(BuildInstallerCommandAsMsiexecReadsIt, EveryRequestIsRefusedOrReadExactly) {
    const char* const hostile[] = {
        "C:\\L\\a\" /i C:\\other.msi Z=",
        "C:\\L\\a\" INSTALLDIR=C:\\Elsewhere Z=",
        "C:\\L\\a\\\" x",
        "C:\\Log Files\\",
        "C:\\Log Files\\\\",
        "C:\\L\\a\tb",
        "C:\\L\\a\u3000b",
        "C:\\L\\a\u00A0b",
        "\"\"",
        "C:\\L\\a\r\nb",
        "C:\\L\\\"a b\"",
        "C:\\L\\a\x01b",
        "a b\\\\\\",
        " x ",
    };
    int read_back = 0;
    for (const char* log : hostile) {
        for (const char* dir : {"C:\\App", log}) {
            run::UpdateRequest request;
            request.msi_log_path = platform::path_from_utf8(log);
            request.install_dir = platform::path_from_utf8(dir);
            const Path program = as_path("C:\\Windows\\System32\\msiexec.exe");
            const StagedInstall staged{as_path("C:\\Windows\\Temp\\V\\p.msi"),
                                       as_path("C:\\Windows\\Temp\\V\\velmarch-installer.log")};
            auto command = build_installer_command(installer_inputs(request), staged, program);
            if (!command) continue;
            auto composed = compose_command_line(platform::path_to_utf16(program), command->arguments);
            ASSERT_TRUE(composed.has_value());
            const testing::MsiexecSplit split = testing::split_msiexec_command_line(*composed);
            std::vector<std::string> read;
            for (const auto& argument : split.arguments) read.push_back(text::utf16_to_utf8_lossy(argument));
            EXPECT_EQ(split.doubts, std::vector<std::string>{}) << "log " << log << ", dir " << dir;
            EXPECT_EQ(read, (std::vector<std::string>{utf8(program), "/i", "C:\\Windows\\Temp\\V\\p.msi", "/passive",
                                                      "/norestart", "VELMARCH_INSTALLDIR_LOCK=1", "/L*v",
                                                      "C:\\Windows\\Temp\\V\\velmarch-installer.log",
                                                      std::string("INSTALLDIR=") + dir}))
                << "log " << log << ", dir " << dir;
            ++read_back;
        }
    }
    // Every log path with the plain directory, and the eight directories
    // without a quote, CR or LF.
    EXPECT_EQ(read_back, 22);
}

TEST(BuildInstallerCommandRefusal, WindowsDirectoryWithQuoteCrOrLf) {
    for (const char* text : {"C:\\L\\a\" /i C:\\other.msi Z=", "C:\\L\\a\rb", "C:\\L\\ab\n", "\""}) {
        run::UpdateRequest request;
        request.install_dir = platform::path_from_utf8("C:\\App");
        request.msi_log_path = platform::path_from_utf8("C:\\L\\msi.log");
        const std::string bad = std::string("C:\\W") + text;
        struct Where {
            std::string package, log, installer;
        };
        for (const Where& w :
             {Where{bad + "\\p.msi", "l.log", "msiexec.exe"}, Where{"p.msi", bad + "\\l.log", "msiexec.exe"},
              Where{"p.msi", "l.log", bad + "\\msiexec.exe"}}) {
            const StagedInstall staged{platform::path_from_utf8(w.package), platform::path_from_utf8(w.log)};
            auto command =
                build_installer_command(installer_inputs(request), staged, platform::path_from_utf8(w.installer));
            ASSERT_FALSE(command.has_value()) << w.package << " " << w.log << " " << w.installer;
            EXPECT_EQ(command.error().text, "The Windows directory cannot be passed to Windows Installer.");
        }
    }
}

TEST(BuildInstallerCommandRefusal, InstallDirWithQuoteCrOrLf) {
    for (const char* dir : {"C:\\A\"B", "C:\\A\rB", "C:\\AB\n"}) {
        run::UpdateRequest request;
        request.install_dir = platform::path_from_utf8(dir);
        auto command = build_installer_command(
            installer_inputs(request), StagedInstall{as_path("p.msi"), as_path("l.log")}, as_path("msiexec.exe"));
        ASSERT_FALSE(command.has_value());
        EXPECT_EQ(command.error().text, "The current install directory cannot be passed to Windows Installer.");
    }
}

}  // namespace
}  // namespace velmarch::process

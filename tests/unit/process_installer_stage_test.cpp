// The installer stage: what it logs, records, runs and restarts, in order.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/paths.h"
#include "process/installer_stage.h"
#include "support/msiexec_command_line.h"
#include "support/process_world.h"
#include "text/utf.h"
#include "support/case_name.h"
#include "support/installer_exit_codes.h"
#include "text/format.h"

namespace velmarch::process {
namespace {

using testing::PrintTo;  // cases print by name

using platform::Path;
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
        fake.on_run = [this](const platform::LaunchRequest& launch) -> Result<std::int32_t> {
            if (launch.application == msiexec) return installer_exit_code;
            if (launch.application == app) return application_exit_code;
            return std::unexpected("no such program in this test");
        };
    }

    StageOutcome run() {
        return run_installer_stage(fake, installer_inputs(request), staged_package, reporter);
    }

    std::string installer_run(std::string_view repair_arguments = "") const {
        return "run: \"" + utf8(msiexec) + "\" /i " + utf8(staged_package) +
               " /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 /L*v \"" + utf8(request.msi_log_path) + "\" " +
               std::string(repair_arguments) + "INSTALLDIR=\"" + utf8(install_dir) + "\"";
    }

    std::int32_t installer_exit_code = 0;
    std::int32_t application_exit_code = 0;
    const std::string kInstallerRun = installer_run();
    const std::string kVersionCheckRun = "run: \"" + utf8(app) + "\" --verify-installed-version 2.4.0";
    const std::string kRestartStart = "start: \"" + utf8(explorer) + "\" \"" + utf8(app) + "\"";
    const std::string kRestartLine =
        "log: Application restart requested through " + utf8(explorer) + " with process id 7000.";
};

std::string command_text(const InstallerCommand& command) {
    auto composed = compose_command_line(platform::path_to_utf16(command.program), command.arguments);
    return composed ? text::utf16_to_utf8_lossy(*composed) : "error: " + composed.error();
}

TEST_F(InstallerStage, ConfirmedInstallRecordsSuccessThenRestarts) {
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 0);
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
    // Only the installer writes a caller-named file: its log.
    EXPECT_EQ(fake.runs[0].child_output, request.msi_log_path);
    EXPECT_EQ(fake.runs[1].child_output, std::nullopt);
}

TEST_F(InstallerStage, FailedVersionCheckIsLoggedRecordedAndStillRestarts) {
    application_exit_code = 1;
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 1603);
    const std::string message =
        "The installed application did not report expected version 2.4.0 after Windows Installer completed.";
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
    installer_exit_code = c.installer_exit_code;
    application_exit_code = c.application_exit_code;
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, c.process_exit_code);
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
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, InstallerStageExitCodes, ::testing::ValuesIn(testing::kInstallerExitCodeRows),
                         testing::CaseName());

TEST_F(InstallerStage, RestartProblemsDoNotChangeTheOutcome) {
    fake.fail(Op::start_detached, fake_os_error(2));
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 0);
    EXPECT_EQ(reporter.log.back(), "Application restart failed: The system cannot find the file specified. (os error 2)");
}

class InstallerStageMissingInstaller : public InstallerStage, public ::testing::WithParamInterface<bool> {};

TEST_P(InstallerStageMissingInstaller, FinishesWith1603AfterLoggingRecordingAndRestarting) {
    ASSERT_TRUE(fake.delete_file(msiexec).has_value());
    if (GetParam()) fake.add_directory(msiexec);
    ASSERT_EQ(fake.file_type(msiexec), GetParam() ? platform::FileType::directory : platform::FileType::missing);
    auto finished = run();
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
    EXPECT_EQ(finished->process_exit_code, 1603);
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

// A log path that msiexec would not read as one argument is refused exactly
// like such an install directory: nothing runs, nothing is recorded.
TEST_F(InstallerStage, RefusedLogPathFailsAfterTheStartLineOnly) {
    for (const char* log : {"/Logs/a\" /i /other.msi Z=", "/Logs/a\rb.log", "/Logs/a\nb.log"}) {
        reporter.events.clear();
        request.msi_log_path = test_path(log);
        auto finished = run();
        ASSERT_FALSE(finished.has_value()) << log;
        EXPECT_EQ(finished.error().message, "The installer log path cannot be passed to Windows Installer.");
        EXPECT_EQ(reporter.events, (Events{"log: Starting Windows Installer."}));
    }
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_TRUE(fake.detached.empty());
}

TEST_F(InstallerStage, StartFailureFailsWithTheLaunchError) {
    fake.fail(Op::run_and_wait, fake_os_error(5));
    auto finished = run();
    ASSERT_FALSE(finished.has_value());
    EXPECT_EQ(finished.error().message, "Windows Installer could not be started: Access is denied. (os error 5)");
    EXPECT_EQ(reporter.events, (Events{"log: Starting Windows Installer.", kInstallerRun}));
    EXPECT_TRUE(reporter.results.empty());
    EXPECT_TRUE(fake.detached.empty());
}

TEST_F(InstallerStage, RepairModeRunsTheRepairCommand) {
    request.repair_mode = true;
    ASSERT_TRUE(run().has_value());
    ASSERT_FALSE(fake.runs.empty());
    EXPECT_EQ("run: " + text::utf16_to_utf8_lossy(fake.runs[0].command_line),
              installer_run("REINSTALL=ALL REINSTALLMODE=amus "));
}

TEST(LocateWindowsInstaller, UsesSystem32UnderTheWindowsDirectory) {
    testing::ProcessWorld world;
    auto found = locate_windows_installer(world.fake);
    ASSERT_TRUE(found.has_value()) << found.error();
    EXPECT_EQ(utf8(*found), utf8(world.msiexec));

    world.fake.windows_dir = test_path("/Windows/");
    found = locate_windows_installer(world.fake);
    ASSERT_TRUE(found.has_value()) << found.error();
    EXPECT_EQ(utf8(*found), utf8(world.msiexec));
}

TEST(LocateWindowsInstaller, BareNameWithoutAWindowsDirectoryEvenWhenNothingExists) {
    testing::FakePlatform fake;
    auto found = locate_windows_installer(fake);
    ASSERT_TRUE(found.has_value()) << found.error();
    EXPECT_EQ(utf8(*found), "msiexec.exe");
}

// The command text Windows Installer parses, compared whole.
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
    update::UpdateRequest request;
    request.msi_log_path = platform::path_from_utf8(c.log);
    request.install_dir = platform::path_from_utf8(c.install_dir);
    request.repair_mode = c.repair;
    auto command = build_installer_command(installer_inputs(request), platform::path_from_utf8(c.staged),
                                           platform::path_from_utf8("C:\\Windows\\System32\\msiexec.exe"));
    ASSERT_TRUE(command.has_value()) << command.error();
    EXPECT_EQ(command_text(*command), c.expected);

    // msiexec reads every intended argument back, in order, with no doubt.
    std::vector<std::string> intended{"C:\\Windows\\System32\\msiexec.exe", "/i", c.staged, "/passive", "/norestart",
                                      "VELMARCH_INSTALLDIR_LOCK=1", "/L*v", c.log};
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

INSTANTIATE_TEST_SUITE_P(Commands, BuildInstallerCommand, ::testing::ValuesIn(kCommands),
                         testing::CaseName());

// Hostile texts as the installer log path and as the install directory:
// each request is either refused or read by msiexec exactly as intended,
// never anything in between.
TEST(BuildInstallerCommandAsMsiexecReadsIt, EveryRequestIsRefusedOrReadExactly) {
    const char* const hostile[] = {
        "C:\\L\\a\" /i C:\\other.msi Z=", "C:\\L\\a\" INSTALLDIR=C:\\Elsewhere Z=", "C:\\L\\a\\\" x",
        "C:\\Log Files\\", "C:\\Log Files\\\\", "C:\\L\\a\tb", "C:\\L\\a\u3000b", "C:\\L\\a\u00A0b",
        "\"\"", "C:\\L\\a\r\nb", "C:\\L\\\"a b\"", "C:\\L\\a\x01b", "a b\\\\\\", " x ",
    };
    int read_back = 0;
    for (const char* log : hostile) {
        for (const char* dir : {"C:\\App", log}) {
            update::UpdateRequest request;
            request.msi_log_path = platform::path_from_utf8(log);
            request.install_dir = platform::path_from_utf8(dir);
            const Path program = as_path("C:\\Windows\\System32\\msiexec.exe");
            auto command =
                build_installer_command(installer_inputs(request), as_path("C:\\Windows\\Temp\\V\\p.msi"), program);
            if (!command) continue;
            auto composed = compose_command_line(platform::path_to_utf16(program), command->arguments);
            ASSERT_TRUE(composed.has_value());
            const testing::MsiexecSplit split = testing::split_msiexec_command_line(*composed);
            std::vector<std::string> read;
            for (const auto& argument : split.arguments) read.push_back(text::utf16_to_utf8_lossy(argument));
            EXPECT_EQ(split.doubts, std::vector<std::string>{}) << "log " << log << ", dir " << dir;
            EXPECT_EQ(read, (std::vector<std::string>{utf8(program), "/i", "C:\\Windows\\Temp\\V\\p.msi", "/passive",
                                                      "/norestart", "VELMARCH_INSTALLDIR_LOCK=1", "/L*v", log,
                                                      std::string("INSTALLDIR=") + dir}))
                << "log " << log << ", dir " << dir;
            ++read_back;
        }
    }
    EXPECT_EQ(read_back, 16);  // the eight texts without a quote, CR or LF, twice
}

TEST(BuildInstallerCommandRefusal, LogPathOrWindowsDirectoryWithQuoteCrOrLf) {
    for (const char* text : {"C:\\L\\a\" /i C:\\other.msi Z=", "C:\\L\\a\rb", "C:\\L\\ab\n", "\""}) {
        update::UpdateRequest request;
        request.install_dir = platform::path_from_utf8("C:\\App");
        request.msi_log_path = platform::path_from_utf8(text);
        auto command = build_installer_command(installer_inputs(request), as_path("p.msi"), as_path("msiexec.exe"));
        ASSERT_FALSE(command.has_value()) << text;
        EXPECT_EQ(command.error(), "The installer log path cannot be passed to Windows Installer.");

        request.msi_log_path = platform::path_from_utf8("C:\\L\\msi.log");
        for (const auto& [staged, installer] : {std::pair{std::string("C:\\W") + text + "\\p.msi", std::string("msiexec.exe")},
                                                std::pair{std::string("p.msi"), std::string("C:\\W") + text + "\\msiexec.exe"}}) {
            command = build_installer_command(installer_inputs(request), platform::path_from_utf8(staged),
                                              platform::path_from_utf8(installer));
            ASSERT_FALSE(command.has_value()) << staged << " " << installer;
            EXPECT_EQ(command.error(), "The Windows directory cannot be passed to Windows Installer.");
        }
    }
}

TEST(BuildInstallerCommandRefusal, InstallDirWithQuoteCrOrLf) {
    for (const char* dir : {"C:\\A\"B", "C:\\A\rB", "C:\\AB\n"}) {
        update::UpdateRequest request;
        request.install_dir = platform::path_from_utf8(dir);
        auto command = build_installer_command(installer_inputs(request), as_path("p.msi"), as_path("msiexec.exe"));
        ASSERT_FALSE(command.has_value());
        EXPECT_EQ(command.error(), "The current install directory cannot be passed to Windows Installer.");
    }
}

}  // namespace
}  // namespace velmarch::process

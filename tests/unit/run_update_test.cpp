#include <gtest/gtest.h>

#include "run/run_update.h"
#include "staging/staging_name.h"
#include "staging/sweep.h"
#include "support/case_name.h"
#include "support/fake_platform.h"
#include "support/installer_exit_codes.h"
#include "support/machine_layout.h"
#include "support/staging_names.h"
#include "support/update_machine.h"
#include "text/utf.h"

namespace velmarch::run {
namespace {

using testing::as_path;
using testing::FakePlatform;
using update::ResultStatus;
using update::result_status_word;
using testing::Op;
using testing::utf8;
using testing::PrintTo;  // cases print by name

constexpr std::string_view kPackage = "package content";

// Paths in texts are compared with forward slashes, whatever the platform's
// separator.
template <class String>
String slashes(String text) {
#ifdef _WIN32
    for (auto& c : text)
        if (c == '\\') c = '/';
#endif
    return text;
}
constexpr std::string_view kOldResult = testing::kEarlierResult;

// A machine with an installed application, a downloaded signed package and
// the results of an earlier run.
class RunUpdateTest : public ::testing::Test {
protected:
    RunUpdateTest() {
        testing::set_up_update_machine(platform, kPackage);
        platform.add_file("/Logs/helper.log", "old log\n");
        platform.on_run = [this](const platform::LaunchRequest& launch) -> Result<std::int32_t> {
            const std::string program = utf8(launch.application.filename());
            if (program == "msiexec.exe") {
                staged_during_install = platform.file_text(staged_path_of(launch));
                platform.add_file(argument_after(launch, u" /L*v "), kInstallerLog);
                if (!busy_answers.empty()) {
                    busy_answers.pop_back();
                    return 1618;
                }
                return installer_exit_code;
            }
            return version_exit_code;
        };
        args = testing::update_arguments(kPackage);
    }

    static platform::Path staged_path_of(const platform::LaunchRequest& launch) {
        // "/i" is followed by the staged package path in the command line.
        return argument_after(launch, u" /i ");
    }
    // The unquoted path that follows `option` in the command line.
    static platform::Path argument_after(const platform::LaunchRequest& launch, std::u16string_view option) {
        std::u16string line = launch.command_line;
        const auto start = line.find(option) + option.size();
        const auto end = line.find(u' ', start);
        return as_path(std::string(line.begin() + static_cast<std::ptrdiff_t>(start),
                                   line.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    static constexpr std::string_view kInstallerLog = "\xFF\xFEW\0i\0n\0";

    // `staged` is this run's staged package: a directory of the staging form,
    // named with the run's process id, under the Windows directory's Temp.
    static void expect_staged_by_this_run(const std::string& staged) {
        const std::string directory = staged.substr(0, staged.rfind('/'));
        const std::string name = directory.substr(directory.rfind('/') + 1);
        EXPECT_EQ(directory, "/Windows/Temp/" + name) << staged;
        EXPECT_TRUE(staging::is_staging_directory_name(name)) << staged;
        EXPECT_TRUE(name.starts_with(std::string(staging::kStagingNamePrefix) + "5120-")) << staged;
        EXPECT_EQ(staged.substr(staged.rfind('/') + 1), testing::kStagedPackage);
    }

    void set_arg(const std::string& name, const std::string& value) {
        for (std::size_t i = 0; i < args.size(); i += 2)
            if (args[i] == name) args[i + 1] = value;
    }

    std::int32_t run() {
        platform.args = args;
        return run_updater_process(platform);
    }

    // The helper log without its time stamps.
    std::vector<std::string> log_lines() const {
        std::vector<std::string> lines;
        std::string text = platform.file_text("/Logs/helper.log");
        std::size_t pos = 0;
        while (pos < text.size()) {
            const auto end = text.find('\n', pos);
            std::string line = text.substr(pos, end - pos);
            EXPECT_TRUE(line.starts_with("[1796605200] ")) << line;
            lines.push_back(slashes(line.substr(13)));
            pos = end + 1;
        }
        return lines;
    }

    std::string result() const { return platform.file_text("/Logs/result.json"); }
    bool restarted() const { return !platform.detached.empty(); }
    bool installer_ran() const {
        for (const auto& launch : platform.runs)
            if (launch.application.filename() == as_path("msiexec.exe")) return true;
        return false;
    }
    void expect_no_staging_left() const {
        EXPECT_EQ(platform.entries_below("/Windows/Temp").size(), 1u);
        EXPECT_EQ(platform.files_opened, platform.files_closed);
        EXPECT_EQ(platform.processes_opened, platform.processes_closed);
        EXPECT_EQ(platform.descriptors_created, platform.descriptors_freed);
    }

    FakePlatform platform;
    std::vector<std::string> args;
    std::int32_t installer_exit_code = 0;
    std::int32_t version_exit_code = 0;
    std::string staged_during_install;
    std::vector<int> busy_answers;  // one 1618 before the installer's own code for each entry
};

const std::string kRestartLine = "Application restart requested through /Windows/explorer.exe with process id 7000.";

// The helper log of a run that installs, confirms and restarts.
std::vector<std::string> successful_run_log() {
    return {
        "Velmarch native updater started.",
        "The update package was copied to restricted staging and verified again.",
        "Waiting for process 77 to exit.",
        "Starting Windows Installer.",
        "Windows Installer exited with code 0.",
        kRestartLine,
    };
}

TEST_F(RunUpdateTest, SuccessfulUpdateEndToEnd) {
    platform.running_processes = {77};
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(log_lines(), successful_run_log());
    EXPECT_EQ(result(), R"({"status":"success","exitCode":0,"message":"","expectedVersion":"2.4.0"})");
    EXPECT_EQ(staged_during_install, kPackage);
    ASSERT_EQ(platform.runs.size(), 2u);
    const auto& install = platform.runs[0];
    const std::string staged = slashes(utf8(staged_path_of(install)));
    expect_staged_by_this_run(staged);
    const std::string staged_log = staged.substr(0, staged.rfind('/')) + "/" + testing::kStagedLog;
    EXPECT_EQ(slashes(install.command_line),
              u"\"/Windows/System32/msiexec.exe\" /i " + std::u16string(staged.begin(), staged.end()) +
                  u" /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 /L*v " +
                  std::u16string(staged_log.begin(), staged_log.end()) + u" INSTALLDIR=\"/Program Files/Velmarch\"");
    EXPECT_EQ(platform.file_text("/Logs/msiexec.log"), kInstallerLog);
    EXPECT_EQ(slashes(platform.runs[1].command_line),
              u"\"/Program Files/Velmarch/Velmarch.exe\" --verify-installed-version 2.4.0");
    EXPECT_EQ(platform.runs[1].working_directory, testing::test_path("/Program Files/Velmarch"));
    ASSERT_EQ(platform.detached.size(), 1u);
    EXPECT_EQ(slashes(platform.detached[0].command_line),
              u"\"/Windows/explorer.exe\" \"/Program Files/Velmarch/Velmarch.exe\"");
    EXPECT_EQ(platform.wait_limits, std::vector<std::uint32_t>{90000});
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_TRUE(platform.standard_error.empty());
    expect_no_staging_left();
}

// Busy twice, then installed: each run installs the same staged copy, staging
// is removed only after the last, and the caller's installer log holds the
// three runs' logs in order.
TEST_F(RunUpdateTest, ABusyInstallerIsStartedAgainOnTheSameStagedCopy) {
    busy_answers = {1, 1};
    EXPECT_EQ(run(), 0);
    // The waits pass on the platform's clock: later lines carry later times.
    EXPECT_EQ(slashes(platform.file_text("/Logs/helper.log")),
              "[1796605200] Velmarch native updater started.\n"
              "[1796605200] The update package was copied to restricted staging and verified again.\n"
              "[1796605200] The previous process has already exited.\n"
              "[1796605200] Starting Windows Installer.\n"
              "[1796605200] Windows Installer exited with code 1618.\n"
              "[1796605200] Windows Installer is busy with another installation; trying again in 5 seconds.\n"
              "[1796605205] Windows Installer exited with code 1618.\n"
              "[1796605205] Windows Installer is busy with another installation; trying again in 10 seconds.\n"
              "[1796605215] Windows Installer exited with code 0.\n"
              "[1796605215] " +
                  std::string(kRestartLine) + "\n");
    EXPECT_EQ(platform.sleeps, (std::vector<std::uint32_t>{5000, 10000}));
    ASSERT_EQ(platform.runs.size(), 4u);
    EXPECT_EQ(platform.runs[0].command_line, platform.runs[1].command_line);
    EXPECT_EQ(platform.runs[0].command_line, platform.runs[2].command_line);
    EXPECT_EQ(staged_during_install, kPackage);
    EXPECT_EQ(platform.file_text("/Logs/msiexec.log"),
              std::string(kInstallerLog) + std::string(kInstallerLog) + std::string(kInstallerLog));
    EXPECT_EQ(result(), R"({"status":"success","exitCode":0,"message":"","expectedVersion":"2.4.0"})");
    expect_no_staging_left();
}

using testing::InstallerExitCodeRow;

class InstallerOutcomeTest : public RunUpdateTest, public ::testing::WithParamInterface<InstallerExitCodeRow> {};

TEST_P(InstallerOutcomeTest, ResultRestartAndExitCodeFollowTheInstallerCode) {
    const InstallerExitCodeRow& c = GetParam();
    installer_exit_code = c.installer_exit_code;
    version_exit_code = c.application_exit_code;
    EXPECT_EQ(run(), c.process_exit_code);
    EXPECT_EQ(result(), R"({"status":")" + std::string(result_status_word(c.status)) + R"(","exitCode":)" +
                            std::to_string(c.result_exit_code) + R"(,"message":")" + c.message +
                            R"(","expectedVersion":"2.4.0"})");
    std::vector<std::string> expected_log = {
        "Velmarch native updater started.",
        "The update package was copied to restricted staging and verified again.",
        "The previous process has already exited.",
        "Starting Windows Installer.",
        "Windows Installer exited with code " + std::to_string(c.installer_exit_code) + ".",
    };
    if (c.status == ResultStatus::install_verification_failed) expected_log.push_back(c.message);
    if (c.restart) expected_log.push_back(kRestartLine);
    EXPECT_EQ(log_lines(), expected_log);
    EXPECT_EQ(restarted(), c.restart);
    EXPECT_EQ(platform.runs.size(), c.version_checked ? 2u : 1u);
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_EQ(platform.file_text("/Logs/msiexec.log"), kInstallerLog);
    expect_no_staging_left();
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, InstallerOutcomeTest, ::testing::ValuesIn(testing::installer_exit_code_rows()),
                         testing::CaseName());

// The version is trimmed once, on the command line; the signed text, the
// version check's argument, the result's "expectedVersion" and the
// version-conflict message all carry that one text.
TEST_F(RunUpdateTest, AVersionWithWhiteSpaceAroundItIsTheTrimmedTextEverywhere) {
    struct Case {
        std::int32_t installer_exit_code;
        std::string result;
    };
    const std::vector<Case> cases = {
        {0, R"({"status":"success","exitCode":0,"message":"","expectedVersion":"2.4.0"})"},
        {1638,
         R"({"status":"versionConflict","exitCode":1638,"message":"Windows Installer reported that version 2.4.0 )"
         R"(conflicts with the product already registered on this computer.","expectedVersion":"2.4.0"})"},
    };
    for (const auto& [code, expected_result] : cases) {
        SCOPED_TRACE(code);
        testing::set_up_update_machine(platform, kPackage);
        platform.runs.clear();
        installer_exit_code = code;
        set_arg("--expected-version", " \t2.4.0\xC2\xA0 ");  // blank, tab, no-break space
        run();
        EXPECT_EQ(result(), expected_result);
        if (code == 0) {
            ASSERT_EQ(platform.runs.size(), 2u);
            EXPECT_EQ(slashes(platform.runs[1].command_line),
                      u"\"/Program Files/Velmarch/Velmarch.exe\" --verify-installed-version 2.4.0");
        }
    }
}

TEST_F(RunUpdateTest, RepairModeOnlyChangesTheInstallerCommand) {
    args.push_back("--repair-mode");
    args.push_back("true");
    EXPECT_EQ(run(), 0);
    ASSERT_FALSE(platform.runs.empty());
    const std::u16string line = slashes(platform.runs[0].command_line);
    EXPECT_NE(
        line.find(u"/velmarch-installer.log REINSTALL=ALL REINSTALLMODE=amus INSTALLDIR=\"/Program Files/Velmarch\""),
        std::u16string::npos);
}

TEST_F(RunUpdateTest, ParseFailureTouchesNothing) {
    set_arg("--parent-process-id", "-1");
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(platform.standard_error, "--parent-process-id must be a process id.\n");
    EXPECT_EQ(platform.file_text("/Logs/helper.log"), "old log\n");
    EXPECT_EQ(result(), kOldResult);
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_FALSE(restarted());
}

// Every caller-named path is made absolute against the working directory
// when it is not (relative) and its "." and ".." resolved by text before
// anything is touched (a ".." at the root stays there): the run then reads
// and hands on exactly what the resolved paths give, to the installer, the
// version check, the restart and the two logs. On Windows the texts from the
// root are rooted on the working directory's drive, which the fake's working
// directory leaves out.
struct PathCase {
    std::string_view name;
    std::string working_directory;
    std::vector<std::pair<std::string, std::string>> arguments;
    std::string install_dir;  // as resolved: in INSTALLDIR and the children's working directory
};

const PathCase kPathCases[] = {
    {"RelativeWithDots",
     "/Logs",
     {{"--msi-path", "../Downloads/./velmarch-2.4.0.msi"},
      {"--install-dir", "../Program Files/Gone/../Velmarch/"},
      {"--app-path", "./../Program Files/Velmarch/Velmarch.exe"},
      {"--msi-log-path", "msiexec.log"},
      {"--helper-log-path", "sub/inner/../../helper.log"},
      {"--result-path", "../../../Logs/result.json"}},
     "/Program Files/Velmarch/"},
    {"FromTheRootWithDots",
     "/Elsewhere",
     {{"--msi-path", "/Logs/../Downloads/./velmarch-2.4.0.msi"},
      {"--install-dir", "/Program Files/Gone/../Velmarch/."},
      {"--app-path", "/../Program Files/./Velmarch/Velmarch.exe"},
      {"--msi-log-path", "/Logs/sub/../msiexec.log"},
      {"--helper-log-path", "/Logs/./sub/inner/../../helper.log"},
      {"--result-path", "/../../Logs/result.json"}},
     "/Program Files/Velmarch"},
};

class RunUpdatePathTest : public RunUpdateTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(RunUpdatePathTest, PathsWithDotsAreResolvedByTextBeforeTheyAreReadOrHandedOn) {
    const PathCase& c = GetParam();
    platform.working_directory = testing::test_path(c.working_directory);
    platform.running_processes = {77};
    for (const auto& [option, value] : c.arguments) set_arg(option, value);

    EXPECT_EQ(run(), 0) << platform.standard_error;
    EXPECT_EQ(log_lines(), successful_run_log());
    EXPECT_EQ(result(), R"({"status":"success","exitCode":0,"message":"","expectedVersion":"2.4.0"})");
    EXPECT_EQ(staged_during_install, kPackage);
    ASSERT_EQ(platform.runs.size(), 2u);
    const std::u16string install = slashes(platform.runs[0].command_line);
    const std::string staged = slashes(utf8(staged_path_of(platform.runs[0])));
    const std::string staged_log = staged.substr(0, staged.rfind('/')) + "/" + testing::kStagedLog;
    expect_staged_by_this_run(staged);
    const std::string tail = " /L*v " + staged_log + " INSTALLDIR=\"" + c.install_dir + "\"";
    EXPECT_TRUE(install.ends_with(std::u16string(tail.begin(), tail.end()))) << text::utf16_to_utf8_lossy(install);
    EXPECT_EQ(platform.file_text("/Logs/msiexec.log"), kInstallerLog);
    EXPECT_FALSE(platform.has_directory("/Logs/sub"));
    EXPECT_EQ(slashes(platform.runs[1].command_line),
              u"\"/Program Files/Velmarch/Velmarch.exe\" --verify-installed-version 2.4.0");
    EXPECT_EQ(platform.runs[1].working_directory, testing::test_path(c.install_dir));
    ASSERT_EQ(platform.detached.size(), 1u);
    EXPECT_EQ(slashes(platform.detached[0].command_line),
              u"\"/Windows/explorer.exe\" \"/Program Files/Velmarch/Velmarch.exe\"");
    EXPECT_EQ(platform.detached[0].working_directory, testing::test_path(c.install_dir));
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    expect_no_staging_left();
}

INSTANTIATE_TEST_SUITE_P(Paths, RunUpdatePathTest, ::testing::ValuesIn(kPathCases), testing::CaseName());

// On Windows \Logs\helper.log is read on the working directory's drive,
// so each path asks; the fake's working directory has no drive, so the texts
// stay as they are (SuccessfulUpdateEndToEnd compares them byte for byte).
TEST_F(RunUpdateTest, OnlyPathsThatAreNotAbsoluteAskForTheWorkingDirectory) {
#ifdef _WIN32
    constexpr int kAsked = 6;
#else
    constexpr int kAsked = 0;
#endif
    EXPECT_EQ(run(), 0) << platform.standard_error;
    EXPECT_EQ(platform.calls(Op::working_directory_for), kAsked);
}

#ifdef _WIN32
// A share or device text whose "." or ".." the system reads in its own way
// ("\\srv\..\x": a share named "..") is refused before anything is touched.
TEST_F(RunUpdateTest, AnAmbiguousShareRootEndsTheRunBeforeAnythingIsTouched) {
    set_arg("--result-path", "\\\\srv\\..\\result.json");
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(platform.standard_error,
              "The path \\\\srv\\..\\result.json is refused: Windows reads the \".\" or \"..\" of its share or device "
              "root in its own way.\n");
    EXPECT_EQ(platform.file_text("/Logs/helper.log"), "old log\n");
    EXPECT_EQ(result(), kOldResult);
}
#endif

TEST_F(RunUpdateTest, UnreadableWorkingDirectoryEndsTheRunBeforeAnythingIsTouched) {
    platform.fail(Op::working_directory_for, "Injected failure. (os error 2)");
    set_arg("--result-path", "result.json");
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(platform.standard_error,
              "The updater's working directory could not be read: Injected failure. (os error 2)\n");
    EXPECT_EQ(platform.file_text("/Logs/helper.log"), "old log\n");
    EXPECT_EQ(result(), kOldResult);
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_FALSE(restarted());
}

TEST_F(RunUpdateTest, ArgumentsThatAreNotUnicodeEndTheRunBeforeParsing) {
    platform.fail(Op::arguments, "The command line is not valid Unicode text.");
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(platform.standard_error, "The command line is not valid Unicode text.\n");
    EXPECT_EQ(platform.file_text("/Logs/helper.log"), "old log\n");
    EXPECT_EQ(result(), kOldResult);
}

TEST_F(RunUpdateTest, HelperLogThatCannotBePreparedAbortsBeforeTheResultIsDeleted) {
    set_arg("--helper-log-path", "/Logs/helper.log/sub/helper.log");  // a file stands in the way
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(platform.standard_error, testing::fake_os_error(183) + "\n");
    EXPECT_EQ(result(), kOldResult);
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_FALSE(restarted());
}

TEST_F(RunUpdateTest, RefusedPackageIsDeletedRecordedAndTheAppRestarted) {
    set_arg("--expected-sha256", std::string(64, '0'));
    platform.running_processes = {77};
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(log_lines(), (std::vector<std::string>{
                               "Velmarch native updater started.",
                               "Package verification failed: Update package SHA-256 verification failed.",
                               kRestartLine,
                           }));
    EXPECT_EQ(
        result(),
        R"({"status":"error","exitCode":1603,"message":"Update package SHA-256 verification failed.","expectedVersion":"2.4.0"})");
    EXPECT_FALSE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_TRUE(platform.directory_attempts.empty());
    EXPECT_TRUE(platform.wait_limits.empty());
    EXPECT_FALSE(installer_ran());
    EXPECT_TRUE(platform.standard_error.empty());
}

TEST_F(RunUpdateTest, AFileThatIsNotAPackageIsRefusedButNeverDeleted) {
    platform.add_file("/docs/thesis.docx", "precious");
    set_arg("--msi-path", "/docs/thesis.docx");
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(log_lines().at(1), "Package verification failed: The downloaded update package is not a valid MSI file.");
    EXPECT_EQ(platform.file_text("/docs/thesis.docx"), "precious");
    EXPECT_TRUE(restarted());
}

TEST_F(RunUpdateTest, StagingFailureIsRecordedWithoutItsLogPrefix) {
    platform.fail(Op::flush, "There is not enough space on the disk. (os error 112)");
    EXPECT_EQ(run(), 1603);
    const std::string message =
        "The restricted staged MSI could not be finalized: There is not enough space on the disk. (os error 112)";
    EXPECT_EQ(log_lines(), (std::vector<std::string>{"Velmarch native updater started.",
                                                     "Secure package staging failed: " + message, kRestartLine}));
    EXPECT_EQ(result(),
              R"({"status":"error","exitCode":1603,"message":")" + message + R"(","expectedVersion":"2.4.0"})");
    EXPECT_FALSE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_FALSE(installer_ran());
    expect_no_staging_left();
}

TEST_F(RunUpdateTest, FailedDeletionOfARefusedPackageIsIgnored) {
    set_arg("--signature-algorithm", "rsa");
    platform.fail(Op::delete_file, "Access is denied. (os error 5)");
    EXPECT_EQ(run(), 1603);
    EXPECT_NE(result().find("Unsupported update signature algorithm."), std::string::npos);
    EXPECT_TRUE(restarted());
}

// A scanner holding the refused download for a moment: tried again, the
// pauses asked of the platform, never a sleep of the test's own.
TEST_F(RunUpdateTest, ARefusedPackageHeldForAMomentIsDeletedOnceFree) {
    set_arg("--signature-algorithm", "rsa");
    const std::string held =
        "The process cannot access the file because it is being used by another process. (os error 32)";
    // The first deletion is the old result's.
    platform.fail(Op::delete_file, held, 2, ErrorKind::held);
    platform.fail(Op::delete_file, held, 3, ErrorKind::held);
    EXPECT_EQ(run(), 1603);
    EXPECT_FALSE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_EQ(platform.sleeps, (std::vector<std::uint32_t>{50, 250}));
}

TEST_F(RunUpdateTest, ARefusedPackageHeldForLongerIsLeftAfterTheBoundedRetries) {
    set_arg("--signature-algorithm", "rsa");
    platform.add_file("/Logs/result.json", kOldResult);
    platform.fail(Op::delete_file, "Access is denied. (os error 5)", 0, ErrorKind::held);
    EXPECT_EQ(run(), 1603);
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    EXPECT_EQ(platform.calls(Op::delete_file), 1 + 13);
    EXPECT_EQ(platform.sleeps.size(), 12u);
    EXPECT_TRUE(restarted());
}

TEST_F(RunUpdateTest, TheSweepOfEarlierStagingIsLoggedOnceAfterTheStartLine) {
    const std::string earlier = "/Windows/Temp/" + testing::staging_name(4242);
    platform.add_file(earlier + "/" + testing::kStagedPackage, "an earlier package");
    platform.add_file("/Windows/Temp/" + testing::staging_name(4243) + "/" + testing::kStagedPackage, "");
    EXPECT_EQ(run(), 0);
    const auto lines = log_lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Velmarch native updater started.");
    EXPECT_EQ(lines[1], "Removed 2 staging directories left by earlier runs.");
    EXPECT_EQ(lines[2], "The update package was copied to restricted staging and verified again.");
    EXPECT_FALSE(platform.has_directory(earlier));
    expect_no_staging_left();

    // Nothing to remove: no line.
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(log_lines()[1], "The update package was copied to restricted staging and verified again.");
}

TEST_F(RunUpdateTest, ASweepThatABoundStoppedSaysWhichAfterItsRemovals) {
    // One earlier run's staging, then more live runs' than the sweep examines.
    platform.add_file("/Windows/Temp/VelmarchUpdate-1-00112233445566778899aabbccddeeff/velmarch-update.msi", "");
    for (std::size_t i = 0; i < staging::kSweepCandidateLimit; ++i) {
        const std::string live =
            "/Windows/Temp/VelmarchUpdate-" + std::to_string(100 + i) + "-00112233445566778899aabbccddeeff";
        platform.add_directory(live);
        platform.set_modified(live, platform.now);
    }
    EXPECT_EQ(run(), 0);
    const auto lines = log_lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Removed 1 staging directories left by earlier runs.");
    EXPECT_EQ(lines[2],
              "The sweep of earlier runs' staging stopped at its limit of 32 candidates; the rest is left for a later "
              "run.");
    EXPECT_EQ(lines[3], "The update package was copied to restricted staging and verified again.");
}

TEST_F(RunUpdateTest, PreviousProcessThatDoesNotExitAbortsWithoutResult) {
    const std::pair<platform::WaitOutcome, std::string> cases[] = {
        {platform::WaitOutcome::timed_out, "The previous application process did not exit in time.\n"},
        {platform::WaitOutcome::failed, "Waiting for the previous application process failed.\n"},
    };
    for (const auto& [outcome, message] : cases) {
        platform.add_file("/Logs/result.json", kOldResult);
        platform.standard_error.clear();
        platform.running_processes = {77};
        platform.wait_outcome = outcome;
        EXPECT_EQ(run(), 1603);
        EXPECT_EQ(platform.standard_error, message);
        EXPECT_EQ(log_lines().back(), "Waiting for process 77 to exit.");
        EXPECT_FALSE(platform.has_file("/Logs/result.json"));
        EXPECT_FALSE(installer_ran());
        EXPECT_FALSE(restarted());
        EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
        expect_no_staging_left();
    }
}

TEST_F(RunUpdateTest, MissingInstallerIsAFinishedError) {
    ASSERT_TRUE(platform.delete_file(as_path("/Windows/System32/msiexec.exe")));
    EXPECT_EQ(run(), 1603);
    EXPECT_EQ(log_lines().at(3), "Windows Installer was not found.");
    EXPECT_EQ(log_lines().back(), kRestartLine);
    EXPECT_EQ(
        result(),
        R"({"status":"error","exitCode":1603,"message":"Windows Installer was not found.","expectedVersion":"2.4.0"})");
    EXPECT_TRUE(platform.has_file("/Downloads/velmarch-2.4.0.msi"));
    expect_no_staging_left();
}

TEST_F(RunUpdateTest, InstallerStageAbortsWriteOnlyStandardError) {
    struct Case {
        std::string install_dir;
        std::optional<std::string> launch_failure;
        std::string message;
    } cases[] = {
        {"/Program Files/Vel\"march", std::nullopt,
         "The current install directory cannot be passed to Windows Installer.\n"},
        {"/Program Files/Velmarch", "Access is denied. (os error 5)",
         "Windows Installer could not be started: Access is denied. (os error 5)\n"},
    };
    for (const auto& c : cases) {
        FakePlatform& p = platform;
        p.add_file("/Logs/result.json", kOldResult);
        p.standard_error.clear();
        p.detached.clear();
        set_arg("--install-dir", c.install_dir);
        if (c.launch_failure) p.fail(Op::run_and_wait, *c.launch_failure, 1);
        EXPECT_EQ(run(), 1603);
        EXPECT_EQ(p.standard_error, c.message);
        EXPECT_EQ(log_lines().back(), "Starting Windows Installer.");
        EXPECT_FALSE(p.has_file("/Logs/result.json"));
        EXPECT_FALSE(restarted());
        expect_no_staging_left();
    }
}

// A link an elevated run refuses ends the run as ErrorKind::untrusted_link
// wherever it is met, however much of the run's own context its message
// gained on the way up; the message is the one the run writes.
TEST_F(RunUpdateTest, ARefusedLinkKeepsItsKindToTheRunsAbort) {
    const std::string refused = testing::fake_os_error(5);
    struct Case {
        std::string_view name;
        Op op;
        std::string message;
    } cases[] = {
        {"working directory", Op::working_directory_for,
         "The updater's working directory could not be read: " + refused},
        {"helper log", Op::create_directories, refused},
        {"installer", Op::run_and_wait, "Windows Installer could not be started: " + refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        testing::set_up_update_machine(p, kPackage);
        p.running_processes = {77};
        p.fail(c.op, refused, 1, ErrorKind::untrusted_link);
        std::vector<std::string> arguments = args;
        for (std::size_t i = 0; i + 1 < arguments.size(); i += 2)
            if (arguments[i] == "--result-path") arguments[i + 1] = "result.json";

        const RunOutcome outcome = run_update(p, arguments);
        ASSERT_FALSE(outcome.has_value());
        EXPECT_EQ(outcome.error().kind, ErrorKind::untrusted_link);
        EXPECT_EQ(outcome.error().message, c.message);
    }
}

}  // namespace
}  // namespace velmarch::run

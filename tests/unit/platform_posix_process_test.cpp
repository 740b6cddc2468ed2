#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/case_name.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"
#include "text/utf.h"

namespace velmarch::platform {
namespace {

constexpr const char* kShell = "/bin/sh";

// Kills and reaps a child the test started, whatever the test's outcome.
class ChildGuard {
public:
    explicit ChildGuard(std::uint32_t pid) : pid_(static_cast<pid_t>(pid)) {}
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    ~ChildGuard() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        reap();
    }
    // The wait status of the child.
    int reap() {
        int status = -1;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = 0;
        return status;
    }

private:
    pid_t pid_;
};

class PosixProcesses : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = make_native_platform(0, nullptr);
    testing::ScratchFolder temp;

    static LaunchRequest shell(std::u16string command_line) {
        return LaunchRequest{
            .application = Path(kShell), .command_line = std::move(command_line), .working_directory = {}};
    }
};

// A descriptor the updater holds without close-on-exec (one its own starter
// left open, say) never reaches a child; the standard streams do.
TEST_F(PosixProcesses, AChildInheritsOnlyTheStandardStreams) {
    constexpr int kHeld = 517;
    const int opened = ::open((temp.path() / "held.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(opened, 0);
    ASSERT_EQ(::dup2(opened, kHeld), kHeld);  // dup2 leaves close-on-exec off
    ::close(opened);
    ASSERT_EQ(::fcntl(kHeld, F_GETFD) & FD_CLOEXEC, 0);

    // The shell's own test reads its own descriptor table: 3 when it holds
    // the descriptor, 0 when it has its standard output but not that.
    const std::u16string probe =
        u"sh -c \"[ -e /proc/self/fd/517 ] && exit 3; [ -e /proc/self/fd/1 ] || exit 4; exit 0\"";
    auto waited = platform->run_and_wait(shell(probe));
    ASSERT_TRUE(waited) << waited.error().text;
    EXPECT_EQ(*waited, 0);
    auto started = platform->start_detached(shell(probe));
    ASSERT_TRUE(started) << started.error().text;
    ChildGuard child(*started);
    const int status = child.reap();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The updater keeps its own descriptor as it was.
    EXPECT_EQ(::fcntl(kHeld, F_GETFD) & FD_CLOEXEC, 0);
    ::close(kHeld);
}

TEST_F(PosixProcesses, StartedProgramGetsTheCommandLineSplitTheWindowsWay) {
    // The shell records its own argv, argv[0] included, into the working directory.
    LaunchRequest launch = shell(
        uR"("velmarch shell" -c "cat /proc/$$/cmdline > argv.bin" "a b" "say \"hi\"" C:\Logs\ "C:\A B\\" "" INSTALLDIR="C:\Program Files\App")");
    launch.working_directory = testing::to_path(temp.path());
    auto exit_code = platform->run_and_wait(launch);
    ASSERT_TRUE(exit_code) << exit_code.error().text;
    EXPECT_EQ(*exit_code, 0);

    std::ifstream in(temp.path() / "argv.bin", std::ios::binary);
    std::vector<std::string> argv;
    for (std::string piece; std::getline(in, piece, '\0');) argv.push_back(piece);
    const std::vector<std::string> expected = {
        "velmarch shell", "-c", "cat /proc/$$/cmdline > argv.bin",   "a b", R"(say "hi")", R"(C:\Logs\)",
        R"(C:\A B\)",     "",   R"(INSTALLDIR=C:\Program Files\App)"};
    EXPECT_EQ(argv, expected);
}

struct ExitCase {
    const char* name;
    const char16_t* command_line;
    std::int32_t exit_code;
};

void PrintTo(const ExitCase& c, std::ostream* out) {
    *out << c.name << ": " << text::utf16_to_utf8_lossy(c.command_line);
}

class PosixExitCodes : public PosixProcesses, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(PosixExitCodes, RunAndWaitPassesTheExitCodeBack) {
    auto exit_code = platform->run_and_wait(shell(GetParam().command_line));
    ASSERT_TRUE(exit_code) << exit_code.error().text;
    EXPECT_EQ(*exit_code, GetParam().exit_code);
}

INSTANTIATE_TEST_SUITE_P(Codes, PosixExitCodes,
                         ::testing::Values(ExitCase{"Zero", u"sh -c \"exit 0\"", 0},
                                           ExitCase{"Three", u"sh -c \"exit 3\"", 3},
                                           ExitCase{"TwoHundredFiftyFive", u"sh -c \"exit 255\"", 255},
                                           // Killed by SIGKILL: 128 + 9.
                                           ExitCase{"KilledBySignal9", u"sh -c \"kill -9 $$\"", 137}),
                         testing::CaseName());

struct LaunchFailure {
    const char* what;
    std::string application;
    std::string working_directory;
    const char* error;
};

void PrintTo(const LaunchFailure& failure, std::ostream* out) { *out << failure.what; }

class PosixLaunchErrors : public PosixProcesses, public ::testing::WithParamInterface<LaunchFailure> {};

TEST_P(PosixLaunchErrors, FailureBeforeTheProgramRunsIsALaunchError) {
    const LaunchFailure& failure = GetParam();
    std::ofstream(temp.path() / "not-executable") << "#!/bin/sh\n";
    LaunchRequest launch{.application = failure.application.empty() ? testing::to_path(temp.path() / "not-executable")
                                                                    : Path(failure.application),
                         .command_line = u"\"program\" x",
                         .working_directory = {}};
    if (!failure.working_directory.empty())
        launch.working_directory = testing::to_path(temp.path() / failure.working_directory);

    auto waited = platform->run_and_wait(launch);
    ASSERT_FALSE(waited) << failure.what;
    EXPECT_EQ(waited.error().text, failure.error) << failure.what;
    auto detached = platform->start_detached(launch);
    ASSERT_FALSE(detached) << failure.what;
    EXPECT_EQ(detached.error().text, failure.error) << failure.what;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, PosixLaunchErrors,
    ::testing::Values(
        LaunchFailure{"missing working directory", kShell, "missing", "No such file or directory (os error 2)"},
        LaunchFailure{"missing program", "/nonexistent/program", "", "No such file or directory (os error 2)"},
        LaunchFailure{"program without execute permission", "", "", "Permission denied (os error 13)"}),
    (testing::NamesInOrder{"MissingWorkingDirectory", "MissingProgram", "ProgramWithoutExecutePermission"}));

TEST_F(PosixProcesses, CommandLineWithANulIsRefusedBeforeStarting) {
    auto result = platform->run_and_wait(shell(std::u16string(u"sh -c \"exit 0\" a\0b", 19)));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, "nul byte found in provided data");
}

TEST_F(PosixProcesses, StartDetachedReturnsTheIdOfTheStartedProgram) {
    auto pid = platform->start_detached(shell(u"sh -c \"exit 42\""));
    ASSERT_TRUE(pid) << pid.error().text;
    ChildGuard child(*pid);
    const int status = child.reap();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42);
}

TEST_F(PosixProcesses, WaitReturnsAtOnceForAProcessThatHasEndedButIsNotReaped) {
    auto pid = platform->start_detached(shell(u"sh -c \"exit 0\""));
    ASSERT_TRUE(pid) << pid.error().text;
    ChildGuard child(*pid);
    auto process = platform->open_process_for_wait(*pid);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->wait(60000), WaitOutcome::exited);
}

TEST_F(PosixProcesses, ProcessesThatCannotBeOpenedCountAsGone) {
    auto pid = platform->start_detached(shell(u"sh -c \"exit 0\""));
    ASSERT_TRUE(pid) << pid.error().text;
    ChildGuard(*pid).reap();

    EXPECT_EQ(platform->open_process_for_wait(*pid), nullptr);
    for (std::uint32_t id : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(platform->open_process_for_wait(id), nullptr) << id;
    }
}

}  // namespace
}  // namespace velmarch::platform

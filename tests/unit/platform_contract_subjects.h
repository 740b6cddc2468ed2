#pragma once
// The implementations the platform contract runs over. Each subject owns a
// platform and a scratch directory, and provides what the seam itself cannot
// make: links, a program that ends with a chosen code, a process that runs
// until the test ends it and one that has ended.
//
//   static constexpr bool kKeepsFullExitCode;    false where only the low 8 bits survive
//   Platform& platform();
//   Path root();                                 an empty directory of its own
//   bool make_link(link, target, directory);     false where no link can be made
//   Path make_special_file();                    a FIFO or pipe nobody reads or writes
//   Platform& special_file_platform();           the platform that is given it (see Win32)
//   LaunchRequest exiting_with(std::int32_t code);
//   LaunchRequest missing_program();
//   std::uint32_t start_live_process();          runs until end_process
//   void end_process(std::uint32_t id);
//   std::uint32_t finished_process();            has ended; this test holds no handle of it

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/path/path.h"
#include "platform/platform.h"
#include "support/fake_platform.h"
#include "support/scratch_folder.h"

#ifdef _WIN32
#include "platform/win32/platform.h"
#include "platform_win32_support.h"
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace velmarch::testing::contract {

inline std::u16string decimal16(std::int32_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// The fake: a process "runs" while it is in running_processes and the
// scripted wait outcome says so; a program "ends" with the code its command
// line names.
class Fake {
public:
    static constexpr bool kKeepsFullExitCode = true;

    Fake() {
        fake.add_directory(root());
        fake.add_file(program_, "");
        fake.on_run = [](const platform::LaunchRequest& launch) -> Result<std::int32_t> {
            const std::string text(launch.command_line.begin(), launch.command_line.end());
            std::int32_t code = 0;
            std::from_chars(text.data() + text.find(' ') + 1, text.data() + text.size(), code);
            return code;
        };
    }

    platform::Platform& platform() { return fake; }
    platform::Path root() const { return test_path("/scratch"); }
    bool make_link(const platform::Path& link, const platform::Path& target, bool) {
        fake.add_link(link, target);
        return true;
    }
    platform::Path make_special_file() {
        const platform::Path path = root() / test_path("fifo");
        fake.add_special(path);
        return path;
    }
    platform::Platform& special_file_platform() { return fake; }
    platform::LaunchRequest exiting_with(std::int32_t code) const {
        return {.application = program_, .command_line = u"exit " + decimal16(code), .working_directory = {}};
    }
    platform::LaunchRequest missing_program() const {
        return {.application = root() / test_path("missing.exe"), .command_line = u"missing", .working_directory = {}};
    }
    std::uint32_t start_live_process() {
        fake.running_processes.insert(kLive);
        fake.wait_outcome = platform::WaitOutcome::timed_out;
        return kLive;
    }
    void end_process(std::uint32_t) { fake.wait_outcome = platform::WaitOutcome::exited; }
    std::uint32_t finished_process() const { return kLive + 4; }

    FakePlatform fake;

private:
    static constexpr std::uint32_t kLive = 9000;
    const platform::Path program_ = test_path("/programs/child.exe");
};

#ifdef _WIN32

// Windows: the unit test executable in its child roles.
class Win32 {
public:
    static constexpr bool kKeepsFullExitCode = true;

    Win32() : platform_(platform::make_native_platform(0, nullptr)) {}
    Win32(const Win32&) = delete;
    Win32& operator=(const Win32&) = delete;
    ~Win32() {
        for (std::uint32_t id : live_) end_process(id);
        for (HANDLE pipe : pipe_handles_) ::CloseHandle(pipe);
    }

    platform::Platform& platform() { return *platform_; }
    platform::Path root() const { return to_path(temp_.path()); }
    bool make_link(const platform::Path& link, const platform::Path& target, bool directory) {
        const DWORD flags =
            (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0u) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
        if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags)) return false;
        // Wine reports success without making the link.
        return platform_->exists(link);
    }
    // A named pipe with a few idle instances, so that every open of it (each
    // one takes an instance) reaches the pipe rather than "all busy".
    platform::Path make_special_file() {
        const std::wstring name = LR"(\\.\pipe\velmarch-contract-)" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++pipes_);
        for (int instance = 0; instance < 8; ++instance) {
            const HANDLE pipe = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
            if (pipe == INVALID_HANDLE_VALUE) {
                ADD_FAILURE() << "CreateNamedPipeW failed: " << ::GetLastError();
                break;
            }
            pipe_handles_.push_back(pipe);
        }
        return platform::Path(name);
    }
    // A pipe has no path in a folder. The elevated run's own link check
    // (Wine reads as elevated) refuses its path text before anything is
    // opened, so the open's own refusal is shown without that check.
    platform::Platform& special_file_platform() { return unchecked_; }
    platform::LaunchRequest exiting_with(std::int32_t code) const { return child_launch(kChildExit, decimal16(code)); }
    platform::LaunchRequest missing_program() const {
        return {.application = root() / platform::Path(L"missing.exe"),
                .command_line = u"\"missing.exe\"",
                .working_directory = {}};
    }
    std::uint32_t start_live_process() {
        auto id = platform_->start_detached(child_launch(kChildSleep, u"60000"));
        if (!id) {
            ADD_FAILURE() << id.error().text;
            return 0;
        }
        live_.push_back(*id);
        return *id;
    }
    void end_process(std::uint32_t id) {
        const HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
        if (process == nullptr) return;
        ::TerminateProcess(process, 1);
        ::CloseHandle(process);
    }
    std::uint32_t finished_process() {
        auto id = platform_->start_detached(exiting_with(0));
        if (!id) {
            ADD_FAILURE() << id.error().text;
            return 0;
        }
        // Once its end is seen and the last handle closed, the process is gone.
        if (auto process = platform_->open_process_for_wait(*id)) process->wait(60000);
        return *id;
    }

private:
    std::unique_ptr<platform::Platform> platform_;
    ScratchFolder temp_;
    std::vector<std::uint32_t> live_;
    platform::win32::Win32Platform unchecked_{platform::win32::LinkCheck::off};
    std::vector<HANDLE> pipe_handles_;
    int pipes_ = 0;
};

#else

// POSIX: /bin/sh as every child.
class Posix {
public:
    // A process's exit status keeps the low 8 bits of its code.
    static constexpr bool kKeepsFullExitCode = false;

    Posix() : platform_(platform::make_native_platform(0, nullptr)) {}
    Posix(const Posix&) = delete;
    Posix& operator=(const Posix&) = delete;
    ~Posix() {
        for (pid_t id : started_) {
            ::kill(id, SIGKILL);
            reap(id);
        }
    }

    platform::Platform& platform() { return *platform_; }
    platform::Path root() const { return to_path(temp_.path()); }
    bool make_link(const platform::Path& link, const platform::Path& target, bool) {
        return ::symlink(target.c_str(), link.c_str()) == 0;
    }
    platform::Path make_special_file() {
        const platform::Path path = root() / test_path("fifo");
        if (::mkfifo(path.c_str(), 0666) != 0) ADD_FAILURE() << "mkfifo failed: " << errno;
        return path;
    }
    platform::Platform& special_file_platform() { return *platform_; }
    platform::LaunchRequest exiting_with(std::int32_t code) const {
        return shell(u"sh -c \"exit " + decimal16(code) + u"\"");
    }
    platform::LaunchRequest missing_program() const {
        return {.application = root() / platform::Path("missing-program"),
                .command_line = u"missing",
                .working_directory = {}};
    }
    std::uint32_t start_live_process() { return start(u"sh -c \"exec sleep 60\""); }
    // The process ends but stays unreaped, as a parent the updater waits for would.
    void end_process(std::uint32_t id) { ::kill(static_cast<pid_t>(id), SIGTERM); }
    std::uint32_t finished_process() {
        const std::uint32_t id = start(u"sh -c \"exit 0\"");
        reap(static_cast<pid_t>(id));
        std::erase(started_, static_cast<pid_t>(id));
        return id;
    }

private:
    static platform::LaunchRequest shell(std::u16string command_line) {
        return {
            .application = platform::Path("/bin/sh"), .command_line = std::move(command_line), .working_directory = {}};
    }
    std::uint32_t start(std::u16string command_line) {
        auto id = platform_->start_detached(shell(std::move(command_line)));
        if (!id) {
            ADD_FAILURE() << id.error().text;
            return 0;
        }
        started_.push_back(static_cast<pid_t>(*id));
        return *id;
    }
    static void reap(pid_t id) {
        while (::waitpid(id, nullptr, 0) < 0 && errno == EINTR) {
        }
    }

    std::unique_ptr<platform::Platform> platform_;
    ScratchFolder temp_;
    std::vector<pid_t> started_;
};

#endif

#ifdef _WIN32
using Native = Win32;
#else
using Native = Posix;
#endif

}  // namespace velmarch::testing::contract

// Other processes: waiting for one (through a process descriptor, a pidfd),
// starting one. The child gets the composed Windows command line split
// back into argv by the C runtime's rules, so it sees what a Windows program
// would see; argv[0] is the program text the caller gave, while the file run
// is the resolved application path.
//
// As CreateProcessW does, a relative application path is read against the
// updater's own working directory, not the child's: both the program and the
// working directory are opened before the fork. In an elevated run both are
// reached through the trusted walk, and the program is executed by
// (directory, name) without following a link there.

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>

#include "platform/posix/os_error.h"
#include "platform/posix/owners.h"
#include "platform/posix/platform.h"
#include "platform/posix/trusted_path.h"
#include "platform/rules/command_line_split.h"
#include "text/utf.h"

// POSIX has the program declare it; glibc declares it too, but only for _GNU_SOURCE.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace velmarch::platform::posix {
namespace {

class PidfdProcess final : public WaitableProcess {
public:
    explicit PidfdProcess(UniqueFd pidfd) : pidfd_(std::move(pidfd)) {}

    // The descriptor becomes readable once the process has ended, whether or
    // not it has been reaped yet.
    WaitOutcome wait(std::uint32_t milliseconds) override {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            const int timeout = static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
            pollfd entry{.fd = pidfd_.get(), .events = POLLIN, .revents = 0};
            const int ready = ::poll(&entry, 1, timeout);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return WaitOutcome::failed;
            }
            if (ready > 0) {
                if ((entry.revents & (POLLERR | POLLNVAL)) != 0) return WaitOutcome::failed;
                return WaitOutcome::exited;
            }
            // A limit beyond INT_MAX milliseconds takes more than one poll.
            if (left <= INT_MAX) return WaitOutcome::timed_out;
        }
    }

private:
    UniqueFd pidfd_;
};

constexpr const char* kNulByte = "nul byte found in provided data";

// Everything the child needs, built before the fork: after it, the child may
// only make async-signal-safe calls.
struct ChildProgram {
    Located application;
    UniqueFd working_directory;  // none: the updater's own
    std::vector<std::string> arguments;
    std::vector<char*> argv;
    char** environment = nullptr;
};

[[nodiscard]] Result<Located> locate_program(const Path& application, bool guarded) {
    if (guarded) return locate(application, true);
    // The child may start in another directory: a relative name is made
    // absolute against the updater's own first.
    Located at;
    at.name = application.native();
    if (application.is_relative()) {
        Result<Path> working = current_directory();
        if (!working) return std::unexpected(working.error());
        at.name = (*working / application).native();
    }
    return at;
}

[[nodiscard]] Result<UniqueFd> open_working_directory(const Path& directory, bool guarded,
                                                      const RaceWindow& race_window) {
    Result<Located> at = locate(directory, guarded);
    if (!at) return std::unexpected(at.error());
    open_race_window(race_window, at->name);
    for (;;) {
        const int fd =
            ::openat(at->directory_fd(), at->name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | at->open_no_follow);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EINTR) return fail(ErrorKind::os_error, last_os_error_text());
    }
}

[[nodiscard]] Result<ChildProgram> prepare(const LaunchRequest& launch, bool guarded, const RaceWindow& race_window) {
    if (launch.application.native().find('\0') != std::string::npos ||
        (launch.working_directory && launch.working_directory->native().find('\0') != std::string::npos) ||
        launch.command_line.find(u'\0') != std::u16string::npos) {
        return fail(ErrorKind::refused, kNulByte);
    }
    ChildProgram child;
    Result<Located> application = locate_program(launch.application, guarded);
    if (!application) return std::unexpected(application.error());
    child.application = std::move(*application);
    open_race_window(race_window, child.application.name);
    if (launch.working_directory) {
        Result<UniqueFd> directory = open_working_directory(*launch.working_directory, guarded, race_window);
        if (!directory) return std::unexpected(directory.error());
        child.working_directory = std::move(*directory);
    }
    child.environment = environ;
    // A lone surrogate cannot travel in a UTF-8 argv; it arrives as U+FFFD.
    for (const std::u16string& piece : split_command_line(launch.command_line)) {
        child.arguments.push_back(text::utf16_to_utf8_lossy(piece));
    }
    for (std::string& argument : child.arguments) child.argv.push_back(argument.data());
    child.argv.push_back(nullptr);
    return child;
}

[[nodiscard]] Result<int> wait_for_exit_status(pid_t pid) {
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid) return status;
        if (errno != EINTR) return fail(ErrorKind::os_error, last_os_error_text());
    }
}

// Every descriptor above the standard streams is closed on exec, whether or
// not its opener asked for that: the updater may hold descriptors its own
// starter left open, and a child gets none of them. close_range (Linux 5.11)
// does it in one call; without it each possible descriptor is marked in turn,
// up to `descriptor_limit`, read before the fork.
void close_other_descriptors_on_exec(int descriptor_limit) {
    if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    for (int fd = STDERR_FILENO + 1; fd < descriptor_limit; ++fd) (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

int descriptor_limit() {
    const long limit = ::sysconf(_SC_OPEN_MAX);
    return limit > 0 && limit < INT_MAX ? static_cast<int>(limit) : INT_MAX;
}

[[noreturn]] void report_and_exit(int report_fd) {
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(report_fd, &error, sizeof error);
    ::_exit(127);
}

// Forks and execs the program. A failure to enter the working directory or to
// exec reaches the parent through a close-on-exec pipe, so it is a launch
// error rather than an exit code: the pipe closes unread when exec succeeds.
[[nodiscard]] Result<pid_t> spawn(const LaunchRequest& launch, bool guarded, const RaceWindow& race_window) {
    Result<ChildProgram> child = prepare(launch, guarded, race_window);
    if (!child) return std::unexpected(child.error());

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    UniqueFd report_read(pipe_fds[0]);
    UniqueFd report_write(pipe_fds[1]);

    const int limit = descriptor_limit();
    const pid_t pid = ::fork();
    if (pid < 0) return fail(ErrorKind::os_error, last_os_error_text());
    if (pid == 0) {
        close_other_descriptors_on_exec(limit);
        if (child->working_directory.valid() && ::fchdir(child->working_directory.get()) != 0) {
            report_and_exit(report_write.get());
        }
        const Located& program = child->application;
        // A script's interpreter is handed /dev/fd/<directory>/<name>, so the
        // directory stays open across the exec.
        if (program.directory.valid() && ::fcntl(program.directory.get(), F_SETFD, 0) != 0) {
            report_and_exit(report_write.get());
        }
        ::execveat(program.directory_fd(), program.name.c_str(), child->argv.data(), child->environment,
                   program.at_no_follow);
        report_and_exit(report_write.get());
    }

    report_write.reset();
    int child_error = 0;
    std::size_t received = 0;
    while (received < sizeof child_error) {
        const ssize_t got =
            ::read(report_read.get(), reinterpret_cast<char*>(&child_error) + received, sizeof child_error - received);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        received += static_cast<std::size_t>(got);
    }
    if (received == 0) return pid;
    // The child failed before its exec: reap it and report why.
    (void)wait_for_exit_status(pid);
    return fail(ErrorKind::os_error, os_error_text(received == sizeof child_error ? child_error : EIO));
}

}  // namespace

std::unique_ptr<WaitableProcess> PosixPlatform::open_process_for_wait(std::uint32_t process_id) {
    // 0 would name the caller's process group and ids above INT_MAX wrap to
    // negative pid_t values: neither names a process that could be waited for.
    if (process_id == 0 || process_id > static_cast<std::uint32_t>(INT_MAX)) return nullptr;
    const long pidfd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(process_id), 0);
    if (pidfd < 0) return nullptr;
    return std::make_unique<PidfdProcess>(UniqueFd(static_cast<int>(pidfd)));
}

Result<std::int32_t> PosixPlatform::run_and_wait(const LaunchRequest& launch) {
    Result<pid_t> pid = spawn(launch, guard_links_, race_window_);
    if (!pid) return std::unexpected(pid.error());
    Result<int> status = wait_for_exit_status(*pid);
    if (!status) return std::unexpected(status.error());
    // A child killed by a signal reports 128 plus the signal number, as a
    // shell would.
    if (WIFSIGNALED(*status)) return 128 + WTERMSIG(*status);
    return WEXITSTATUS(*status);
}

Result<std::uint32_t> PosixPlatform::start_detached(const LaunchRequest& launch) {
    // The child is not reaped: the updater ends soon after a detached start,
    // and the child is then handed to init. Reaping it here would need a
    // thread, and a double fork would hide the id the caller asks for.
    Result<pid_t> pid = spawn(launch, guard_links_, race_window_);
    if (!pid) return std::unexpected(pid.error());
    return static_cast<std::uint32_t>(*pid);
}

}  // namespace velmarch::platform::posix

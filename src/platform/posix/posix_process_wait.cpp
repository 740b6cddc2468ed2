// Waiting for another process through a process descriptor (pidfd).

#include <poll.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/posix/posix_platform.h"
#include "platform/posix/unique_fd.h"

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

}  // namespace

std::unique_ptr<WaitableProcess> PosixPlatform::open_process_for_wait(std::uint32_t process_id) {
    // 0 would name the caller's process group and ids above INT_MAX wrap to
    // negative pid_t values: neither names a process that could be waited for.
    if (process_id == 0 || process_id > static_cast<std::uint32_t>(INT_MAX)) return nullptr;
    const long pidfd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(process_id), 0);
    if (pidfd < 0) return nullptr;
    return std::make_unique<PidfdProcess>(UniqueFd(static_cast<int>(pidfd)));
}

}  // namespace velmarch::platform::posix

#include "process/previous_process.h"

#include <string_view>

#include "text/format.h"

namespace velmarch::process {
namespace {

constexpr std::string_view kAlreadyExited = "The previous process has already exited.";
constexpr std::string_view kWaitingForProcess = "Waiting for process {} to exit.";
constexpr std::string_view kDidNotExitInTime = "The previous application process did not exit in time.";
constexpr std::string_view kWaitFailed = "Waiting for the previous application process failed.";

}  // namespace

Result<void> wait_for_previous_process(platform::Platform& platform, std::uint32_t process_id,
                                       update::Reporter& reporter) {
    platform::WaitOutcome outcome;
    {
        auto process = platform.open_process_for_wait(process_id);
        if (!process) {
            reporter.append_log_line(kAlreadyExited);
            return {};
        }
        reporter.append_log_line(text::format(kWaitingForProcess, process_id));
        outcome = process->wait(kPreviousProcessWaitMilliseconds);
    }  // the handle is closed here, before the outcome is looked at
    switch (outcome) {
        case platform::WaitOutcome::exited: return {};
        case platform::WaitOutcome::timed_out: return fail(ErrorKind::general, std::string(kDidNotExitInTime));
        case platform::WaitOutcome::failed: break;
    }
    return fail(ErrorKind::general, std::string(kWaitFailed));
}

}  // namespace velmarch::process

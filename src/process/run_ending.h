#pragma once
// The one way a finished run ends: its last log line, the result file and,
// unless Windows restarts the computer, the application started again.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "update/reporter.h"
#include "update/result_status.h"

namespace velmarch::process {

// What a finished run records, whether it starts the application again and
// the updater's own exit code.
struct RunEnding {
    update::ResultStatus status;
    std::int32_t result_exit_code;
    std::string message;
    bool restart;  // false when Windows restarts (or has restarted) the computer instead
    std::int32_t process_exit_code;
};

// A run that fails around the installer rather than inside it: recorded as an
// error with kInstallFailureExitCode, the application started again, and the
// same code as the updater's exit code.
RunEnding failure_around_installer(std::string message);

// Appends `log_line` unless it is empty, writes the result file, restarts the
// application when the ending says so, and returns the process exit code.
std::int32_t finish_run(platform::Platform& platform, update::Reporter& reporter, std::string_view log_line,
                        const RunEnding& ending, const platform::Path& app_path, const platform::Path& install_dir);

}  // namespace velmarch::process

#pragma once
// How a finished run ends: what it records, whether it starts the application
// again and the updater's own exit code. Pure vocabulary; the run finishes it.

#include <cstdint>
#include <string>

#include "update/result_status.h"

namespace velmarch::update {

struct RunEnding {
    ResultStatus status;
    std::int32_t result_exit_code;
    std::string message;
    bool restart;  // false when Windows restarts (or has restarted) the computer instead
    std::int32_t process_exit_code;
};

// A run that fails around the installer rather than inside it: recorded as an
// error with kInstallFailureExitCode, the application started again, and the
// same code as the updater's exit code.
RunEnding failure_around_installer(std::string message);

}  // namespace velmarch::update

#pragma once
// The one way a finished run ends: its last log line, the result file and,
// unless Windows restarts the computer, the application started again.

#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "update/reporter.h"
#include "update/run_ending.h"

namespace velmarch::run {

// Appends `log_line` unless it is empty, writes the result file, restarts the
// application when the ending says so, and returns the process exit code.
std::int32_t finish_run(platform::Platform& platform, update::Reporter& reporter, std::string_view log_line,
                        const update::RunEnding& ending, const platform::Path& app_path,
                        const platform::Path& install_dir);

}  // namespace velmarch::run

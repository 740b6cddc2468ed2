#pragma once
#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "update/run_aborted.h"

namespace velmarch::run {

// The process exit code of a finished run, or the run was aborted.
using RunOutcome = std::expected<std::int32_t, update::RunAborted>;

// One update run.
[[nodiscard]] RunOutcome run_update(platform::Platform& platform, const std::vector<std::string>& arguments);

// The whole process: reads the arguments, runs, writes an abort message to
// standard error, and returns the exit code.
std::int32_t run_updater_process(platform::Platform& platform);

}  // namespace velmarch::run

#pragma once
// The one process launcher: finds the program file (program_resolution.h),
// composes the Windows command line every started program parses
// (command_line_compose.h), and starts the process through the platform,
// either waiting for its exit code or returning its id at once.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/platform.h"
#include "process/command_line_compose.h"
#include "process/program_resolution.h"

namespace velmarch::process {

// Starts the program and waits without limit; returns its exit code.
[[nodiscard]] Result<std::int32_t> run_and_wait(platform::Platform& platform, const platform::Path& program,
                                                const std::vector<Argument>& arguments,
                                                const std::optional<platform::Path>& working_directory,
                                                SearchPlaces places);

// Starts the program and returns its process id without waiting.
[[nodiscard]] Result<std::uint32_t> start_detached(platform::Platform& platform, const platform::Path& program,
                                                   const std::vector<Argument>& arguments,
                                                   const std::optional<platform::Path>& working_directory,
                                                   SearchPlaces places);

}  // namespace velmarch::process

#pragma once
// Waiting, once and for a bounded time, for the application that started the
// updater to exit.

#include <cstdint>

#include "platform/platform.h"
#include "update/reporter.h"

namespace velmarch::process {

inline constexpr std::uint32_t kPreviousProcessWaitMilliseconds = 90000;

// A process that cannot be opened counts as gone. Logs whether it waits;
// fails when the process outlives the limit or the wait itself fails.
[[nodiscard]] Result<void> wait_for_previous_process(platform::Platform& platform, std::uint32_t process_id,
                                                     update::Reporter& reporter);

}  // namespace velmarch::process

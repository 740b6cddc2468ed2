#pragma once
// Writing a whole buffer through File::write, which may take fewer bytes.

#include <span>

#include "platform/platform.h"

namespace velmarch::platform {

// The message of a write that accepts 0 bytes of a non-empty buffer. The
// staging copy reports it as the failure text after its own sentence.
inline constexpr std::string_view kShortWriteFailure = "failed to write whole buffer";

// Writes the rest again after each short write until every byte is written.
// A failed write returns its error unchanged; a write that accepts nothing
// fails with kShortWriteFailure instead of trying forever.
[[nodiscard]] Result<void> write_all(File& file, std::span<const std::byte> bytes);

}  // namespace velmarch::platform

#pragma once
// Caller-named files on the stand-in are regular files or nothing: a FIFO
// blocks its opener until the other end opens and never ends, a device or a
// socket is no file to read, write or hand to a child.

#include "platform/platform.h"
#include "platform/posix/owners.h"
#include "platform/posix/trusted_path.h"

namespace velmarch::platform::posix {

// kNotARegularFile when something other than a regular file, a directory or a
// link stands at the located name; success when one of those does or nothing
// does. Looks without opening, so no device is opened to find out.
[[nodiscard]] Result<void> refuse_special_file_at(const Located& at);

// The same test on an open descriptor; a directory gives the system's EISDIR.
// For a regular file it then clears O_NONBLOCK, which only served the open.
[[nodiscard]] Result<void> require_regular_file(const UniqueFd& fd);

}  // namespace velmarch::platform::posix

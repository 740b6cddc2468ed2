#pragma once
// The "{} (os error {})" text of a failed system call.

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace velmarch::platform::win32 {

// The system's message for `code` (FormatMessageW, default language, trailing
// white space removed), then the code in signed decimal, for example
// "The system cannot find the file specified. (os error 2)". When the system
// has no message, "OS Error {} (FormatMessageW() returned error {})" stands
// in its place.
std::string os_error_text(std::uint32_t code);

// os_error_text of GetLastError().
std::string last_os_error_text();

// A failed deletion's error: ErrorKind::held for a sharing violation (32), a
// lock violation (33) and access denied (5) (see Platform::delete_file),
// ErrorKind::os_error otherwise.
Error removal_error(std::uint32_t code);
Error last_removal_error();

}  // namespace velmarch::platform::win32

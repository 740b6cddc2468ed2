#pragma once
// The "{} (os error {})" text of a failed system call.

#include <string>

namespace velmarch::platform::posix {

// The C library's message for `error_number`, then the number, for example
// "No such file or directory (os error 2)".
std::string os_error_text(int error_number);

// os_error_text of the current errno.
std::string last_os_error_text();

}  // namespace velmarch::platform::posix

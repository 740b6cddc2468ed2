#pragma once
// The "{} (os error {})" text of a failed system call.

#include <string>

#include "platform/platform.h"

namespace velmarch::platform::posix {

// The C library's message for `error_number`, then the number, for example
// "No such file or directory (os error 2)".
std::string os_error_text(int error_number);

// os_error_text of the current errno.
std::string last_os_error_text();

// A failed deletion's error: ErrorKind::held for EBUSY and ETXTBSY (see
// Platform::delete_file), ErrorKind::os_error otherwise.
Error removal_error(int error_number);
Error last_removal_error();

}  // namespace velmarch::platform::posix

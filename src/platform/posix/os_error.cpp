#include "platform/posix/os_error.h"

#include <cerrno>
#include <cstring>

#include "text/format.h"

namespace velmarch::platform::posix {
namespace {

// strerror_r comes in two flavours; overloads pick whichever the C library has.
[[maybe_unused]] const char* message_of(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* message_of(const char* result, const char*) { return result; }

}  // namespace

std::string os_error_text(int error_number) {
    char buffer[256] = {};
    const char* message = message_of(strerror_r(error_number, buffer, sizeof buffer), buffer);
    const std::string text = message != nullptr ? message : text::format("Unknown error {}", error_number);
    return text::format("{} (os error {})", text, error_number);
}

std::string last_os_error_text() { return os_error_text(errno); }

Error removal_error(int error_number) {
    const bool held = error_number == EBUSY || error_number == ETXTBSY;
    return Error{held ? ErrorKind::held : ErrorKind::os_error, os_error_text(error_number)};
}

Error last_removal_error() { return removal_error(errno); }

}  // namespace velmarch::platform::posix

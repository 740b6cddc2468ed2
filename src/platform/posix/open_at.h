#pragma once
// An open of a name relative to an open directory, tried again when a signal
// interrupts it; the descriptor is closed on exec.

#include <fcntl.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/posix/os_error.h"
#include "platform/posix/owners.h"

namespace velmarch::platform::posix {

[[nodiscard]] inline Result<UniqueFd> open_at(int directory, const std::string& name, int flags) {
    for (;;) {
        const int fd = ::openat(directory, name.c_str(), flags | O_CLOEXEC);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EINTR) return fail(ErrorKind::os_error, last_os_error_text());
    }
}

}  // namespace velmarch::platform::posix

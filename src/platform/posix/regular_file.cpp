#include "platform/posix/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/os_error.h"

namespace velmarch::platform::posix {

Result<void> refuse_special_file_at(const Located& at) {
    struct stat status {};
    if (::fstatat(at.directory_fd(), at.name.c_str(), &status, at.at_no_follow) != 0) return {};
    if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode) || S_ISLNK(status.st_mode)) return {};
    return fail_not_a_regular_file();
}

Result<void> require_regular_file(const UniqueFd& fd) {
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    if (S_ISDIR(status.st_mode)) return fail(ErrorKind::os_error, os_error_text(EISDIR));
    if (!S_ISREG(status.st_mode)) return fail_not_a_regular_file();
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(ErrorKind::os_error, last_os_error_text());
    return {};
}

}  // namespace velmarch::platform::posix

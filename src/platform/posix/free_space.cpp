// The free space on a directory's volume.

#include <fcntl.h>
#include <sys/statvfs.h>

#include <cstdint>

#include "platform/posix/open_at.h"
#include "platform/posix/os_error.h"
#include "platform/posix/platform.h"
#include "platform/posix/trusted_path.h"

namespace velmarch::platform::posix {

Result<std::uint64_t> PosixPlatform::free_bytes(const Path& directory) {
    Result<Located> at = locate(directory, guard_links_);
    if (!at) return std::unexpected(at.error());
    Result<UniqueFd> fd = open_at(at->directory_fd(), at->name, O_RDONLY | O_DIRECTORY | at->open_no_follow);
    if (!fd) return std::unexpected(fd.error());
    struct statvfs volume {};
    if (::fstatvfs(fd->get(), &volume) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    return static_cast<std::uint64_t>(volume.f_bavail) * static_cast<std::uint64_t>(volume.f_frsize);
}

}  // namespace velmarch::platform::posix

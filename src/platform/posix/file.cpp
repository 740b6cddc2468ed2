#include "platform/posix/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/os_error.h"

namespace velmarch::platform::posix {

Result<std::size_t> PosixFile::read(std::span<std::byte> buffer) {
    for (;;) {
        const ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return fail(ErrorKind::os_error, last_os_error_text());
    }
}

Result<std::size_t> PosixFile::write(std::span<const std::byte> bytes) {
    for (;;) {
        const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
        if (written >= 0) return static_cast<std::size_t>(written);
        if (errno != EINTR) return fail(ErrorKind::os_error, last_os_error_text());
    }
}

Result<void> PosixFile::flush() {
    if (::fsync(fd_.get()) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    return {};
}

Result<std::uint64_t> PosixFile::size() {
    struct stat status {};
    if (::fstat(fd_.get(), &status) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    return static_cast<std::uint64_t>(status.st_size);
}

Result<void> PosixFile::close() {
    if (fd_.close() != 0) return fail(ErrorKind::os_error, last_os_error_text());
    return {};
}

}  // namespace velmarch::platform::posix

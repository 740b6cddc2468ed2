// The administrator-only staging directory: mode 0700 stands in for the
// access list, so the security descriptor holds nothing.

#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/os_error.h"
#include "platform/posix/platform.h"
#include "platform/posix/trusted_path.h"

namespace velmarch::platform::posix {
namespace {

// Nothing to hold: the directory's mode 0700 stands in for the access list.
class PosixSecurityDescriptor final : public SecurityDescriptor {};

}  // namespace

Result<std::unique_ptr<SecurityDescriptor>> PosixPlatform::create_security_descriptor(std::string_view) {
    return std::make_unique<PosixSecurityDescriptor>();
}

Result<DirectoryCreation> PosixPlatform::create_directory(const Path& path, const SecurityDescriptor&) {
    Result<Located> at = locate(path, guard_links_, FinalLink::keep);
    if (!at) return std::unexpected(at.error());
    if (::mkdirat(at->directory_fd(), at->name.c_str(), 0700) == 0) return DirectoryCreation::created;
    if (errno == EEXIST) return DirectoryCreation::already_exists;
    return fail(ErrorKind::os_error, last_os_error_text());
}

}  // namespace velmarch::platform::posix

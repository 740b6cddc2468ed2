#include "new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_resource.h"
#include "text/format.h"

namespace velmarch::sign_tool {
namespace {

struct DescriptorTraits {
    using Value = int;
    static int invalid() noexcept { return -1; }
    static bool is_valid(int fd) noexcept { return fd >= 0; }
    static int release(int fd) noexcept { return ::close(fd); }
    static int nothing_released() noexcept { return 0; }
};
// Every error text is made before the descriptor is closed: no errno to keep.
struct NoErrorToKeep {
    // A user-provided constructor: with "= default" the keeper is trivial and
    // GCC reports the owner's keeper variable as unused.
    NoErrorToKeep() noexcept {}  // NOLINT(modernize-use-equals-default)
};
using Descriptor = platform::UniqueResource<DescriptorTraits, NoErrorToKeep>;

std::string system_error_text() { return std::strerror(errno); }

std::string os_error_text() { return text::format("{} (os error {})", std::strerror(errno), errno); }

[[nodiscard]] Result<void> write_whole(Descriptor& descriptor, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor.get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return fail(ErrorKind::os_error, os_error_text());
        if (written == 0) return fail(ErrorKind::general, std::string("failed to write whole buffer"));
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    if (::fsync(descriptor.get()) != 0) return fail(ErrorKind::os_error, os_error_text());
    if (descriptor.close() != 0) return fail(ErrorKind::os_error, os_error_text());
    return {};
}

}  // namespace

Result<void> write_new_file(const std::filesystem::path& path, std::span<const std::byte> bytes, FileKind kind) {
    const bool is_private = kind == FileKind::private_key;
    const std::string_view what = is_private ? "key file" : "public key file";
    const ::mode_t mode = is_private ? 0600 : 0644;
    Descriptor descriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (!descriptor) {
        return fail(ErrorKind::general,
                    text::format("The {} {} could not be created: {}.", what, path.string(), system_error_text()));
    }
    const auto write_bytes = [&]() -> Result<void> {
        // The umask can only narrow the mode; set it anyway so that it never depends on it.
        if (::fchmod(descriptor.get(), mode) != 0) {
            return fail(ErrorKind::general, text::format("The {} {} could not be given its mode: {}.", what,
                                                         path.string(), system_error_text()));
        }
        if (auto written = write_whole(descriptor, bytes); !written) {
            return fail(with_context(written.error(), "The {} {} could not be written: {}.", what, path.string()));
        }
        return {};
    };
    auto saved = write_bytes();
    if (!saved) ::unlink(path.c_str());  // no half-written file is left behind
    return saved;
}

}  // namespace velmarch::sign_tool

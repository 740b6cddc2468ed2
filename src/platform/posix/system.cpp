// The process-level operations: arguments, standard error, environment,
// clock, whether the run is elevated, random bytes and the well-known
// directories.
#include "platform/posix/platform.h"

#include <sys/random.h>
#include <time.h>  // NOLINT(modernize-deprecated-headers): clock_gettime is POSIX, not in <ctime>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/path/path.h"
#include "platform/posix/trusted_path.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch::platform::posix {

Result<std::vector<std::string>> PosixPlatform::arguments() {
    for (std::size_t i = 0; i < arguments_.size(); ++i) {
        if (!text::is_valid_utf8(arguments_[i])) {
            return fail(ErrorKind::general, text::format("Argument {} is not valid UTF-8 text.", i + 1));
        }
    }
    return arguments_;
}

void PosixPlatform::write_standard_error(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::optional<NativeString> PosixPlatform::environment_variable(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return NativeString(value);
}

std::uint64_t PosixPlatform::unix_time_seconds() {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) return 0;
    return static_cast<std::uint64_t>(now.tv_sec);
}

std::uint32_t PosixPlatform::current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

bool PosixPlatform::elevated() { return guard_links_; }

Result<Path> PosixPlatform::working_directory_for(const Path&) { return current_directory(); }

void PosixPlatform::sleep_milliseconds(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000};
    // A signal cuts the sleep short; the rest is slept.
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void PosixPlatform::random_bytes(std::span<std::byte> out) {
    while (!out.empty()) {
        const ssize_t got = ::getrandom(out.data(), out.size(), 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            // Only kernels older than 3.17 lack getrandom; nothing here may go
            // on with predictable bytes.
            std::abort();
        }
        out = out.subspan(static_cast<std::size_t>(got));
    }
}

// SystemRoot stands for the Windows directory; an empty value names nothing.
std::optional<Path> PosixPlatform::windows_directory() {
    std::optional<NativeString> root = environment_variable("SystemRoot");
    if (!root || root->empty()) return std::nullopt;
    return Path(std::move(*root));
}

std::optional<Path> PosixPlatform::system_directory() {
    const std::optional<Path> windows = windows_directory();
    if (!windows) return std::nullopt;
    return *windows / path_from_utf8("System32");
}

}  // namespace velmarch::platform::posix

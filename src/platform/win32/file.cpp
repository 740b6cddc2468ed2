#include "platform/win32/file.h"

#include <algorithm>
#include <limits>

#include "platform/win32/os_error.h"

namespace velmarch::platform::win32 {
namespace {

DWORD clamp_to_dword(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

}  // namespace

Result<std::size_t> Win32File::read(std::span<std::byte> buffer) {
    DWORD got = 0;
    if (!::ReadFile(handle_.get(), buffer.data(), clamp_to_dword(buffer.size()), &got, nullptr)) {
        return fail(ErrorKind::os_error, last_os_error_text());
    }
    return got;
}

Result<std::size_t> Win32File::write(std::span<const std::byte> bytes) {
    DWORD written = 0;
    if (!::WriteFile(handle_.get(), bytes.data(), clamp_to_dword(bytes.size()), &written, nullptr)) {
        return fail(ErrorKind::os_error, last_os_error_text());
    }
    return written;
}

Result<void> Win32File::flush() {
    if (!::FlushFileBuffers(handle_.get())) return fail(ErrorKind::os_error, last_os_error_text());
    return {};
}

Result<std::uint64_t> Win32File::size() {
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(handle_.get(), &length)) return fail(ErrorKind::os_error, last_os_error_text());
    return static_cast<std::uint64_t>(length.QuadPart);
}

}  // namespace velmarch::platform::win32

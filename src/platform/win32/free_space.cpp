// The free space on a directory's volume.
#include "platform/win32/windows_api.h"

#include <cstdint>

#include "platform/win32/os_error.h"
#include "platform/win32/platform.h"

namespace velmarch::platform::win32 {

Result<std::uint64_t> Win32Platform::free_bytes(const Path& directory) {
    if (Result<void> checked = check_links(directory); !checked) return std::unexpected(checked.error());
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(directory.c_str(), &available, nullptr, nullptr))
        return fail(ErrorKind::os_error, last_os_error_text());
    return available.QuadPart;
}

}  // namespace velmarch::platform::win32

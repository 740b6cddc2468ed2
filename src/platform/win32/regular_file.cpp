#include "platform/win32/regular_file.h"

namespace velmarch::platform::win32 {

Result<void> require_disk_file(HANDLE handle) {
    if (::GetFileType(handle) == FILE_TYPE_DISK) return {};
    return std::unexpected(std::string(kNotARegularFile));
}

}  // namespace velmarch::platform::win32

#include "platform/win32/regular_file.h"

namespace velmarch::platform::win32 {

Result<void> require_disk_file(HANDLE handle) {
    if (::GetFileType(handle) == FILE_TYPE_DISK) return {};
    return fail_not_a_regular_file();
}

}  // namespace velmarch::platform::win32

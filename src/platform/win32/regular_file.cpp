#include "platform/win32/regular_file.h"

#include "platform/win32/owners.h"

namespace velmarch::platform::win32 {

Result<void> require_disk_file(HANDLE handle) {
    if (::GetFileType(handle) == FILE_TYPE_DISK) return {};
    return std::unexpected(std::string(kNotARegularFile));
}

Result<void> refuse_special_file(const Path& path) {
    const UniqueHandle handle(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    return require_disk_file(handle.get());
}

}  // namespace velmarch::platform::win32

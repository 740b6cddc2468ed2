#include "platform/win32/full_path_name.h"

#include "platform/win32/os_error.h"
#include "platform/win32/windows_api.h"

namespace velmarch::platform::win32 {

Result<std::wstring> full_path_name(const std::wstring& path) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return fail(ErrorKind::os_error, last_os_error_text());
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length);
    }
}

}  // namespace velmarch::platform::win32

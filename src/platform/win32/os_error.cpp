#include "platform/win32/os_error.h"

#include <array>
#include <bit>
#include <string_view>

#include "platform/win32/windows_api.h"
#include "text/format.h"
#include "text/trim.h"
#include "text/utf.h"

namespace velmarch::platform::win32 {
namespace {

std::int32_t as_signed(std::uint32_t value) { return std::bit_cast<std::int32_t>(value); }

}  // namespace

std::string os_error_text(std::uint32_t code) {
    std::array<wchar_t, 2048> buffer{};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                          buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
    if (length == 0) {
        const DWORD lookup_error = ::GetLastError();
        return text::format("OS Error {} (FormatMessageW() returned error {}) (os error {})", as_signed(code),
                            as_signed(lookup_error), as_signed(code));
    }
    const std::u16string message(buffer.begin(), buffer.begin() + length);
    return text::format("{} (os error {})", text::utf16_to_utf8_lossy(text::trim_end(message)), as_signed(code));
}

std::string last_os_error_text() { return os_error_text(::GetLastError()); }

Error removal_error(std::uint32_t code) {
    const bool held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
    return Error{held ? ErrorKind::held : ErrorKind::os_error, os_error_text(code)};
}

Error last_removal_error() { return removal_error(::GetLastError()); }

}  // namespace velmarch::platform::win32

#include "platform/win32/os_error.h"

#include <array>
#include <bit>
#include <string_view>

#include "platform/win32/windows_api.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch::platform::win32 {
namespace {

// Unicode White_Space characters of the Basic Multilingual Plane (all of them).
bool is_white_space(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::int32_t as_signed(std::uint32_t value) { return std::bit_cast<std::int32_t>(value); }

}  // namespace

std::string os_error_text(std::uint32_t code) {
    std::array<wchar_t, 2048> buffer{};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          code, 0, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
    if (length == 0) {
        const DWORD lookup_error = ::GetLastError();
        return text::format("OS Error {} (FormatMessageW() returned error {}) (os error {})", as_signed(code),
                            as_signed(lookup_error), as_signed(code));
    }
    std::u16string message(buffer.begin(), buffer.begin() + length);
    while (!message.empty() && is_white_space(message.back())) message.pop_back();
    return text::format("{} (os error {})", text::utf16_to_utf8_lossy(message), as_signed(code));
}

std::string last_os_error_text() { return os_error_text(::GetLastError()); }

Error removal_error(std::uint32_t code) {
    const bool held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
    return Error{held ? ErrorKind::held : ErrorKind::os_error, os_error_text(code)};
}

Error last_removal_error() { return removal_error(::GetLastError()); }

}  // namespace velmarch::platform::win32

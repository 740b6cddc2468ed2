#pragma once
// Conversions between the Windows API's wchar_t text and the project's
// char16_t text (the same UTF-16 code units under another type).

#include <string>
#include <string_view>

namespace velmarch::platform::win32 {

inline std::wstring to_wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string to_utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace velmarch::platform::win32

#pragma once
// Conversions between UTF-8 and UTF-16 text.

#include <optional>
#include <string>
#include <string_view>

namespace velmarch::text {

// nullopt when the input is not well-formed (lone surrogates, bad bytes).
std::optional<std::u16string> utf8_to_utf16(std::string_view utf8);
std::optional<std::string> utf16_to_utf8(std::u16string_view utf16);

// Ill-formed sequences become U+FFFD.
std::u16string utf8_to_utf16_lossy(std::string_view utf8);
std::string utf16_to_utf8_lossy(std::u16string_view utf16);

bool is_valid_utf8(std::string_view utf8);

}  // namespace velmarch::text

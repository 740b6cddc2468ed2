#pragma once
// Reading hexadecimal text of fixed-size binary values (writing it is
// text::encode_hex_lower).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

namespace velmarch::trust {

// Trims the text; it must then be exactly 64 hexadecimal digits (either case),
// read pairwise, high nibble first. Otherwise "Invalid hexadecimal value.".
[[nodiscard]] Result<std::array<std::uint8_t, 32>> decode_hex_32_bytes(std::string_view text);

bool is_hex_digit(char c);

}  // namespace velmarch::trust

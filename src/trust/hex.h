#pragma once
// Hexadecimal text of fixed-size binary values.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace velmarch {

// Trims the text; it must then be exactly 64 hexadecimal digits (either case),
// read pairwise, high nibble first. Otherwise "Invalid hexadecimal value.".
platform::Result<std::array<std::uint8_t, 32>> decode_hex(std::string_view text);

// Two lower-case digits per byte, high nibble first.
std::string encode_hex_lower(std::span<const std::uint8_t> bytes);

bool is_hex_digit(char c);

}  // namespace velmarch

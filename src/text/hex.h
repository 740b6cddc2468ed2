#pragma once
// Hexadecimal text of bytes: writing it in lower case (digests, random
// names, JSON escapes) and reading fixed-size values back (keys).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/result.h"

namespace velmarch::text {

// Two digits from "0123456789abcdef" per byte, in byte order, high nibble
// first; no prefix or separator.
std::string encode_hex_lower(std::span<const std::byte> bytes);
std::string encode_hex_lower(std::span<const std::uint8_t> bytes);

// Trims the text; it must then be exactly 64 hexadecimal digits (either case),
// read pairwise, high nibble first. Otherwise "Invalid hexadecimal value.".
[[nodiscard]] Result<std::array<std::uint8_t, 32>> decode_hex_32_bytes(std::string_view text);

bool is_hex_digit(char c);

}  // namespace velmarch::text

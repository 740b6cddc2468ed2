#pragma once
// Lower-case hexadecimal text of bytes: digests, random names, JSON escapes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace velmarch::text {

// Two digits from "0123456789abcdef" per byte, in byte order, high nibble
// first; no prefix or separator.
std::string encode_hex_lower(std::span<const std::byte> bytes);
std::string encode_hex_lower(std::span<const std::uint8_t> bytes);

}  // namespace velmarch::text

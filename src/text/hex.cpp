#include "text/hex.h"

#include <string_view>

namespace velmarch::text {

std::string encode_hex_lower(std::span<const std::byte> bytes) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::byte byte : bytes) {
        const auto value = std::to_integer<unsigned>(byte);
        text += kDigits[value >> 4];
        text += kDigits[value & 0x0F];
    }
    return text;
}

std::string encode_hex_lower(std::span<const std::uint8_t> bytes) { return encode_hex_lower(std::as_bytes(bytes)); }

}  // namespace velmarch::text

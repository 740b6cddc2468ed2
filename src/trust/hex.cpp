#include "trust/hex.h"

#include "text/trim.h"

namespace velmarch::trust {
namespace {

constexpr std::string_view kInvalidHex = "Invalid hexadecimal value.";

std::uint8_t nibble_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return static_cast<std::uint8_t>(c - 'A' + 10);
}

}  // namespace

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

Result<std::array<std::uint8_t, 32>> decode_hex_32_bytes(std::string_view text) {
    const std::string_view digits = text::trim(text);
    std::array<std::uint8_t, 32> bytes{};
    if (digits.size() != bytes.size() * 2) return std::unexpected(std::string(kInvalidHex));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char high = digits[2 * i];
        const char low = digits[2 * i + 1];
        if (!is_hex_digit(high) || !is_hex_digit(low)) return std::unexpected(std::string(kInvalidHex));
        bytes[i] = static_cast<std::uint8_t>((nibble_value(high) << 4) | nibble_value(low));
    }
    return bytes;
}

}  // namespace velmarch::trust

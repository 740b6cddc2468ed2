#include "text/hex.h"

#include "text/trim.h"

namespace velmarch::text {
namespace {

constexpr std::string_view kInvalidHex = "Invalid hexadecimal value.";

std::uint8_t nibble_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return static_cast<std::uint8_t>(c - 'A' + 10);
}

}  // namespace

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

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

Result<std::array<std::uint8_t, 32>> decode_hex_32_bytes(std::string_view text) {
    const std::string_view digits = trim(text);
    std::array<std::uint8_t, 32> bytes{};
    if (digits.size() != bytes.size() * 2) return fail(ErrorKind::refused, std::string(kInvalidHex));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char high = digits[2 * i];
        const char low = digits[2 * i + 1];
        if (!is_hex_digit(high) || !is_hex_digit(low)) return fail(ErrorKind::refused, std::string(kInvalidHex));
        bytes[i] = static_cast<std::uint8_t>((nibble_value(high) << 4) | nibble_value(low));
    }
    return bytes;
}

}  // namespace velmarch::text

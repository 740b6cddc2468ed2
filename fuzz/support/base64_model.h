#pragma once
// The harnesses' model of standard Base64 (RFC 4648 section 4): the canonical
// encoder, and strict decoding defined as "the text is the canonical encoding
// of what it loosely decodes to".

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz_model {

inline constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline std::string base64_encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j) group = (group << 8) | (j < count ? bytes[i + j] : 0u);
        for (std::size_t j = 0; j < 4; ++j) text += j <= count ? kBase64Alphabet[(group >> (18 - 6 * j)) & 0x3F] : '=';
    }
    return text;
}

inline std::optional<std::vector<std::uint8_t>> base64_decode_strict(std::string_view text) {
    std::string_view significant = text;
    while (!significant.empty() && significant.back() == '=') significant.remove_suffix(1);
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (char c : significant) {
        const std::size_t value = kBase64Alphabet.find(c);
        if (value == std::string_view::npos) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bit_count));
            bits &= (1u << bit_count) - 1u;
        }
    }
    if (base64_encode(bytes) != text) return std::nullopt;
    return bytes;
}

}  // namespace fuzz_model

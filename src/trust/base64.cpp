#include "trust/base64.h"

#include <array>

namespace velmarch::trust {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::string_view kNotBase64 = "The text is not valid Base64.";

constexpr std::uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<std::uint8_t, 256> make_decode_table() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kDecodeTable = make_decode_table();

[[nodiscard]] Result<std::vector<std::uint8_t>> refuse() { return fail(ErrorKind::refused, std::string(kNotBase64)); }

}  // namespace

Result<std::vector<std::uint8_t>> base64_decode_strict(std::string_view text) {
    if (text.size() % 4 != 0) return refuse();

    // Padding is one or two "=" closing the last group; everything before it
    // must be alphabet characters.
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == kPad) {
        ++padding;
    }
    const std::string_view significant = text.substr(0, text.size() - padding);
    // Three "=" would leave one significant character in the last group;
    // a fourth would be a whole group of padding.
    if (!significant.empty() && significant.back() == kPad) return refuse();

    std::vector<std::uint8_t> bytes;
    bytes.reserve(significant.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (const char c : significant) {
        const std::uint8_t value = kDecodeTable[static_cast<unsigned char>(c)];
        if (value == kNotInAlphabet) return refuse();
        bits = (bits << 6) | value;
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bit_count));
            bits &= (1U << bit_count) - 1U;
        }
    }
    // With canonical padding the last group has 4, 3 or 2 significant
    // characters; that leaves 0, 2 or 4 bits, and they must all be zero.
    // (Text of 4n characters with at most two "=" never leaves 6 bits, the
    // one-character last group, because that needs three "=".)
    if (bits != 0) return refuse();
    return bytes;
}

std::string base64_encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        text += kAlphabet[(group >> 18) & 0x3F];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += kAlphabet[(group >> 6) & 0x3F];
        text += kAlphabet[group & 0x3F];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        text += kAlphabet[(group >> 18) & 0x3F];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += kPad;
        text += kPad;
    } else if (rest == 2) {
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
        text += kAlphabet[(group >> 18) & 0x3F];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += kAlphabet[(group >> 6) & 0x3F];
        text += kPad;
    }
    return text;
}

}  // namespace velmarch::trust

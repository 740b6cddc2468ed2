#pragma once
// The harnesses' own model of trimming, written from the code-point rule
// rather than from byte patterns: a leading or trailing well-formed UTF-8
// character whose code point has the Unicode White_Space property is removed,
// repeatedly. Bytes that do not form a well-formed character stop the trim.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fuzz_model {

inline bool is_white_space(std::uint32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

struct DecodedCharacter {
    std::uint32_t code_point;
    std::size_t length;
};

// The well-formed character starting at the first byte of `s` (RFC 3629:
// no overlong forms, no surrogates, nothing above U+10FFFF).
inline std::optional<DecodedCharacter> decode_first(std::string_view s) {
    if (s.empty()) return std::nullopt;
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) return DecodedCharacter{b0, 1};
    std::size_t length = 0;
    std::uint32_t cp = 0;
    std::uint32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1Fu, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0Fu, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07u, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (s.size() < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return DecodedCharacter{cp, length};
}

// The well-formed character that ends exactly at the end of `s`.
inline std::optional<DecodedCharacter> decode_last(std::string_view s) {
    for (std::size_t length = 1; length <= 4 && length <= s.size(); ++length) {
        const auto candidate = decode_first(s.substr(s.size() - length));
        if (candidate && candidate->length == length) return candidate;
    }
    return std::nullopt;
}

inline std::string_view trim(std::string_view s) {
    for (auto c = decode_first(s); c && is_white_space(c->code_point); c = decode_first(s)) s.remove_prefix(c->length);
    for (auto c = decode_last(s); c && is_white_space(c->code_point); c = decode_last(s)) s.remove_suffix(c->length);
    return s;
}

inline bool is_well_formed_utf8(std::string_view s) {
    while (!s.empty()) {
        const auto c = decode_first(s);
        if (!c) return false;
        s.remove_prefix(c->length);
    }
    return true;
}

inline std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

inline bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace fuzz_model

#include "text/utf.h"

#include <cstdint>
#include <type_traits>

namespace velmarch::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos`; returns false (and advances by one byte)
// on an ill-formed sequence.
bool decode_utf8(std::string_view s, std::size_t& pos, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        ++pos;
        return true;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++pos;
        return false;
    }
    if (pos + len > s.size()) {
        ++pos;
        return false;
    }
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return false;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return false;
    }
    pos += len;
    return true;
}

bool decode_utf16(std::u16string_view s, std::size_t& pos, char32_t& cp) {
    const char16_t u = s[pos];
    if (u < 0xD800 || u > 0xDFFF) {
        cp = u;
        ++pos;
        return true;
    }
    if (u <= 0xDBFF && pos + 1 < s.size() && s[pos + 1] >= 0xDC00 && s[pos + 1] <= 0xDFFF) {
        cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(s[pos + 1]) - 0xDC00);
        pos += 2;
        return true;
    }
    ++pos;
    return false;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

// The lossy conversions cannot fail, and their type says so.
template <bool Lossy, class Text>
using Converted = std::conditional_t<Lossy, Text, std::optional<Text>>;

template <bool Lossy>
Converted<Lossy, std::u16string> to_utf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (std::size_t pos = 0; pos < in.size();) {
        char32_t cp;
        if (!decode_utf8(in, pos, cp)) {
            if constexpr (!Lossy) return std::nullopt;
            cp = kReplacement;
        }
        append_utf16(out, cp);
    }
    return out;
}

template <bool Lossy>
Converted<Lossy, std::string> to_utf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t pos = 0; pos < in.size();) {
        char32_t cp;
        if (!decode_utf16(in, pos, cp)) {
            if constexpr (!Lossy) return std::nullopt;
            cp = kReplacement;
        }
        append_utf8(out, cp);
    }
    return out;
}

}  // namespace

std::optional<std::u16string> utf8_to_utf16(std::string_view utf8) { return to_utf16<false>(utf8); }
std::optional<std::string> utf16_to_utf8(std::u16string_view utf16) { return to_utf8<false>(utf16); }
std::u16string utf8_to_utf16_lossy(std::string_view utf8) { return to_utf16<true>(utf8); }
std::string utf16_to_utf8_lossy(std::u16string_view utf16) { return to_utf8<true>(utf16); }

bool is_valid_utf8(std::string_view utf8) {
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t cp;
        if (!decode_utf8(utf8, pos, cp)) return false;
    }
    return true;
}

}  // namespace velmarch::text

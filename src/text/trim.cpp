#include "text/trim.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace velmarch::text {
namespace {

constexpr std::array<std::string_view, 17> kMultiByteWhiteSpace = {
    "\xC2\x85",      // U+0085
    "\xC2\xA0",      // U+00A0
    "\xE1\x9A\x80",  // U+1680
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84",
    "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A",  // U+2000 to U+200A
    "\xE2\x80\xA8",  // U+2028
    "\xE2\x80\xA9",  // U+2029
    "\xE2\x80\xAF",  // U+202F
};
constexpr std::string_view kU205F = "\xE2\x81\x9F";
constexpr std::string_view kU3000 = "\xE3\x80\x80";

bool is_ascii_white_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Length of the white-space character at the start of `s`, or 0.
std::size_t leading_space(std::string_view s) {
    if (s.empty()) return 0;
    if (is_ascii_white_space(s.front())) return 1;
    for (std::string_view w : kMultiByteWhiteSpace)
        if (s.starts_with(w)) return w.size();
    if (s.starts_with(kU205F)) return kU205F.size();
    if (s.starts_with(kU3000)) return kU3000.size();
    return 0;
}

std::size_t trailing_space(std::string_view s) {
    if (s.empty()) return 0;
    if (is_ascii_white_space(s.back())) return 1;
    for (std::string_view w : kMultiByteWhiteSpace)
        if (s.ends_with(w)) return w.size();
    if (s.ends_with(kU205F)) return kU205F.size();
    if (s.ends_with(kU3000)) return kU3000.size();
    return 0;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view trim(std::string_view text) {
    while (std::size_t n = leading_space(text)) text.remove_prefix(n);
    while (std::size_t n = trailing_space(text)) text.remove_suffix(n);
    return text;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace velmarch::text

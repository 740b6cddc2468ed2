#pragma once
// The Unicode White_Space property: the one set of characters that trimming,
// the system's messages and the quoting of installer arguments treat as space.

namespace velmarch::text {

// Every White_Space code point (25 of them, all in the Basic Multilingual
// Plane and none a surrogate, so a UTF-16 unit can be asked directly). Not
// among them: U+180E, U+200B, U+FEFF.
constexpr bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace velmarch::text

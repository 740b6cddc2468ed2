#pragma once
// ASCII case, never the locale's: A to Z and a to z, every other unit as it is.

#include <concepts>
#include <string>
#include <string_view>

namespace velmarch::text {

template <class T>
concept CodeUnit = std::same_as<T, char> || std::same_as<T, wchar_t> || std::same_as<T, char8_t> ||
    std::same_as<T, char16_t> || std::same_as<T, char32_t>;

template <CodeUnit Char>
constexpr Char ascii_lower(Char c) noexcept {
    return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

template <CodeUnit Char>
constexpr Char ascii_upper(Char c) noexcept {
    return c >= Char('a') && c <= Char('z') ? Char(c - Char('a') + Char('A')) : c;
}

// ASCII A to Z turned into a to z; every other byte unchanged.
std::string ascii_lower(std::string_view text);

// Equal when ASCII letters are compared without regard to case.
bool ascii_iequals(std::string_view a, std::string_view b);

}  // namespace velmarch::text

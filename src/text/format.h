#pragma once
// Fills the "{}" placeholders of a fixed message template in order.

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace velmarch::text {

namespace detail {
inline std::string to_text(std::string_view value) { return std::string(value); }
inline std::string to_text(const std::string& value) { return value; }
inline std::string to_text(const char* value) { return value; }
template <std::integral T>
std::string to_text(T value) {
    return std::to_string(value);
}
}  // namespace detail

// Replaces each "{}" of `pattern`, left to right, with the next argument
// (integers in decimal, texts unchanged). Surplus placeholders stay as they are.
template <class... Args>
std::string format(std::string_view pattern, const Args&... args) {
    std::string out;
    out.reserve(pattern.size() + 32);
    std::string values[] = {detail::to_text(args)..., std::string()};
    std::size_t next = 0;
    std::size_t pos = 0;
    while (pos < pattern.size()) {
        if (next < sizeof...(Args) && pattern.compare(pos, 2, "{}") == 0) {
            out += values[next++];
            pos += 2;
        } else {
            out += pattern[pos++];
        }
    }
    return out;
}

}  // namespace velmarch::text

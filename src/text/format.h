#pragma once
// Fills the "{}" placeholders of a fixed message template in order.

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace velmarch::text {

// How many "{}" `pattern` holds, counted left to right without overlap.
constexpr std::size_t placeholder_count(std::string_view pattern) {
    std::size_t count = 0;
    for (std::size_t pos = pattern.find("{}"); pos != std::string_view::npos; pos = pattern.find("{}", pos + 2))
        ++count;
    return count;
}

namespace detail {
inline std::string to_text(std::string_view value) { return std::string(value); }
inline std::string to_text(const std::string& value) { return value; }
inline std::string to_text(const char* value) { return value; }
template <std::integral T>
std::string to_text(T value) {
    return std::to_string(value);
}

// Reached only while a pattern is checked at compile time, where calling a
// function that is not constexpr stops the compilation.
inline void placeholders_differ_from_arguments() {}
}  // namespace detail

// A message template whose "{}" count is checked against the arguments when
// the program is compiled: a template with one placeholder too many or too
// few does not compile.
template <class... Args>
class BasicPattern {
public:
    template <class Text>
    requires std::convertible_to<const Text&, std::string_view>
    consteval BasicPattern(const Text& pattern)  // NOLINT(google-explicit-constructor): a literal stands for it
        : pattern_(pattern) {
        if (placeholder_count(pattern_) != sizeof...(Args)) detail::placeholders_differ_from_arguments();
    }
    [[nodiscard]] constexpr std::string_view get() const { return pattern_; }

private:
    std::string_view pattern_;
};

template <class... Args>
using Pattern = BasicPattern<std::type_identity_t<Args>...>;

// Replaces each "{}" of `pattern`, left to right, with the next argument
// (integers in decimal, texts unchanged).
template <class... Args>
std::string format(Pattern<Args...> pattern, const Args&... args) {
    const std::string_view text = pattern.get();
    std::string out;
    out.reserve(text.size() + 32);
    std::string values[] = {detail::to_text(args)..., std::string()};
    std::size_t next = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (next < sizeof...(Args) && text.compare(pos, 2, "{}") == 0) {
            out += values[next++];
            pos += 2;
        } else {
            out += text[pos++];
        }
    }
    return out;
}

}  // namespace velmarch::text

#include "text/trim.h"

#include <optional>

#include "text/utf.h"
#include "text/white_space.h"

namespace velmarch::text {
namespace {

// White_Space takes at most three bytes of UTF-8.
constexpr std::size_t kLongestWhiteSpace = 3;

// Whether `bytes` is exactly one well-formed UTF-8 character that is White_Space.
bool is_white_space_character(std::string_view bytes) {
    const std::optional<std::u16string> units = utf8_to_utf16(bytes);
    return units && units->size() == 1 && is_white_space(units->front());
}

enum class End { front, back };

// Length of the white-space character at that end of `s`, or 0.
std::size_t space_at(End end, std::string_view s) {
    for (std::size_t n = 1; n <= kLongestWhiteSpace && n <= s.size(); ++n)
        if (is_white_space_character(end == End::front ? s.substr(0, n) : s.substr(s.size() - n))) return n;
    return 0;
}

}  // namespace

std::string_view trim(std::string_view text) {
    while (std::size_t n = space_at(End::front, text)) text.remove_prefix(n);
    while (std::size_t n = space_at(End::back, text)) text.remove_suffix(n);
    return text;
}

std::u16string_view trim_end(std::u16string_view text) {
    while (!text.empty() && is_white_space(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace velmarch::text

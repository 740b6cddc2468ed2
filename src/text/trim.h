#pragma once
#include <string>
#include <string_view>

namespace velmarch::text {

// Removes every Unicode White_Space character from both ends of UTF-8 text.
// Inner characters and bytes that are not valid UTF-8 stay.
std::string_view trim(std::string_view text);

// Removes every Unicode White_Space character from the end of UTF-16 text;
// a lone surrogate stays.
std::u16string_view trim_end(std::u16string_view text);

}  // namespace velmarch::text

#pragma once
#include <string>
#include <string_view>

namespace velmarch::text {

// Removes every Unicode White_Space character from both ends of UTF-8 text.
// Inner characters and bytes that are not valid UTF-8 stay.
std::string_view trim(std::string_view text);

// ASCII A to Z turned into a to z; every other byte unchanged.
std::string ascii_lower(std::string_view text);

// Equal when ASCII letters are compared without regard to case.
bool ascii_iequals(std::string_view a, std::string_view b);

}  // namespace velmarch::text

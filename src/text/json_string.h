#pragma once
#include <string>
#include <string_view>

namespace velmarch::text {

// A JSON string literal (with its quotes), escaping byte by byte over UTF-8:
// the quote, the backslash and every control character below U+0020.
std::string json_string(std::string_view text);

}  // namespace velmarch::text

#pragma once
// JSON strings for the tool's --json output.

#include <string>
#include <string_view>

namespace velmarch::sign_tool {

// `text` (UTF-8) as a quoted JSON string: quotation mark, backslash and every
// control character below U+0020 escaped, everything else as it is.
std::string json_string(std::string_view text);

}  // namespace velmarch::sign_tool

#pragma once
// The version a publisher signs: the updater compares it, trimmed, with the
// signed text, and the signed text keeps it on one line.

#include <string_view>

#include "text/result.h"

namespace velmarch::sign_tool {

// Refuses an empty version, one that is not valid UTF-8, one with a control
// character (C0, DEL or C1) and one with white space around it.
[[nodiscard]] Result<void> check_version_text(std::string_view version);

}  // namespace velmarch::sign_tool

#pragma once
// The system's full path of a path text (GetFullPathNameW): made absolute
// against the current directory (for "D:", that drive's), "." and ".."
// resolved, of any length.

#include <string>

#include "platform/platform.h"

namespace velmarch::platform::win32 {

[[nodiscard]] Result<std::wstring> full_path_name(const std::wstring& path);

}  // namespace velmarch::platform::win32

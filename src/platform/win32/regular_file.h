#pragma once
// Caller-named files on Windows are disk files or nothing: a pipe, a console
// or another device named by a path can hold a read or write without end and
// has no fixed content.

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace velmarch::platform::win32 {

// kNotARegularFile unless the handle is a disk file (GetFileType). Called
// before any byte is read or written through it.
[[nodiscard]] Result<void> require_disk_file(HANDLE handle);

}  // namespace velmarch::platform::win32

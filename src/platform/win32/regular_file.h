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

// For a file a child will open: success when nothing can be opened at the
// path (the child reports that itself) or when it is a disk file or a
// directory; kNotARegularFile otherwise. Opens without any access right.
[[nodiscard]] Result<void> refuse_special_file(const Path& path);

}  // namespace velmarch::platform::win32

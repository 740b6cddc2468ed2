#pragma once
// Starting the application again through the Windows shell, without waiting.
// Best effort: the outcome is one helper-log line and nothing else.

#include "platform/platform.h"
#include "update/reporter.h"

namespace velmarch::process {

// <Windows directory>\explorer.exe when that is an existing file, otherwise the
// bare name "explorer.exe", which the launcher looks for in the system and
// Windows directories only.
platform::Path locate_explorer(platform::Platform& platform);

// Starts `app_path` in `install_dir`.
void restart_application(platform::Platform& platform, const platform::Path& app_path,
                         const platform::Path& install_dir, update::Reporter& reporter);

}  // namespace velmarch::process

#pragma once
// The caller-named paths of a run (each that kPathOptions marks made whole),
// made whole once, before any file is touched: each is made absolute against
// the updater's working directory and its "." and ".." are resolved by text
// (platform/path/full_path.h). From then on every step, the existence test, the
// version check and the restart name the same file, and no walk ever has a
// ".." to take.

#include "platform/platform.h"
#include "run/update_request.h"
#include "text/result.h"

namespace velmarch::run {

// An absolute path without "." or ".." comes back unchanged, byte for byte.
// Fails when a working directory is needed and cannot be read, and for a
// Windows share or device text whose "." or ".." the system reads in its own
// way (platform::is_ambiguous_root).
[[nodiscard]] Result<void> make_request_paths_full(platform::Platform& platform, UpdateRequest& request);

}  // namespace velmarch::run

#pragma once
// The elevated run's own check of a caller-named path, for systems where
// RedirectionGuard is not in force: every existing component is looked at
// without following it, and a junction or symbolic link (a name-surrogate
// reparse point) is followed only when Administrators, LocalSystem or
// TrustedInstaller own it. The check works on path texts, so it is a check
// before use: what changes between the check and the operation is not seen.

#include "platform/platform.h"
#include "platform/trusted_walk.h"

namespace velmarch::platform::win32 {

[[nodiscard]] Result<void> check_trusted_path(const Path& path, WalkOptions options = {});

// What RedirectionGuard itself reports for a refused link:
// ERROR_UNTRUSTED_MOUNT_POINT (448).
std::string untrusted_link_error_text();

}  // namespace velmarch::platform::win32

#pragma once
// The elevated run's own check of a caller-named path: every existing
// component is looked at without following it, and a junction or symbolic
// link (a name-surrogate reparse point) is followed only when Administrators,
// LocalSystem or TrustedInstaller own it and nobody else could change, delete
// or replace it (platform/trusted_access.h), and only to a drive-rooted or UNC
// target, or a relative one (platform/windows_link_target.h). The check works
// on path texts, so it is a check before use: what changes between the check
// and the operation is not seen.

#include "platform/platform.h"
#include "platform/trusted_walk.h"

namespace velmarch::platform::win32 {

// Which links the check decides on.
enum class LinkCheck {
    // None: a run without elevation follows links like any program.
    off,
    // Every junction and symbolic link: an elevated run without
    // RedirectionGuard.
    every_link,
    // Symbolic links and links of other kinds, not junctions: an elevated run
    // with RedirectionGuard in force, which is documented for junctions
    // made by non-administrators and does not name symbolic links.
    symbolic_links,
};

[[nodiscard]] Result<void> check_trusted_path(const Path& path, WalkOptions options = {},
                                              LinkCheck mode = LinkCheck::every_link);

// What RedirectionGuard itself reports for a refused link:
// ERROR_UNTRUSTED_MOUNT_POINT (448).
std::string untrusted_link_error_text();

}  // namespace velmarch::platform::win32

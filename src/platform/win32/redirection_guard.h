#pragma once
// What an elevated run needs to know about links before it touches a file.

namespace velmarch::platform::win32 {

// Turns RedirectionGuard on for this process: the system then refuses to
// follow junctions and links created by non-administrators (Windows 10 22H2,
// Windows 11). True only when the system reports the policy in force
// afterwards; a system without it (older Windows, Wine) answers false and the
// run goes on.
bool enable_redirection_guard();

// The process runs with an elevated token. When that cannot be read, the
// answer is yes: the checks then stay on.
bool process_is_elevated();

}  // namespace velmarch::platform::win32

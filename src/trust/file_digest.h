#pragma once
// The package digest: SHA-256 of a file's content as 64 lower-case hex digits.

#include <string>

#include "platform/platform.h"

namespace velmarch::trust {

// Streams the file through one 65,536-byte buffer; only a read of 0 bytes
// ends it. A failed open or read returns the platform's OS error text
// unchanged. The file is closed before the call returns, on every path.
[[nodiscard]] Result<std::string> compute_file_sha256(platform::Platform& platform, const platform::Path& path);

}  // namespace velmarch::trust

#pragma once
// The package digest: SHA-256 of a file's content as 64 lower-case hex digits.

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace velmarch::trust {

struct FileDigest {
    std::string sha256;
    // How many bytes the digest covers: what was read before the read of 0.
    std::uint64_t length = 0;
};

// Streams an open file through one 65,536-byte buffer until a read of 0 bytes
// or until it has read the length the file had when this call began, whichever
// comes first: a file that someone keeps extending while it is read (a sparse
// file grown to any size) cannot keep the digest going. A failed read returns
// the platform's OS error text unchanged.
[[nodiscard]] Result<FileDigest> compute_sha256(platform::File& file);

// Opens the file, streams it as above and closes it before the call returns,
// on every path. A failed open returns the platform's text unchanged.
[[nodiscard]] Result<std::string> compute_file_sha256(platform::Platform& platform, const platform::Path& path);

}  // namespace velmarch::trust

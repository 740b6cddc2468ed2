#pragma once
// Writing the private key: the tool's own small file helper, since the
// platform seam has no call that creates a file for its owner alone.

#include <cstddef>
#include <filesystem>
#include <span>

#include "result.h"

namespace velmarch::sign_tool {

// Creates a new file readable and writable by its owner only (never an
// existing file, never through a symbolic link), writes every byte, syncs and
// closes it. A file that could not be written whole is removed again.
[[nodiscard]] Result<void> write_private_file(const std::filesystem::path& path, std::span<const std::byte> bytes);

}  // namespace velmarch::sign_tool

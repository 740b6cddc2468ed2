#pragma once
// Writing the files the tool makes: the tool's own small file helper, since
// the platform seam has no call that creates a file with a chosen mode.

#include <cstddef>
#include <filesystem>
#include <span>

#include "text/result.h"

namespace velmarch::sign_tool {

enum class FileKind {
    private_key,  // readable and writable by its owner only
    public_key,   // readable by everyone
};

// Creates a new file (never an existing file, never through a symbolic link),
// writes every byte, syncs and closes it. A file that could not be written
// whole is removed again.
[[nodiscard]] Result<void> write_new_file(const std::filesystem::path& path, std::span<const std::byte> bytes,
                                          FileKind kind);

}  // namespace velmarch::sign_tool

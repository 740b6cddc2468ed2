#pragma once
// Reading the files the tool is given.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "text/result.h"

namespace velmarch::sign_tool {

// The whole content, byte for byte.
[[nodiscard]] Result<std::vector<std::uint8_t>> read_file_bytes(const std::filesystem::path& path);

// The package digest (64 lower-case hex digits), streamed as the updater does.
[[nodiscard]] Result<std::string> file_sha256_hex(const std::filesystem::path& path);

}  // namespace velmarch::sign_tool

#pragma once
// Text as bytes for the platform's writes, and a file's whole content read
// back without the platform under test.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "support/test_paths.h"

namespace velmarch::testing {

inline std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

inline std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string read_text(const platform::Path& path) { return read_text(fs_path(path)); }

}  // namespace velmarch::testing

#pragma once
// Between the updater's own path type and std::filesystem, which tests use to
// build and inspect the files they work with; and paths in test messages.

#include <filesystem>
#include <ostream>

#include "platform/path/path.h"

namespace velmarch::testing {

inline platform::Path to_path(const std::filesystem::path& path) { return platform::Path(path.native()); }
inline std::filesystem::path fs_path(const platform::Path& path) { return std::filesystem::path(path.native()); }

// A path from UTF-8 text as it stands (forward slashes stay).
inline platform::Path as_path(std::string_view utf8) { return platform::path_from_utf8(utf8); }

// UTF-8 with "/" between the components, as tests write paths.
inline std::string generic_utf8(const platform::Path& path) {
    std::string text = platform::path_to_utf8(path);
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

}  // namespace velmarch::testing

namespace velmarch::platform {

// Found by argument-dependent lookup: GoogleTest prints paths as UTF-8 text.
inline std::ostream& operator<<(std::ostream& out, const Path& path) { return out << path_to_utf8(path); }
inline void PrintTo(const Path& path, std::ostream* out) { *out << '"' << path_to_utf8(path) << '"'; }

}  // namespace velmarch::platform

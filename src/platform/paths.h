#pragma once
// Path text conversions shared by every layer. Option values arrive as UTF-8;
// on Windows paths are UTF-16, elsewhere they are the UTF-8 bytes.

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace velmarch::platform {

#ifdef _WIN32
inline constexpr Path::value_type kPathSeparator = L'\\';
#else
inline constexpr Path::value_type kPathSeparator = '/';
#endif

Path path_from_utf8(std::string_view utf8);
// Ill-formed UTF-16 is replaced by U+FFFD.
std::string path_to_utf8(const Path& path);
std::u16string path_to_utf16(const Path& path);
NativeString native_from_ascii(std::string_view ascii);

// `base`, a separator unless `base` already ends with one, then `component`.
Path join_path(const Path& base, std::string_view component);

bool is_path_separator(Path::value_type c);

}  // namespace velmarch::platform

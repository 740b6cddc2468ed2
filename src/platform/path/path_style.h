#pragma once
// The two styles of path text and their separators: what every path rule
// (platform/path/path_parts.h, platform/path/full_path.h) and the path type
// (platform/path/path.h) stand on. The rules take the style as an argument, so
// that the Windows rules are tested on any machine; the program uses the
// native one.

namespace velmarch::platform {

enum class PathStyle { posix, windows };

#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::windows;
using PathChar = wchar_t;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::posix;
using PathChar = char;
#endif

// "/" in both styles; "\" on Windows too.
template <class Char>
constexpr bool is_separator_in(Char c, PathStyle style) {
    return c == Char('/') || (style == PathStyle::windows && c == Char('\\'));
}

// The separator a style writes: "\" on Windows, "/" elsewhere.
template <class Char>
constexpr Char separator_of(PathStyle style) {
    return style == PathStyle::windows ? Char('\\') : Char('/');
}

inline constexpr PathChar kPathSeparator = separator_of<PathChar>(kNativePathStyle);

constexpr bool is_path_separator(PathChar c) { return is_separator_in(c, kNativePathStyle); }

}  // namespace velmarch::platform

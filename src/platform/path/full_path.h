#pragma once
// Path texts made whole by text alone, as Windows' full-path rules do: a
// relative text is read against a base directory, and its "." and ".."
// components are resolved on the text (".." at a root stays at the root).
// Nothing here asks the system where a directory's parent is: a folder that
// someone else owns can be moved while a run is under way, and its parent is
// then wherever they put it. Pure logic for both styles of path, so that the
// Windows rules are tested on any machine; the program uses the native one.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path/path_style.h"

namespace velmarch::platform {

// How a text is anchored.
enum class PathAnchor {
    absolute,        // "/x"; "C:\x", "\\server\share\x", "\\.\device\x"
    relative,        // "x", "..\x": read against the working directory
    rooted,          // Windows "\x": the root of the working directory's drive
    drive_relative,  // Windows "C:x": read against drive C's current directory
    verbatim,        // Windows "\\?\..." and "\??\...": handed to the system as they are
};

template <class Char>
struct SplitPath {
    // As written: "/", "C:\", "\\server\share\", "C:" (drive-relative), "\"
    // (rooted), "\\?\C:\" (verbatim) or "" (relative).
    std::basic_string<Char> root;
    // No "" and no "."; no ".." either, but where a relative text climbs
    // above its start (leading "..") and in a verbatim text, whose
    // components are not resolved.
    std::vector<std::basic_string<Char>> components;
    bool trailing_separator = false;
};

template <class Char>
PathAnchor anchor_of(std::basic_string_view<Char> text, PathStyle style);

// Splits `text` into its root and components and resolves "." and ".." on
// the way: ".." removes the component before it and stays at a root.
template <class Char>
SplitPath<Char> split_path(std::basic_string_view<Char> text, PathStyle style);

// `text` with "." and ".." resolved by text: repeated separators become one,
// separators are the style's own ("\" on Windows) and a trailing separator
// stays. A verbatim text comes back as it is; an empty result is ".".
template <class Char>
std::basic_string<Char> resolve_dots(std::basic_string_view<Char> text, PathStyle style);

// `text` made absolute against `base` and resolved by text. `base` is the
// directory a relative text is read from: the working directory, or for a
// drive-relative text that drive's current directory (a base on another
// drive stands for the drive's root). An absolute text without "." or ".."
// components, and any verbatim text, comes back byte for byte.
template <class Char>
std::basic_string<Char> full_path_text(std::basic_string_view<Char> text, std::basic_string_view<Char> base,
                                       PathStyle style);

// Whether the system and these rules could read a Windows share or device
// text differently: a server, share or device named "." or ".." ("\\srv\..\x":
// the system takes ".." as the share's name, other readers resolve it), or a
// device path with a ".." that reaches its device name ("\\.\C:\..\x": the
// system's root of a device path is "\\.\" alone, so the ".." removes
// "C:"; these rules keep a device's name in its root). Such a text is
// refused, not guessed at. Never for a POSIX or a verbatim text, which the
// system takes as it is.
template <class Char>
bool is_ambiguous_root(std::basic_string_view<Char> text, PathStyle style);

}  // namespace velmarch::platform

#pragma once
// Where the parts of a path text lie: its root, its file name, its parent and
// its extension. Pure logic for both styles of path, so that the Windows rules
// are tested on any machine; Path (platform/path/path.h) uses the native one.
//
// The root is the one the full-path rules use (platform/path/full_path.h): "/"
// (every leading "/" on POSIX); on Windows "C:\", "C:" (drive-relative), "\"
// (rooted), "\\server\share\", "\\.\device\" and "\\?\C:\" or "\??\C:\"
// (verbatim). ".." never climbs out of it, and it is never a file name: the
// file name of "\\server\share" is empty and its parent is itself.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/path/path_style.h"
#include "text/ascii_case.h"

namespace velmarch::platform {

// A Windows drive: an ASCII letter and ":".
template <class Char>
constexpr bool has_drive(std::basic_string_view<Char> text) {
    const Char letter = text.empty() ? Char() : text::ascii_upper(text[0]);
    return text.size() >= 2 && letter >= Char('A') && letter <= Char('Z') && text[1] == Char(':');
}

template <class Char>
constexpr bool starts_with_ascii(std::basic_string_view<Char> text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (text[i] != Char(prefix[i])) return false;
    return true;
}

// Where the component that starts at `from` ends (its separator or the end).
template <class Char>
constexpr std::size_t component_end(std::basic_string_view<Char> text, std::size_t from, PathStyle style) {
    while (from < text.size() && !is_separator_in(text[from], style)) ++from;
    return from;
}

// Past that component and the separator after it, when there is one.
template <class Char>
constexpr std::size_t past_component(std::basic_string_view<Char> text, std::size_t from, PathStyle style) {
    const std::size_t end = component_end(text, from, style);
    return end < text.size() ? end + 1 : end;
}

// The one join of the updater: a name joined onto a folder's text (Path's
// operator/, the full-path rules and the trusted walk all join here).
// `name` follows a separator of the style, except
//  - after an empty folder: "" and "x" make "x" (a relative name stays one);
//  - after a separator, a root's included: "/" and "x" make "/x", "a/" and
//    "x" make "a/x", "C:\" and "x" make "C:\x" ("/" and "\" alike on Windows);
//  - after a bare drive on Windows: "C:" and "x" make "C:x", drive C's current
//    directory, as Windows reads it ("C:\x" would name another file). On
//    POSIX "C:" is a name like any other: "C:/x".
// `name` is a relative name ("x", "a\b"), never a root.
template <class Char>
std::basic_string<Char> join_name(std::basic_string_view<Char> folder, std::basic_string_view<Char> name,
                                  PathStyle style);

// How many units of `text` its root takes, separator included ("C:\" is 3).
template <class Char>
std::size_t root_length(std::basic_string_view<Char> text, PathStyle style);

// The last component, unless the text ends with a separator or is only its
// root: then "". "." and ".." are file names like any other.
template <class Char>
std::basic_string_view<Char> filename_of(std::basic_string_view<Char> text, PathStyle style);

// The text without its last component and the separators before it; the
// root when nothing else is left ("/" for "/a", "C:\" for "C:\a"), "" for a
// single relative name. A text ending with a separator has an empty last
// component: the parent of "a/b/" is "a/b". A text that is only a root is
// its own parent.
template <class Char>
std::basic_string_view<Char> parent_of(std::basic_string_view<Char> text, PathStyle style);

// Where a full path's text says it lies, for the rule that an elevated run
// acts on local volumes only.
enum class TextVolume {
    // On this machine as far as the text tells: a POSIX path; a Windows drive
    // ("C:\x", and "\\?\C:\x" or "\??\C:\x", which name the same drive),
    // whose type the system then tells; a relative or rooted text, which is
    // read against a full path first.
    this_machine,
    // Not a drive of this machine: a share ("\\server\share", "//server/share",
    // "\\?\UNC\", "\??\UNC\", "\\.\UNC\", "\\localhost\pipe\name"), and
    // every other device or object-manager form ("\\.\C:\", "\\?\GLOBALROOT\",
    // "\\?\Volume{...}\", "\??\pipe\"): such a text can reach another machine
    // or a volume whose type no drive letter tells.
    not_local,
};

template <class Char>
TextVolume volume_by_text(std::basic_string_view<Char> text, PathStyle style);

// Whether a text holds a search pattern that the system would match against
// other names: on Windows "*" and "?", and the DOS wildcards "<", ">" and '"'
// (a "?" of a verbatim prefix "\\?\" or "\??\" is none); never on POSIX.
template <class Char>
bool has_wildcard(std::basic_string_view<Char> text, PathStyle style);

// The file name's last "." and what follows it, unless that "." is its first
// unit or the name is "..": ".msi" for "setup.msi", "" for ".profile".
template <class Char>
std::basic_string_view<Char> extension_of(std::basic_string_view<Char> text, PathStyle style);

}  // namespace velmarch::platform

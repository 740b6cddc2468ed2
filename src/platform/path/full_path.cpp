#include "platform/path/full_path.h"

#include "platform/path/path_parts.h"
#include "text/ascii_case.h"

namespace velmarch::platform {
namespace {

template <class Char>
using Text = std::basic_string<Char>;
template <class Char>
using View = std::basic_string_view<Char>;

template <class Char>
bool is_dot(View<Char> name) {
    return name.size() == 1 && name[0] == Char('.');
}

template <class Char>
bool is_dot_dot(View<Char> name) {
    return name.size() == 2 && name[0] == Char('.') && name[1] == Char('.');
}

// A Windows root "\\.\name\" or "\\?\name\" written with any separators
// (not "\\?\" itself, which is verbatim and kept as it is).
template <class Char>
bool is_device_root(View<Char> root) {
    return root.size() >= 4 && is_separator_in(root[0], PathStyle::windows) &&
           is_separator_in(root[1], PathStyle::windows) && (root[2] == Char('.') || root[2] == Char('?')) &&
           is_separator_in(root[3], PathStyle::windows);
}

// The root as the style writes it: one "/" on POSIX; "\" for every separator
// on Windows (as the full-path rules give it).
template <class Char>
Text<Char> written_root(View<Char> root, PathStyle style) {
    if (root.empty()) return {};
    if (style == PathStyle::posix) return Text<Char>(1, separator_of<Char>(style));
    Text<Char> out(root);
    for (Char& c : out)
        if (c == Char('/')) c = separator_of<Char>(style);
    // Only "\\?\" as written is verbatim. "//?/", "\\?/" and the like are
    // device paths that the system reads (and normalises) as it reads
    // "\\.\": written with "?", they would become verbatim text.
    if (is_device_root(root)) out[2] = Char('.');
    return out;
}

// The root without its trailing separator: "C:", "\\server\share", "".
template <class Char>
View<Char> root_name(View<Char> text, PathStyle style) {
    View<Char> root = text.substr(0, root_length(text, style));
    while (!root.empty() && is_separator_in(root.back(), style)) root.remove_suffix(1);
    return root;
}

template <class Char>
bool has_dot_components(View<Char> text, std::size_t from, PathStyle style) {
    while (from < text.size()) {
        const std::size_t end = past_component(text, from, style);
        View<Char> name = text.substr(from, end - from);
        if (!name.empty() && is_separator_in(name.back(), style)) name.remove_suffix(1);
        if (is_dot(name) || is_dot_dot(name)) return true;
        from = end;
    }
    return false;
}

// The text of a split path: its root as written, then its components with one
// separator between them (a component is never a root, and a root either
// ends with its separator or, as "C:", takes the first component directly).
template <class Char>
Text<Char> joined(const SplitPath<Char>& split, PathStyle style) {
    Text<Char> out = split.root;
    for (std::size_t i = 0; i < split.components.size(); ++i) {
        if (i > 0) out += separator_of<Char>(style);
        out += split.components[i];
    }
    if (split.trailing_separator && !split.components.empty()) out += separator_of<Char>(style);
    if (out.empty()) out = Text<Char>(1, Char('.'));
    return out;
}

}  // namespace

template <class Char>
PathAnchor anchor_of(View<Char> text, PathStyle style) {
    if (style == PathStyle::posix)
        return !text.empty() && text[0] == Char('/') ? PathAnchor::absolute : PathAnchor::relative;
    if (starts_with_ascii(text, "\\\\?\\") || starts_with_ascii(text, "\\??\\")) return PathAnchor::verbatim;
    const std::size_t root = root_length(text, style);
    if (root == 0) return PathAnchor::relative;
    if (root == 1) return PathAnchor::rooted;
    if (root == 2 && has_drive(text)) return PathAnchor::drive_relative;
    return PathAnchor::absolute;
}

template <class Char>
SplitPath<Char> split_path(View<Char> text, PathStyle style) {
    const std::size_t root = root_length(text, style);
    SplitPath<Char> split;
    split.root = written_root(text.substr(0, root), style);
    const bool verbatim = anchor_of(text, style) == PathAnchor::verbatim;
    if (verbatim) split.root = Text<Char>(text.substr(0, root));
    // ".." stays at a root; before a drive's current directory, or at the
    // start of a relative text, it is kept: only the base can resolve it.
    const bool clamps = root > 0 && !(style == PathStyle::windows && root == 2 && has_drive(text));
    for (std::size_t from = root; from < text.size();) {
        const std::size_t end = past_component(text, from, style);
        View<Char> name = text.substr(from, end - from);
        if (!name.empty() && is_separator_in(name.back(), style)) name.remove_suffix(1);
        from = end;
        if (name.empty() || (is_dot(name) && !verbatim)) continue;
        if (is_dot_dot(name) && !verbatim) {
            if (!split.components.empty() && !is_dot_dot(View<Char>(split.components.back())))
                split.components.pop_back();
            else if (!clamps)
                split.components.emplace_back(name);
            continue;
        }
        split.components.emplace_back(name);
    }
    split.trailing_separator = text.size() > root && is_separator_in(text.back(), style);
    return split;
}

template <class Char>
Text<Char> resolve_dots(View<Char> text, PathStyle style) {
    if (anchor_of(text, style) == PathAnchor::verbatim) return Text<Char>(text);
    return joined(split_path(text, style), style);
}

template <class Char>
Text<Char> full_path_text(View<Char> text, View<Char> base, PathStyle style) {
    switch (anchor_of(text, style)) {
        case PathAnchor::verbatim: return Text<Char>(text);
        case PathAnchor::absolute:
            if (!has_dot_components(text, root_length(text, style), style)) return Text<Char>(text);
            return resolve_dots(text, style);
        case PathAnchor::relative: return resolve_dots(View<Char>(join_name(base, text, style)), style);
        case PathAnchor::rooted:
            return resolve_dots(View<Char>(Text<Char>(root_name(base, style)) + Text<Char>(text)), style);
        case PathAnchor::drive_relative: {
            const bool same_drive = has_drive(base) && text::ascii_upper(base[0]) == text::ascii_upper(text[0]);
            const Text<Char> directory =
                same_drive ? Text<Char>(base) : Text<Char>(text.substr(0, 2)) + separator_of<Char>(style);
            const View<Char> rest = text.substr(2);
            if (rest.empty()) return resolve_dots(View<Char>(directory), style);
            return resolve_dots(View<Char>(join_name(View<Char>(directory), rest, style)), style);
        }
    }
    return Text<Char>(text);
}

template <class Char>
bool is_ambiguous_root(View<Char> text, PathStyle style) {
    if (style == PathStyle::posix || anchor_of(text, style) == PathAnchor::verbatim) return false;
    const std::size_t root = root_length(text, style);
    const bool share = root > 2 && is_separator_in(text[0], style) && is_separator_in(text[1], style);
    if (!share) return false;
    // The names the root holds: server and share, or the device (and, for
    // "\\.\UNC\", server and share).
    const bool device = is_device_root(text.substr(0, root));
    for (std::size_t from = device ? 4 : 2; from < root;) {
        const std::size_t end = past_component(text, from, style);
        View<Char> name = text.substr(from, end - from);
        if (!name.empty() && is_separator_in(name.back(), style)) name.remove_suffix(1);
        if (is_dot(name) || is_dot_dot(name)) return true;
        from = end;
    }
    if (!device) return false;
    // The system's root of a device path is "\\.\" alone: a ".." that reaches
    // the device name removes it there, while these rules keep it.
    std::size_t depth = 0;
    for (std::size_t from = root; from < text.size();) {
        const std::size_t end = past_component(text, from, style);
        View<Char> name = text.substr(from, end - from);
        if (!name.empty() && is_separator_in(name.back(), style)) name.remove_suffix(1);
        from = end;
        if (name.empty() || is_dot(name)) continue;
        if (!is_dot_dot(name)) {
            ++depth;
        } else if (depth == 0) {
            return true;
        } else {
            --depth;
        }
    }
    return false;
}

#define VELMARCH_FULL_PATH_FOR(Char)                                  \
    template bool is_ambiguous_root<Char>(View<Char>, PathStyle);     \
    template PathAnchor anchor_of<Char>(View<Char>, PathStyle);       \
    template SplitPath<Char> split_path<Char>(View<Char>, PathStyle); \
    template Text<Char> resolve_dots<Char>(View<Char>, PathStyle);    \
    template Text<Char> full_path_text<Char>(View<Char>, View<Char>, PathStyle);

VELMARCH_FULL_PATH_FOR(char)
VELMARCH_FULL_PATH_FOR(wchar_t)

#undef VELMARCH_FULL_PATH_FOR

}  // namespace velmarch::platform

#include "platform/path/path_parts.h"

namespace velmarch::platform {
namespace {

template <class Char>
using View = std::basic_string_view<Char>;

template <class Char>
bool names_unc(View<Char> component) {
    return component.size() == 3 && text::ascii_upper(component[0]) == Char('U') &&
           text::ascii_upper(component[1]) == Char('N') && text::ascii_upper(component[2]) == Char('C');
}

// Windows roots. "\\server\share\" and "\\.\UNC\server\share\" take the share
// along: ".." never climbs out of a share or a device.
template <class Char>
std::size_t windows_root_length(View<Char> text) {
    constexpr PathStyle style = PathStyle::windows;
    if (text.size() >= 2 && is_separator_in(text[0], style) && is_separator_in(text[1], style)) {
        const bool device =
            text.size() >= 4 && (text[2] == Char('.') || text[2] == Char('?')) && is_separator_in(text[3], style);
        if (device) {
            const std::size_t name_end = component_end(text, 4, style);
            if (!names_unc(text.substr(4, name_end - 4))) return past_component(text, 4, style);
            return past_component(text, past_component(text, past_component(text, 4, style), style), style);
        }
        return past_component(text, past_component(text, 2, style), style);
    }
    if (starts_with_ascii(text, "\\??\\")) return past_component(text, 4, style);
    if (has_drive(text)) return text.size() >= 3 && is_separator_in(text[2], style) ? 3 : 2;
    if (!text.empty() && is_separator_in(text[0], style)) return 1;
    return 0;
}

// Where the last component starts: past the last separator after the root.
template <class Char>
std::size_t last_component_start(View<Char> text, std::size_t root, PathStyle style) {
    std::size_t start = text.size();
    while (start > root && !is_separator_in(text[start - 1], style)) --start;
    return start;
}

}  // namespace

template <class Char>
std::basic_string<Char> join_name(View<Char> folder, View<Char> name, PathStyle style) {
    const bool bare_drive = style == PathStyle::windows && folder.size() == 2 && has_drive(folder);
    std::basic_string<Char> joined(folder);
    if (!folder.empty() && !bare_drive && !is_separator_in(folder.back(), style)) joined += separator_of<Char>(style);
    joined += name;
    return joined;
}

template <class Char>
std::size_t root_length(View<Char> text, PathStyle style) {
    if (style == PathStyle::windows) return windows_root_length(text);
    std::size_t length = 0;
    while (length < text.size() && text[length] == Char('/')) ++length;
    return length;
}

template <class Char>
View<Char> filename_of(View<Char> text, PathStyle style) {
    const std::size_t root = root_length(text, style);
    return text.substr(last_component_start(text, root, style));
}

template <class Char>
View<Char> parent_of(View<Char> text, PathStyle style) {
    const std::size_t root = root_length(text, style);
    if (text.size() == root) return text;
    // After a trailing separator the last component is empty: only the
    // separators go.
    std::size_t end = last_component_start(text, root, style);
    while (end > root && is_separator_in(text[end - 1], style)) --end;
    return text.substr(0, end);
}

template <class Char>
View<Char> extension_of(View<Char> text, PathStyle style) {
    const View<Char> name = filename_of(text, style);
    if (name.size() == 2 && name[0] == Char('.') && name[1] == Char('.')) return {};
    const std::size_t dot = name.rfind(Char('.'));
    if (dot == View<Char>::npos || dot == 0) return {};
    return name.substr(dot);
}

template <class Char>
TextVolume volume_by_text(View<Char> text, PathStyle style) {
    if (style == PathStyle::posix) return TextVolume::this_machine;
    const bool two_separators = text.size() >= 2 && is_separator_in(text[0], style) && is_separator_in(text[1], style);
    // Only "\\?\" and "\??\" as written are verbatim: "//?/C:/x" is a device
    // path that the system reads like "\\.\C:\x".
    const bool verbatim = starts_with_ascii(text, "\\\\?\\") || starts_with_ascii(text, "\\??\\");
    if (verbatim) {
        const View<Char> rest = text.substr(4);
        return has_drive(rest) && rest.size() >= 3 && rest[2] == Char('\\') ? TextVolume::this_machine
                                                                            : TextVolume::not_local;
    }
    return two_separators ? TextVolume::not_local : TextVolume::this_machine;
}

template <class Char>
bool has_wildcard(View<Char> text, PathStyle style) {
    if (style == PathStyle::posix) return false;
    if (starts_with_ascii(text, "\\\\?\\") || starts_with_ascii(text, "\\??\\")) text.remove_prefix(4);
    for (const Char c : text)
        if (c == Char('*') || c == Char('?') || c == Char('<') || c == Char('>') || c == Char('"')) return true;
    return false;
}

#define VELMARCH_PATH_PARTS_FOR(Char)                                                    \
    template std::basic_string<Char> join_name<Char>(View<Char>, View<Char>, PathStyle); \
    template bool has_wildcard<Char>(View<Char>, PathStyle);                             \
    template TextVolume volume_by_text<Char>(View<Char>, PathStyle);                     \
    template std::size_t root_length<Char>(View<Char>, PathStyle);                       \
    template View<Char> filename_of<Char>(View<Char>, PathStyle);                        \
    template View<Char> parent_of<Char>(View<Char>, PathStyle);                          \
    template View<Char> extension_of<Char>(View<Char>, PathStyle);

VELMARCH_PATH_PARTS_FOR(char)
VELMARCH_PATH_PARTS_FOR(wchar_t)

#undef VELMARCH_PATH_PARTS_FOR

}  // namespace velmarch::platform

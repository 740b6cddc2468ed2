#include "platform/rules/windows_link_target.h"

#include <cstdint>

namespace velmarch::platform {
namespace {

using Text = std::u16string;
using View = std::u16string_view;

constexpr View kNtPrefix = u"\\??\\";
constexpr View kNtUncPrefix = u"\\??\\UNC\\";
constexpr View kExtendedPrefix = u"\\\\?\\";
constexpr View kExtendedUncPrefix = u"\\\\?\\UNC\\";

bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "C:\" and below; "C:" alone names the volume device itself.
bool is_drive_rooted(View path) {
    return path.size() >= 3 && is_letter(path[0]) && path[1] == u':' && path[2] == u'\\';
}

// "server\share" and below, as it follows the two leading separators; "." and
// "?" as a server are the device namespaces, not servers.
bool is_server_and_share(View path) {
    const std::size_t separator = path.find(u'\\');
    if (separator == View::npos || separator == 0) return false;
    const View server = path.substr(0, separator);
    if (server == u"." || server == u"?") return false;
    const View rest = path.substr(separator + 1);
    return !rest.empty() && rest.front() != u'\\';
}

bool has_dot_component(View path) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(u'\\', start);
        const View name = path.substr(start, end == View::npos ? View::npos : end - start);
        if (name == u"." || name == u"..") return true;
        if (end == View::npos) return false;
        start = end + 1;
    }
}

// "*" and "?", and the DOS wildcards "<", ">" and '"': a name holding one
// would match other names in a directory-entry lookup.
bool has_pattern_character(View path) { return path.find_first_of(u"*?<>\"") != View::npos; }

bool has_forbidden_character(View path) {
    for (const char16_t c : path)
        if (c == u'\0' || c == u':' || c == u'/' || c == u'?' || c == u'*' || c == u'<' || c == u'>' || c == u'"')
            return true;
    return false;
}

// A relative target: names below the link's folder, ".." or a "\"-rooted
// path on the link's volume; never a drive ("C:x"), a stream, a UNC or device
// path.
bool is_plain_relative(View path) {
    return !path.empty() && !path.starts_with(u"\\\\") && !has_forbidden_character(path);
}

std::uint16_t read16(std::span<const std::byte> data, std::size_t at) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(data[at]) |
                                      (std::to_integer<unsigned>(data[at + 1]) << 8));
}

std::uint32_t read32(std::span<const std::byte> data, std::size_t at) {
    return static_cast<std::uint32_t>(read16(data, at)) | (static_cast<std::uint32_t>(read16(data, at + 2)) << 16);
}

}  // namespace

std::optional<std::u16string> win32_form_of_link_name(std::u16string_view nt_name) {
    if (nt_name.starts_with(kNtPrefix) && has_pattern_character(nt_name.substr(kNtPrefix.size()))) return std::nullopt;
    if (nt_name.starts_with(kNtUncPrefix)) {
        const View rest = nt_name.substr(kNtUncPrefix.size());
        if (!is_server_and_share(rest)) return std::nullopt;
        return Text(u"\\\\") + Text(rest);
    }
    if (!nt_name.starts_with(kNtPrefix)) return std::nullopt;
    const View rest = nt_name.substr(kNtPrefix.size());
    if (!is_drive_rooted(rest)) return std::nullopt;
    return Text(rest);
}

std::optional<std::u16string> walkable_full_path(std::u16string_view full_path) {
    // A verbatim path goes to the system as it is, "." and ".." included as
    // names, while the walk would resolve them: the two would name different
    // places.
    if ((full_path.starts_with(kExtendedPrefix) || full_path.starts_with(kNtPrefix)) &&
        has_dot_component(full_path.substr(kExtendedPrefix.size())))
        return std::nullopt;
    const bool verbatim = full_path.starts_with(kExtendedPrefix) || full_path.starts_with(kNtPrefix);
    if (has_pattern_character(verbatim ? full_path.substr(kExtendedPrefix.size()) : full_path)) return std::nullopt;
    if (full_path.starts_with(kExtendedUncPrefix)) {
        const View rest = full_path.substr(kExtendedUncPrefix.size());
        if (!is_server_and_share(rest)) return std::nullopt;
        return Text(u"\\\\") + Text(rest);
    }
    if (full_path.starts_with(kExtendedPrefix) || full_path.starts_with(kNtPrefix))
        full_path.remove_prefix(kExtendedPrefix.size());
    if (is_drive_rooted(full_path)) return Text(full_path);
    if (full_path.starts_with(u"\\\\") && is_server_and_share(full_path.substr(2))) return Text(full_path);
    return std::nullopt;
}

std::expected<WindowsLinkTarget, LinkTargetProblem> windows_link_target(std::span<const std::byte> reparse_data) {
    // Tag, data length, reserved; then the offsets and lengths of the
    // substitute and print names; a symbolic link adds its flags.
    constexpr std::size_t kHeader = 8;
    constexpr std::size_t kNameFields = 8;
    if (reparse_data.size() < kHeader) return std::unexpected(LinkTargetProblem::malformed);
    const std::uint32_t tag = read32(reparse_data, 0);
    const std::size_t end = kHeader + read16(reparse_data, 4);
    if (end > reparse_data.size()) return std::unexpected(LinkTargetProblem::malformed);
    if (tag != kReparseTagMountPoint && tag != kReparseTagSymbolicLink)
        return std::unexpected(LinkTargetProblem::refused);

    std::size_t names = kHeader + kNameFields;
    bool relative = false;
    if (tag == kReparseTagSymbolicLink) {
        if (names + 4 > end) return std::unexpected(LinkTargetProblem::malformed);
        relative = (read32(reparse_data, names) & kSymbolicLinkRelative) != 0;
        names += 4;
    }
    if (names > end) return std::unexpected(LinkTargetProblem::malformed);
    const std::size_t offset = read16(reparse_data, kHeader);
    const std::size_t length = read16(reparse_data, kHeader + 2);
    if (length % 2 != 0 || names + offset + length > end) return std::unexpected(LinkTargetProblem::malformed);

    Text substitute(length / 2, u'\0');
    for (std::size_t i = 0; i < substitute.size(); ++i)
        substitute[i] = static_cast<char16_t>(read16(reparse_data, names + offset + 2 * i));

    if (relative) {
        if (!is_plain_relative(substitute)) return std::unexpected(LinkTargetProblem::refused);
        return WindowsLinkTarget{std::move(substitute), true};
    }
    std::optional<Text> absolute = win32_form_of_link_name(substitute);
    if (!absolute) return std::unexpected(LinkTargetProblem::refused);
    return WindowsLinkTarget{std::move(*absolute), false};
}

}  // namespace velmarch::platform

#pragma once
// Where a Windows junction or symbolic link leads, read from the reparse data
// FSCTL_GET_REPARSE_POINT returns. Only the substitute name counts (the
// system follows it; the print name is for display and may say anything).
// An elevated run follows only targets whose meaning it knows: a drive-rooted
// path ("\??\C:\x"), a UNC path ("\??\UNC\server\share\x", read as
// "\\server\share\x"), or, for a symbolic link, a path relative to the link's
// folder. Volume GUID paths, \??\GLOBALROOT, device names and every other
// form are refused, and so is a target holding a search pattern ("*", "?",
// or a DOS wildcard "<", ">", '"').
//
// Pure text and byte logic, so that it is tested everywhere.

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmarch::platform {

inline constexpr std::uint32_t kReparseTagMountPoint = 0xA0000003;    // IO_REPARSE_TAG_MOUNT_POINT
inline constexpr std::uint32_t kReparseTagSymbolicLink = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
inline constexpr std::uint32_t kSymbolicLinkRelative = 1;             // SYMLINK_FLAG_RELATIVE

enum class LinkTargetProblem {
    // The reparse data does not hold what its header says.
    malformed,
    // A link of another kind, or a target of a form the walk does not follow.
    refused,
};

struct WindowsLinkTarget {
    // Win32 form: "C:\x", "\\server\share\x", or relative ("..\x", "\x").
    std::u16string path;
    bool relative = false;
};

[[nodiscard]] std::expected<WindowsLinkTarget, LinkTargetProblem> windows_link_target(
    std::span<const std::byte> reparse_data);

// The Win32 form of an absolute NT name as links carry it: "\??\C:\x" is
// "C:\x", "\??\UNC\server\share\x" is "\\server\share\x"; nothing for every
// other form.
[[nodiscard]] std::optional<std::u16string> win32_form_of_link_name(std::u16string_view nt_name);

// A full path (as GetFullPathNameW gives it) in the form the walk splits:
// "\\?\C:\x" and "\??\C:\x" become "C:\x", "\\?\UNC\server\share\x" becomes
// "\\server\share\x"; nothing when it is neither drive-rooted nor UNC
// ("\\?\Volume{...}\x", "\\.\C:\x", "\\?\GLOBALROOT\...", "\\.\pipe\x"), and
// nothing for a verbatim path holding a "." or ".." component, which the
// system would take as a name, and nothing for a path holding a search
// pattern ("*", "?", "<", ">", '"'; the "?" of "\\?\" is none).
[[nodiscard]] std::optional<std::u16string> walkable_full_path(std::u16string_view full_path);

}  // namespace velmarch::platform

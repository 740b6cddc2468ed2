#pragma once
// A file system path as the system takes it: UTF-16 units on Windows, bytes
// elsewhere. A small value type of the updater's own that holds the text and
// answers what the updater asks of it (file name, parent, extension, root,
// joining a name), by text alone: nothing here touches the file system or
// throws. The free functions below convert a path's text to and from the
// encodings the rest of the updater speaks.
//
// Two paths are equal when their texts are: "C:\a" and "C:/a" are different
// paths here, as they are different texts to every check the updater makes.

#include <compare>
#include <string>
#include <string_view>

#include "platform/path/path_style.h"

namespace velmarch::platform {

using NativeString = std::basic_string<PathChar>;
using NativeView = std::basic_string_view<PathChar>;

class Path {
public:
    using value_type = PathChar;
    using string_type = NativeString;

    Path() = default;
    explicit Path(NativeString text) noexcept : text_(std::move(text)) {}
    explicit Path(const PathChar* text) : text_(text) {}
    explicit Path(NativeView text) : text_(text) {}

    [[nodiscard]] const NativeString& native() const noexcept { return text_; }
    [[nodiscard]] const PathChar* c_str() const noexcept { return text_.c_str(); }
    [[nodiscard]] bool empty() const noexcept { return text_.empty(); }

    // "/", "C:\", "\\server\share\", "C:" or "" (platform/path/path_parts.h).
    [[nodiscard]] Path root_path() const;
    [[nodiscard]] Path parent_path() const;
    [[nodiscard]] Path filename() const;
    [[nodiscard]] Path extension() const;
    [[nodiscard]] bool has_filename() const;
    // Names the same file whatever the working directory: "/x", "C:\x",
    // "\\server\share\x", "\\?\C:\x". Not "\x" or "C:x" on Windows.
    [[nodiscard]] bool is_absolute() const;
    [[nodiscard]] bool is_relative() const { return !is_absolute(); }

    // The updater's only join of a name onto a folder, by the rule of
    // join_name (platform/path/path_parts.h): "" / "x" is "x", "C:\" / "x" is
    // "C:\x", and on Windows "C:" / "x" is "C:x".
    Path& operator/=(const Path& name);
    friend Path operator/(Path folder, const Path& name) { return folder /= name; }

    friend bool operator==(const Path&, const Path&) = default;
    friend std::strong_ordering operator<=>(const Path& a, const Path& b) { return a.text_ <=> b.text_; }

private:
    NativeString text_;
};

// Option values arrive as UTF-8; on Windows a path is UTF-16, elsewhere it is
// the UTF-8 bytes.
Path path_from_utf8(std::string_view utf8);
// Ill-formed UTF-16 is replaced by U+FFFD.
std::string path_to_utf8(const Path& path);
std::u16string path_to_utf16(const Path& path);
NativeString native_from_ascii(std::string_view ascii);

}  // namespace velmarch::platform

#pragma once
// A file system path as the system takes it: UTF-16 units on Windows, bytes
// elsewhere. A small value type of the updater's own that holds the text and
// answers what the updater asks of it (file name, parent, extension, root,
// joining a name), by text alone: nothing here touches the file system,
// converts between encodings or throws.
//
// Two paths are equal when their texts are: "C:\a" and "C:/a" are different
// paths here, as they are different texts to every check the updater makes.

#include <compare>
#include <string>
#include <string_view>

#include "platform/full_path.h"

namespace velmarch::platform {

#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif
using NativeString = std::basic_string<PathChar>;
using NativeView = std::basic_string_view<PathChar>;

class Path {
public:
    using value_type = PathChar;
    using string_type = NativeString;

    Path() = default;
    // Implicit, so that a native text can be passed where a path is asked for.
    Path(NativeString text) noexcept : text_(std::move(text)) {}
    Path(const PathChar* text) : text_(text) {}
    explicit Path(NativeView text) : text_(text) {}

    [[nodiscard]] const NativeString& native() const noexcept { return text_; }
    [[nodiscard]] const PathChar* c_str() const noexcept { return text_.c_str(); }
    [[nodiscard]] bool empty() const noexcept { return text_.empty(); }

    // "/", "C:\", "\\server\share\", "C:" or "" (platform/path_parts.h).
    [[nodiscard]] Path root_path() const;
    [[nodiscard]] Path parent_path() const;
    [[nodiscard]] Path filename() const;
    [[nodiscard]] Path extension() const;
    [[nodiscard]] bool has_filename() const;
    // Names the same file whatever the working directory: "/x", "C:\x",
    // "\\server\share\x", "\\?\C:\x". Not "\x" or "C:x" on Windows.
    [[nodiscard]] bool is_absolute() const;
    [[nodiscard]] bool is_relative() const { return !is_absolute(); }

    // `name` after a separator, unless this path is empty, already ends with
    // one or is a bare drive ("C:" and "x" make "C:x"). `name` is a relative
    // name ("x", "a\b"), never a root.
    Path& operator/=(const Path& name);
    friend Path operator/(Path base, const Path& name) { return base /= name; }

    friend bool operator==(const Path&, const Path&) = default;
    friend std::strong_ordering operator<=>(const Path& a, const Path& b) { return a.text_ <=> b.text_; }

private:
    NativeString text_;
};

}  // namespace velmarch::platform

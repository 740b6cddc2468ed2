// The parts of a path text (platform/path/path_parts.h) and the path type over
// them (platform/path/path.h):
//  - for any text, in both styles and in both unit widths: the root is a
//    prefix; the file name is a suffix after the root with no separator in
//    it; the extension ends the file name and starts with "."; the parent is
//    a shorter prefix that still holds the root, unless the text is only its
//    root; climbing parents ends at the root;
//  - for a POSIX text without a repeated "/" or a NUL (what the updater
//    meets once its caller's paths are made whole), the path type answers
//    what std::filesystem::path answers: parent, file name, extension, root,
//    whether there is a file name, whether it is absolute, and joining a name.
//
// The input: a first byte choosing the style, then the text.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/path/path.h"
#include "platform/path/path_parts.h"
#include "support/check.h"

namespace {

using velmarch::platform::PathStyle;

template <class Char>
void check_parts(std::basic_string_view<Char> text, PathStyle style) {
    using View = std::basic_string_view<Char>;
    const std::size_t root = velmarch::platform::root_length(text, style);
    FUZZ_CHECK(root <= text.size(), "the root lies inside the text");

    const View name = velmarch::platform::filename_of(text, style);
    FUZZ_CHECK(text.ends_with(name) && text.size() - name.size() >= root, "the file name ends the text after the root");
    for (Char c : name) FUZZ_CHECK(!velmarch::platform::is_separator_in(c, style), "no separator in a file name");

    const View extension = velmarch::platform::extension_of(text, style);
    FUZZ_CHECK(name.ends_with(extension), "the extension ends the file name");
    FUZZ_CHECK(extension.empty() || (extension[0] == Char('.') && extension.size() < name.size()),
               "an extension starts with a dot that is not the name's first unit");

    View here = text;
    for (std::size_t steps = 0;; ++steps) {
        FUZZ_CHECK(steps <= text.size() + 1, "climbing parents ends");
        const View parent = velmarch::platform::parent_of(here, style);
        FUZZ_CHECK(here.starts_with(parent), "a parent is a prefix");
        if (parent.size() == here.size()) break;
        FUZZ_CHECK(parent.size() >= root, "a parent keeps the root");
        here = parent;
    }
    FUZZ_CHECK(here.size() == root, "climbing parents ends at the root");
}

bool is_comparable_posix(std::string_view text) {
    return text.find('\0') == std::string_view::npos && text.find("//") == std::string_view::npos;
}

void compare_with_std_filesystem(std::string_view text) {
    using velmarch::platform::Path;
    const Path ours{std::string(text)};
    const std::filesystem::path theirs{std::string(text)};
    FUZZ_CHECK(ours.parent_path().native() == theirs.parent_path().native(), "parent as std::filesystem");
    FUZZ_CHECK(ours.filename().native() == theirs.filename().native(), "file name as std::filesystem");
    FUZZ_CHECK(ours.extension().native() == theirs.extension().native(), "extension as std::filesystem");
    FUZZ_CHECK(ours.root_path().native() == theirs.root_path().native(), "root as std::filesystem");
    FUZZ_CHECK(ours.has_filename() == theirs.has_filename(), "has a file name as std::filesystem");
    FUZZ_CHECK(ours.is_absolute() == theirs.is_absolute(), "absolute as std::filesystem");
    const std::string name = theirs.filename().native();
    if (!name.empty() && name.find('/') == std::string::npos) {
        for (const char* base : {"", "/", "a", "a/", "/a"}) {
            const Path joined = Path(base) / Path(name);
            FUZZ_CHECK(joined.native() == (std::filesystem::path(base) / name).native(),
                       "joining a name as std::filesystem");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const PathStyle style = (data[0] & 1) != 0 ? PathStyle::windows : PathStyle::posix;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    check_parts(text, style);
    const std::wstring wide(text.begin(), text.end());
    check_parts(std::wstring_view(wide), style);
    FUZZ_CHECK(velmarch::platform::parent_of(std::wstring_view(wide), style).size() ==
                   velmarch::platform::parent_of(text, style).size(),
               "both unit widths split alike");
    if (style == PathStyle::posix && is_comparable_posix(text)) compare_with_std_filesystem(text);
    return 0;
}

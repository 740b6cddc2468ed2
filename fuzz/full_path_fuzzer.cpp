// A caller-named path made whole by text (platform/path/full_path.h):
//  - for any text, in both styles, the result is absolute (or a verbatim
//    Windows text, returned as it was; no other text becomes verbatim), has
//    no "." or ".." component, lies on the kind of volume its text did (a
//    share or device stays one), holds no search pattern that the text or
//    base did not, and made whole again stays the same;
//  - on a tree without links, a relative POSIX text names the place the
//    system reaches when it walks the text itself: every directory the text
//    names is created first (inside a private temporary folder, deep enough
//    that no ".." of the input climbs out of it), then the system's own walk
//    (openat, ".." included) is compared with the text's answer.
//
// The input: a first byte choosing the base directory's form and whether the
// tree check runs, then the path text (as bytes; on the tree, each byte
// stands for one component or separator).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path/full_path.h"
#include "platform/path/path_parts.h"
#include "support/check.h"

namespace {

using velmarch::platform::anchor_of;
using velmarch::platform::full_path_text;
using velmarch::platform::PathAnchor;
using velmarch::platform::PathStyle;
using velmarch::platform::has_wildcard;
using velmarch::platform::volume_by_text;

bool is_separator(char c, PathStyle style) { return c == '/' || (style == PathStyle::windows && c == '\\'); }

// The components after the root, as the style splits them.
std::vector<std::string_view> components_after(std::string_view text, std::size_t root, PathStyle style) {
    std::vector<std::string_view> out;
    std::size_t from = root;
    while (from <= text.size()) {
        std::size_t end = from;
        while (end < text.size() && !is_separator(text[end], style)) ++end;
        out.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return out;
}

std::size_t root_of(const std::string& text, PathStyle style) {
    return velmarch::platform::split_path(std::string_view(text), style).root.size();
}

void check_whole(std::string_view text, std::string_view base, PathStyle style) {
    const std::string full = full_path_text(text, base, style);
    const PathAnchor anchor = anchor_of(std::string_view(full), style);
    if (anchor_of(text, style) == PathAnchor::verbatim) {
        FUZZ_CHECK(full == text, "a verbatim text is handed on as it is");
        return;
    }
    // Only "\\?\" as written is verbatim: "//?/C:/x" is a device path that
    // the system normalises, and its whole text must stay one.
    FUZZ_CHECK(anchor == PathAnchor::absolute, "the result is absolute and not verbatim");
    if (anchor_of(text, style) == PathAnchor::absolute)
        FUZZ_CHECK(volume_by_text(std::string_view(full), style) == volume_by_text(text, style),
                   "making a text whole never turns a share or device into a drive, or back");
    if (has_wildcard(std::string_view(full), style))
        FUZZ_CHECK(has_wildcard(text, style) || has_wildcard(base, style), "no search pattern appears");
    // The root as the split reads it may differ in its separators from the
    // text, so the root length is taken from the result itself.
    for (std::string_view name : components_after(full, root_of(full, style), style))
        FUZZ_CHECK(name != "." && name != "..", "no . or .. component is left");
    FUZZ_CHECK(full_path_text(std::string_view(full), base, style) == full, "whole texts stay whole");
}

// ---- the tree -----------------------------------------------------------

constexpr int kDepth = 24;              // directories between the private folder and the base
constexpr std::size_t kMaxTokens = 20;  // fewer than kDepth: no ".." climbs out of the folder

struct Tree {
    std::string root;  // the private folder
    std::string base;  // kDepth levels below it
};

// Made once and never destroyed: the folder is removed at exit.
const Tree& tree() {
    static const Tree& made = *[] {
        auto* t_owner = new Tree;
        Tree& t = *t_owner;
        std::string name = "/tmp/velmarch-full-path-fuzz-XXXXXX";
        if (::mkdtemp(name.data()) == nullptr) std::abort();
        t.root = name;
        std::atexit([] { std::filesystem::remove_all(tree().root); });
        t.base = name;
        for (int level = 0; level < kDepth; ++level) {
            t.base += "/w";
            if (::mkdir(t.base.c_str(), 0700) != 0) std::abort();
        }
        return t_owner;
    }();
    return made;
}

// The path of an open directory, as the system knows it.
std::string path_of(int fd) {
    std::array<char, 4096> buffer{};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    FUZZ_CHECK(length > 0 && static_cast<std::size_t>(length) < buffer.size(), "the directory's path is readable");
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

void check_against_the_system(const std::uint8_t* data, std::size_t size) {
    static constexpr std::array<std::string_view, 7> kTokens{"a", "b", "c", ".", "..", "", "."};
    // Always relative: it starts with ".".
    std::string text = ".";
    for (std::size_t i = 0; i < size && i < kMaxTokens; ++i) {
        text += '/';
        text += kTokens[data[i] % kTokens.size()];
    }
    const Tree& t = tree();
    const std::string full = full_path_text(std::string_view(text), std::string_view(t.base), PathStyle::posix);

    // The system's walk, creating each directory it is about to enter.
    int directory = ::open(t.base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(directory >= 0, "the base opens");
    for (std::string_view name : components_after(text, 0, PathStyle::posix)) {
        if (name.empty() || name == ".") continue;
        const std::string component(name);
        if (name != "..") (void)::mkdirat(directory, component.c_str(), 0700);
        const int next = ::openat(directory, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        FUZZ_CHECK(next >= 0, "each directory of the text exists");
        ::close(directory);
        directory = next;
    }
    const std::string reached = path_of(directory);
    ::close(directory);

    std::string expected = full;
    while (expected.size() > 1 && expected.back() == '/') expected.pop_back();
    FUZZ_CHECK(reached == expected, "the text names the place the system reaches");
    FUZZ_CHECK(reached.starts_with(t.root), "the walk stayed in the private folder");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    if ((mode & 0x80) != 0) {
        check_against_the_system(data, size);
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (text.empty()) return 0;
    static constexpr std::array<std::string_view, 4> kPosixBases{"/", "/home/ann/work", "/home/ann/work/", "//srv"};
    static constexpr std::array<std::string_view, 4> kWindowsBases{"C:\\", "C:\\Users\\ann\\work",
                                                                   "\\\\server\\share\\work", "D:/work/"};
    check_whole(text, kPosixBases[mode % kPosixBases.size()], PathStyle::posix);
    check_whole(text, kWindowsBases[(mode >> 2) % kWindowsBases.size()], PathStyle::windows);
    return 0;
}

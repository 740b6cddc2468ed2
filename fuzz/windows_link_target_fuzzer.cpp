// windows_link_target over arbitrary reparse data, and walkable_full_path over
// the same bytes read as UTF-16 text. Whatever the bytes, nothing is read
// outside them, and whatever is accepted is of a form the walk knows: a
// drive-rooted or UNC path that reads back unchanged as a full path, or a
// relative one without a drive, stream or UNC prefix.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/rules/windows_link_target.h"
#include "support/check.h"

namespace {

using velmarch::platform::walkable_full_path;
using velmarch::platform::windows_link_target;

bool drive_rooted(const std::u16string& path) {
    return path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
           path[1] == u':' && path[2] == u'\\';
}

bool unc(const std::u16string& path) {
    if (!path.starts_with(u"\\\\")) return false;
    const std::size_t share = path.find(u'\\', 2);
    return share != std::u16string::npos && share > 2 && share + 1 < path.size() && path[share + 1] != u'\\';
}

bool has_pattern(const std::u16string& path) { return path.find_first_of(u"*?<>\"") != std::u16string::npos; }

void check_absolute(const std::u16string& path) {
    FUZZ_CHECK(drive_rooted(path) || unc(path), "an accepted absolute path is drive-rooted or UNC");
    FUZZ_CHECK(!has_pattern(path), "an accepted path holds no search pattern, DOS wildcards included");
    const auto again = walkable_full_path(path);
    FUZZ_CHECK(again && *again == path, "an accepted absolute path is walked as it is");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span bytes(reinterpret_cast<const std::byte*>(data), size);
    if (auto target = windows_link_target(bytes)) {
        if (target->relative) {
            FUZZ_CHECK(!target->path.empty(), "a relative target names something");
            FUZZ_CHECK(!target->path.starts_with(u"\\\\"), "a relative target is not a UNC or device path");
            FUZZ_CHECK(target->path.find_first_of(u":/?*<>\"") == std::u16string::npos,
                       "a relative target names no drive, stream or pattern (DOS wildcards included)");
        } else {
            check_absolute(target->path);
        }
    }

    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (auto walked = walkable_full_path(text)) check_absolute(*walked);
    return 0;
}

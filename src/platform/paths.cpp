#include "platform/paths.h"

#include "platform/path_parts.h"
#include "text/utf.h"

namespace velmarch::platform {

bool is_path_separator(Path::value_type c) { return is_separator_in(c, kNativePathStyle); }

NativeString native_from_ascii(std::string_view ascii) { return NativeString(ascii.begin(), ascii.end()); }

#ifdef _WIN32
Path path_from_utf8(std::string_view utf8) {
    const std::u16string wide = text::utf8_to_utf16_lossy(utf8);
    return Path(std::wstring(wide.begin(), wide.end()));
}
std::u16string path_to_utf16(const Path& path) {
    const std::wstring& w = path.native();
    return std::u16string(w.begin(), w.end());
}
std::string path_to_utf8(const Path& path) { return text::utf16_to_utf8_lossy(path_to_utf16(path)); }
#else
Path path_from_utf8(std::string_view utf8) { return Path(std::string(utf8)); }
std::u16string path_to_utf16(const Path& path) { return text::utf8_to_utf16_lossy(path.native()); }
std::string path_to_utf8(const Path& path) { return path.native(); }
#endif

Path join_path(const Path& base, std::string_view component) {
    NativeString joined = base.native();
    if (joined.empty() || !is_path_separator(joined.back())) joined += kPathSeparator;
    joined += native_from_ascii(component);
    return Path(std::move(joined));
}

}  // namespace velmarch::platform

#include "platform/path/path.h"

#include "platform/path/full_path.h"
#include "platform/path/path_parts.h"
#include "text/utf.h"

namespace velmarch::platform {

Path Path::root_path() const {
    const NativeView text(text_);
    return Path(text.substr(0, root_length(text, kNativePathStyle)));
}

Path Path::parent_path() const { return Path(parent_of(NativeView(text_), kNativePathStyle)); }

Path Path::filename() const { return Path(filename_of(NativeView(text_), kNativePathStyle)); }

Path Path::extension() const { return Path(extension_of(NativeView(text_), kNativePathStyle)); }

bool Path::has_filename() const { return !filename_of(NativeView(text_), kNativePathStyle).empty(); }

bool Path::is_absolute() const {
    const PathAnchor anchor = anchor_of(NativeView(text_), kNativePathStyle);
    return anchor == PathAnchor::absolute || anchor == PathAnchor::verbatim;
}

Path& Path::operator/=(const Path& name) {
    // A new text first: `name` may be this path itself.
    text_ = join_name(NativeView(text_), NativeView(name.text_), kNativePathStyle);
    return *this;
}

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

}  // namespace velmarch::platform

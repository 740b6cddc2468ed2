#include "platform/path.h"

#include "platform/path_parts.h"

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
    if (&name == this) return *this /= Path(name);
    // A bare drive ("C:") takes the name as drive-relative, as Windows reads it.
    const bool bare_drive = kNativePathStyle == PathStyle::windows && text_.size() == 2 && has_drive(NativeView(text_));
    if (!text_.empty() && !bare_drive && !is_separator_in(text_.back(), kNativePathStyle))
        text_ += kNativePathStyle == PathStyle::windows ? PathChar('\\') : PathChar('/');
    text_ += name.text_;
    return *this;
}

}  // namespace velmarch::platform

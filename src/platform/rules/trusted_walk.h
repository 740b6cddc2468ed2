#pragma once
// How an elevated run reaches a caller-named path: one component at a time,
// never through a link that someone other than a trusted owner (the
// administrators or the system; root on the stand-in) could have planted. A
// trusted link is resolved here and its target walked the same way, so a
// trusted link into a user's folder does not open a way through that user's
// own links.
//
// "." and ".." are resolved on the text (platform/path/full_path.h), in the path
// and in a link's target alike: the walk never asks the system for a
// directory's parent, which is wherever the directory's owner has moved it
// by then. A link's target is joined to the text of the link's directory and
// the result walked again from its root.
//
// The operating system side is a cursor: it stands in one directory at a time
// and answers what a name in it is, links not followed. Where the system can
// hold a directory open (a descriptor on the stand-in), the walk is free of
// races: the caller then acts on (directory, final name) with links not
// followed.

#include <string>

#include "platform/platform.h"

namespace velmarch::platform {

// What a name in the cursor's directory is, links not followed.
enum class EntryKind { missing, directory, other, link };

// The volume the cursor's directory lies on.
enum class VolumeKind { local, remote };

struct EntryInfo {
    EntryKind kind = EntryKind::missing;
    // For a link: its owner is a trusted one.
    bool trusted_owner = false;
};

class PathCursor {
public:
    virtual ~PathCursor() = default;
    // Stands at `root`, the root of an absolute path ("/", "C:\"), or at the
    // current directory when `root` is empty.
    [[nodiscard]] virtual Result<void> start(const Path& root) = 0;
    [[nodiscard]] virtual Result<EntryInfo> inspect(const NativeString& name) = 0;
    // Moves into the directory `name` (never "." or ".."). Fails when `name`
    // is no longer a directory, a link included.
    [[nodiscard]] virtual Result<void> enter(const NativeString& name) = 0;
    // The text a link points to.
    [[nodiscard]] virtual Result<Path> link_target(const NativeString& name) = 0;
    // Creates the directory `name`; an existing entry of that name is not an
    // error (the walk looks at it again).
    [[nodiscard]] virtual Result<void> make_directory(const NativeString& name) = 0;
    // The volume of the directory the cursor stands in, asked after each
    // start and each enter before anything in it is looked at: Windows asks
    // the drive's type once per root (a share cannot be mounted below a
    // drive's root); the stand-in asks the file system type of every
    // directory, since a network file system can be mounted anywhere. A
    // failure of the query refuses the path.
    [[nodiscard]] virtual Result<VolumeKind> volume() = 0;

    // The operating system's error texts for the walk's own refusals.
    virtual std::string untrusted_link_error() const = 0;
    virtual std::string too_many_links_error() const = 0;
    virtual std::string missing_directory_error() const = 0;
    virtual std::string not_a_directory_error() const = 0;
};

// More links than this on one path are refused as a loop, as the systems do.
inline constexpr int kMaxLinksFollowed = 40;

struct WalkOptions {
    // Creates every missing directory, the last component included, and ends
    // inside it (the final name is then ".").
    bool create_directories = false;
    // A link as the final component is left as it is, whoever owns it, for
    // operations that never follow one there (deleting a name, creating a
    // new file, asking whether a name exists).
    bool follow_final_link = true;
};

// Walks `path` (absolute, or relative to the current directory), its "." and
// ".." resolved by text first. On success the cursor stands in the directory
// of the final component and the final name is returned: a plain name that
// was not a link when it was looked at (a missing name included; a link of
// any owner when `follow_final_link` is off), or "." when the path names a
// root. A link on the way, the final component included, is followed only
// when its owner is trusted; otherwise the walk fails with
// untrusted_link_error(). A ".." that the text cannot resolve (a relative
// path climbing above its start) fails with missing_directory_error(). A root
// that is not a local drive by its text (a share, a device path), and a
// directory the cursor finds on a remote volume, fail with kNotOnALocalVolume,
// in the path and in every link target alike.
[[nodiscard]] Result<NativeString> walk_trusted_path(PathCursor& cursor, const Path& path, WalkOptions options = {});

}  // namespace velmarch::platform

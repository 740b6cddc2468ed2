#pragma once
// The elevated run's own walk of a caller-named path: every existing
// component is looked at without following it, and a junction or symbolic
// link (a name-surrogate reparse point) is followed only when Administrators,
// LocalSystem or TrustedInstaller own it and nobody else could change, delete
// or replace it (platform/rules/trusted_access.h), and only to a drive-rooted or UNC
// target, or a relative one (platform/rules/windows_link_target.h).
//
// The walk holds a handle of the directory it stands in, opened without
// delete sharing (nobody can rename or delete that folder while it is held),
// and opens each component relative to it. A link is decided on the handle
// that opened it: its owner, its access list and its target all come from
// that one handle. The caller then acts on (directory handle, final name), so
// a folder swapped for a link after the walk is never passed through.
//
// The path and every link target must be on a local volume: a share or
// device path is refused by its text, a remote drive by its type, asked
// before its root is opened (kNotOnALocalVolume).

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/rules/trusted_walk.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/owners.h"

namespace velmarch::platform::win32 {

// Which links the check decides on.
enum class LinkCheck {
    // None: a run without elevation follows links like any program.
    off,
    // Every junction and symbolic link: an elevated run without
    // RedirectionGuard.
    every_link,
    // Symbolic links and links of other kinds, not junctions: an elevated run
    // with RedirectionGuard in force, which is documented for junctions
    // made by non-administrators and does not name symbolic links.
    symbolic_links,
};

// Where a path leads, ready for open_at (platform/win32/nt_file.h).
struct Located {
    // None when links are not checked: `name` is then the whole path, given
    // to the system as it is.
    UniqueHandle directory;
    std::wstring name;
    // A junction at the final name is left to the system (RedirectionGuard
    // is in force and decides on it).
    bool system_follows_junctions = false;
};

// The walk's cursor: it holds the directory it stands in, and keeps the
// handle of the name it looked at last, from which that name's link is
// decided and read and that directory entered. `start` takes a full,
// drive-rooted root; `volume` answers that drive's type.
[[nodiscard]] std::unique_ptr<PathCursor> make_handle_cursor(LinkCheck mode);

// Walks `path` (see walk_trusted_path); with `options.create_directories`
// every missing directory is created and the path then names the last one,
// as ".".
[[nodiscard]] Result<Located> locate(const Path& path, WalkOptions options, LinkCheck mode);

// The same walk, for a path that the system or a child opens by name later.
[[nodiscard]] Result<void> check_trusted_path(const Path& path, WalkOptions options = {},
                                              LinkCheck mode = LinkCheck::every_link);

// What RedirectionGuard itself reports for a refused link:
// ERROR_UNTRUSTED_MOUNT_POINT (448).
std::string untrusted_link_error_text();

// Opens the final name of a located path with `how`. With
// FILE_FLAG_OPEN_REPARSE_POINT a link there is opened itself; without it, a
// junction or symbolic link found there (swapped in since the walk) fails
// with ERROR_UNTRUSTED_MOUNT_POINT, except a junction left to the system.
// Other reparse points (placeholders, deduplicated files) are opened as the
// system presents them (open_presented), and never created.
[[nodiscard]] Opened open_located(const Located& at, const FileOpening& how);

// The second open of a name found to be a reparse point that is no link (a
// cloud placeholder, a deduplicated file), held open as `looked_at`:
// `open_by_name` opens the name as the system presents it, relative to the
// held folder. Nothing is created here, whatever `how` asks: the name is
// opened only if it exists (CREATE_NEW fails with ERROR_FILE_EXISTS, as the
// name existed), so that a placeholder swapped for a junction or symbolic
// link between the two opens makes the open fail instead of creating a file
// where the link leads; and what it opened must be the file looked at
// (ERROR_UNTRUSTED_MOUNT_POINT otherwise). Creation happens only through the
// open of the name itself (FILE_OPEN_REPARSE_POINT) relative to the held
// folder.
[[nodiscard]] Opened open_presented(HANDLE looked_at, const FileOpening& how,
                                    const std::function<Opened(const FileOpening&)>& open_by_name);

}  // namespace velmarch::platform::win32

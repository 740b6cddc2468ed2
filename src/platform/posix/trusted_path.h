#pragma once
// Caller-named paths on the stand-in. Run as root (the stand-in's elevated
// run), a path is walked one component at a time over directory descriptors
// and a link is followed only when root owns it; the operation then acts on
// (directory descriptor, final name) without following a link there, so no
// link swapped in after the walk is followed either. Run as anyone else, the
// path goes to the system as it is.
//
// The walk reads "." and ".." by text; a relative path is first put after
// the working directory's text, so that nothing climbs out of a directory
// another user may be moving.

#include <fcntl.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/posix/owners.h"
#include "platform/rules/trusted_walk.h"

namespace velmarch::platform::posix {

// Where a path leads, ready for the *at() calls.
struct Located {
    UniqueFd directory;  // none: relative to the current directory (AT_FDCWD)
    std::string name;
    // O_NOFOLLOW for opens, AT_SYMLINK_NOFOLLOW for the other *at() calls;
    // both 0 when links are followed.
    int open_no_follow = 0;
    int at_no_follow = 0;

    int directory_fd() const { return directory.valid() ? directory.get() : AT_FDCWD; }
};

enum class FinalLink {
    follow,  // a trusted link at the final name is followed
    keep,    // the final name is taken as it is, a link included
};

// A file system type (statfs's f_type) that the stand-in counts as a remote
// volume: a network file system (NFS, SMB/CIFS, 9P, Ceph, AFS, ...) or FUSE,
// whose answers come from a server process (sshfs, or any user's own), as a
// share's come from its file server.
bool is_remote_file_system(std::uint32_t type);

// The walk's cursor over directory descriptors: it holds the directory it
// stands in, and each name it looks at is opened once (O_PATH|O_NOFOLLOW),
// so that a link is decided on, and its target read from, the descriptor
// that was looked at, and a directory entered is the one looked at.
class DescriptorCursor final : public PathCursor {
public:
    // `counts_as_remote` tells a remote volume by its file system type; tests
    // give another rule to stand the cursor on a remote volume they cannot
    // mount.
    explicit DescriptorCursor(bool (*counts_as_remote)(std::uint32_t) = is_remote_file_system)
        : counts_as_remote_(counts_as_remote) {}

    [[nodiscard]] Result<void> start(const Path& root) override;
    [[nodiscard]] Result<EntryInfo> inspect(const NativeString& name) override;
    [[nodiscard]] Result<void> enter(const NativeString& name) override;
    [[nodiscard]] Result<Path> link_target(const NativeString& name) override;
    [[nodiscard]] Result<void> make_directory(const NativeString& name) override;
    [[nodiscard]] Result<VolumeKind> volume() override;

    std::string untrusted_link_error() const override;
    std::string too_many_links_error() const override;
    std::string missing_directory_error() const override;
    std::string not_a_directory_error() const override;

    UniqueFd take_directory() { return std::move(directory_); }

private:
    void forget_looked_at();

    bool (*counts_as_remote_)(std::uint32_t);
    UniqueFd directory_;
    UniqueFd looked_at_;
    std::string looked_at_name_;
    bool looked_at_is_directory_ = false;
    bool looked_at_is_link_ = false;
};

// `guarded`: the run is elevated and links are checked. With
// `create_directories` every missing directory is created (the path then
// names the last one, as ".").
[[nodiscard]] Result<Located> locate(const Path& path, bool guarded, FinalLink final_link = FinalLink::follow,
                                     bool create_directories = false);

// The working directory as the system knows it (no links in it).
[[nodiscard]] Result<Path> current_directory();

// The error an untrusted link gives: what Linux's protected_symlinks answers.
std::string untrusted_link_error_text();

}  // namespace velmarch::platform::posix

#include "platform/posix/trusted_path.h"

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/path/full_path.h"
#include "platform/posix/os_error.h"
#include "platform/rules/trusted_owner.h"
#include "platform/rules/trusted_walk.h"

namespace velmarch::platform::posix {
namespace {

[[nodiscard]] Result<UniqueFd> open_directory_at(int directory, const std::string& name) {
    for (;;) {
        const int fd = ::openat(directory, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EINTR) return fail(ErrorKind::os_error, last_os_error_text());
    }
}

// File systems whose answers come from another machine (network and cluster
// file systems) or from a user-space server (FUSE), by statfs's f_type: the
// stand-in's counterpart of a remote drive.
constexpr std::uint32_t kRemoteFileSystems[] = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFE534D42,  // SMB2
    0xFF534D42,  // CIFS
    0x01021997,  // 9P
    0x65735546,  // FUSE (sshfs, and any user's own server)
    0x00C36400,  // Ceph
    0x5346414F,  // AFS (kAFS)
    0x6B414653,  // AFS
    0x73757245,  // Coda
    0x564C,      // NCP
    0x7461636F,  // OCFS2
    0x47504653,  // GPFS
    0x0BD00BD0,  // Lustre
};

}  // namespace

Result<void> DescriptorCursor::start(const Path& root) {
    Result<UniqueFd> opened = open_directory_at(AT_FDCWD, root.empty() ? std::string(".") : root.native());
    if (!opened) return std::unexpected(opened.error());
    directory_ = std::move(*opened);
    forget_looked_at();
    return {};
}

// The name itself is opened (O_PATH: no device is opened, no FIFO waited
// for; O_NOFOLLOW: a link is opened, not followed) and that descriptor kept:
// the link's owner, its target and the directory entered all come from it.
Result<EntryInfo> DescriptorCursor::inspect(const NativeString& name) {
    forget_looked_at();
    int fd = -1;
    do {
        fd = ::openat(directory_.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT) return EntryInfo{EntryKind::missing};
        return fail(ErrorKind::os_error, last_os_error_text());
    }
    UniqueFd looked_at(fd);
    struct stat status {};
    if (::fstat(looked_at.get(), &status) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    looked_at_ = std::move(looked_at);
    looked_at_name_ = name;
    looked_at_is_link_ = S_ISLNK(status.st_mode);
    if (looked_at_is_link_) return EntryInfo{EntryKind::link, is_trusted_posix_owner(status.st_uid)};
    looked_at_is_directory_ = S_ISDIR(status.st_mode);
    return EntryInfo{looked_at_is_directory_ ? EntryKind::directory : EntryKind::other};
}

Result<void> DescriptorCursor::enter(const NativeString& name) {
    if (looked_at_ && looked_at_name_ == name) {
        if (!looked_at_is_directory_) return fail(ErrorKind::os_error, os_error_text(ENOTDIR));
        directory_ = std::move(looked_at_);
    } else {
        Result<UniqueFd> opened = open_directory_at(directory_.get(), name);
        if (!opened) return std::unexpected(opened.error());
        directory_ = std::move(*opened);
    }
    forget_looked_at();
    return {};
}

Result<Path> DescriptorCursor::link_target(const NativeString& name) {
    // Only the link that was looked at is read.
    if (!looked_at_ || looked_at_name_ != name || !looked_at_is_link_)
        return fail(ErrorKind::untrusted_link, untrusted_link_error_text());
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(looked_at_.get(), "", target.data(), target.size());
        if (length < 0) return fail(ErrorKind::os_error, last_os_error_text());
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return Path(std::move(target));
        }
        target.resize(target.size() * 2);
    }
}

Result<void> DescriptorCursor::make_directory(const NativeString& name) {
    forget_looked_at();
    if (::mkdirat(directory_.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
        return fail(ErrorKind::os_error, last_os_error_text());
    return {};
}

// The directory held, which may be the descriptor a name was looked at by
// (O_PATH descriptors answer fstatfs).
Result<VolumeKind> DescriptorCursor::volume() {
    struct statfs status {};
    for (;;) {
        if (::fstatfs(directory_.get(), &status) == 0) break;
        if (errno != EINTR) return fail(ErrorKind::os_error, last_os_error_text());
    }
    return counts_as_remote_(static_cast<std::uint32_t>(status.f_type)) ? VolumeKind::remote : VolumeKind::local;
}

std::string DescriptorCursor::untrusted_link_error() const { return untrusted_link_error_text(); }
std::string DescriptorCursor::too_many_links_error() const { return os_error_text(ELOOP); }
std::string DescriptorCursor::missing_directory_error() const { return os_error_text(ENOENT); }
std::string DescriptorCursor::not_a_directory_error() const { return os_error_text(ENOTDIR); }

void DescriptorCursor::forget_looked_at() {
    looked_at_.reset();
    looked_at_name_.clear();
    looked_at_is_directory_ = false;
    looked_at_is_link_ = false;
}

std::string untrusted_link_error_text() { return os_error_text(EACCES); }

bool is_remote_file_system(std::uint32_t type) {
    for (const std::uint32_t remote : kRemoteFileSystems)
        if (type == remote) return true;
    return false;
}

Result<Path> current_directory() {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return Path(std::move(buffer));
        }
        if (errno != ERANGE) return fail(ErrorKind::os_error, last_os_error_text());
        buffer.resize(buffer.size() * 2);
    }
}

Result<Located> locate(const Path& path, bool guarded, FinalLink final_link, bool create_directories) {
    if (path.empty()) return fail(ErrorKind::os_error, os_error_text(ENOENT));
    if (!guarded) {
        Located at;
        at.name = path.native();
        return at;
    }
    Path full = path;
    if (path.is_relative()) {
        Result<Path> working = current_directory();
        if (!working) return std::unexpected(working.error());
        full = Path(
            full_path_text(std::string_view(path.native()), std::string_view(working->native()), PathStyle::posix));
    }
    DescriptorCursor cursor;
    Result<NativeString> name = walk_trusted_path(
        cursor, full,
        WalkOptions{.create_directories = create_directories, .follow_final_link = final_link == FinalLink::follow});
    if (!name) return std::unexpected(name.error());
    Located at;
    at.directory = cursor.take_directory();
    at.name = std::move(*name);
    at.open_no_follow = O_NOFOLLOW;
    at.at_no_follow = AT_SYMLINK_NOFOLLOW;
    return at;
}

}  // namespace velmarch::platform::posix

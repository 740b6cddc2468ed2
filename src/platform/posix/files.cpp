// Files and directories.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/posix/file.h"
#include "platform/posix/os_error.h"
#include "platform/posix/platform.h"
#include "platform/posix/regular_file.h"
#include "platform/posix/trusted_path.h"

namespace velmarch::platform::posix {
namespace {

// Opens at a located path. After the walk an untrusted link can only stand at
// the final name if one was swapped in since: reported like the walk's own
// refusal.
[[nodiscard]] Result<UniqueFd> open_descriptor(const Located& at, int flags, mode_t mode = 0) {
    for (;;) {
        const int fd = ::openat(at.directory_fd(), at.name.c_str(), flags | at.open_no_follow | O_CLOEXEC, mode);
        if (fd >= 0) return UniqueFd(fd);
        if (errno == EINTR) continue;
        if (errno == ELOOP && at.open_no_follow != 0 && (flags & O_NOFOLLOW) == 0)
            return fail(ErrorKind::untrusted_link, untrusted_link_error_text());
        return fail(ErrorKind::os_error, last_os_error_text());
    }
}

// Opens a caller-named file that must be a regular one. The name is looked at
// first, so that no device is ever opened; the descriptor is checked again,
// for whatever was swapped in since. O_NONBLOCK keeps a FIFO (or a file under
// someone's lease) from holding the open; O_NOCTTY keeps a terminal from
// becoming the run's own.
[[nodiscard]] Result<UniqueFd> open_regular_file(const Located& at, int flags, const RaceWindow& race_window,
                                                 mode_t mode = 0) {
    if (Result<void> kind = refuse_special_file_at(at); !kind) return std::unexpected(kind.error());
    open_race_window(race_window, at.name);
    Result<UniqueFd> fd = open_descriptor(at, flags | O_NONBLOCK | O_NOCTTY, mode);
    if (!fd) return fd;
    if (Result<void> regular = require_regular_file(*fd); !regular) return std::unexpected(regular.error());
    return fd;
}

[[nodiscard]] Result<void> write_whole_file(const Located& at, int flags, std::span<const std::byte> bytes,
                                            const RaceWindow& race_window) {
    Result<UniqueFd> fd = open_regular_file(at, O_WRONLY | O_CREAT | flags, race_window, 0644);
    if (!fd) return std::unexpected(fd.error());
    PosixFile file(std::move(*fd));
    if (Result<void> written = write_all(file, bytes); !written) return written;
    return file.close();
}

// Removes what `name` names in `directory`: a directory with everything in
// it, anything else, a link included, by its name alone. Never descends
// through a link: the directory is opened O_NOFOLLOW before it is read.
[[nodiscard]] Result<void> remove_entry_at(int directory, const std::string& name, const RaceWindow& race_window) {
    if (::unlinkat(directory, name.c_str(), 0) == 0) return {};
    if (errno != EISDIR) return std::unexpected(last_removal_error());
    open_race_window(race_window, name);
    {
        UniqueFd fd(::openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return std::unexpected(last_removal_error());
        UniqueDirectoryStream entries(::fdopendir(fd.get()));
        if (!entries) return std::unexpected(last_removal_error());
        static_cast<void>(fd.release());  // closed with the stream
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(entries.get());
            if (entry == nullptr) {
                if (errno != 0) return std::unexpected(last_removal_error());
                break;
            }
            const std::string child = entry->d_name;
            if (child == "." || child == "..") continue;
            if (Result<void> removed = remove_entry_at(::dirfd(entries.get()), child, race_window); !removed)
                return removed;
        }
    }
    if (::unlinkat(directory, name.c_str(), AT_REMOVEDIR) != 0) return std::unexpected(last_removal_error());
    return {};
}

}  // namespace

FileType PosixPlatform::file_type(const Path& path) {
    Result<Located> at = locate(path, guard_links_);
    if (!at) return FileType::missing;
    open_race_window(race_window_, at->name);
    struct stat status {};
    if (::fstatat(at->directory_fd(), at->name.c_str(), &status, at->at_no_follow) != 0) return FileType::missing;
    if (S_ISLNK(status.st_mode)) return FileType::missing;  // a link that was not followed
    return S_ISDIR(status.st_mode) ? FileType::directory : FileType::file;
}

bool PosixPlatform::exists(const Path& path) {
    Result<Located> at = locate(path, guard_links_, FinalLink::keep);
    if (!at) return false;
    struct stat status {};
    return ::fstatat(at->directory_fd(), at->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

Result<std::unique_ptr<File>> PosixPlatform::open_for_reading(const Path& path) {
    Result<Located> at = locate(path, guard_links_);
    if (!at) return std::unexpected(at.error());
    // Windows refuses to open a directory as a file; so does the stand-in.
    Result<UniqueFd> fd = open_regular_file(*at, O_RDONLY, race_window_);
    if (!fd) return std::unexpected(fd.error());
    return std::make_unique<PosixFile>(std::move(*fd));
}

Result<std::unique_ptr<File>> PosixPlatform::create_new_file(const Path& path) {
    Result<Located> at = locate(path, guard_links_, FinalLink::keep);
    if (!at) return std::unexpected(at.error());
    Result<UniqueFd> fd = open_descriptor(*at, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (!fd) return std::unexpected(fd.error());
    // Held from its creation, before the first byte is written, as a write
    // handle holds it on Windows: the sweep of earlier runs' staging takes no
    // file under this lock.
    if (::flock(fd->get(), LOCK_EX | LOCK_NB) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    return std::make_unique<PosixFile>(std::move(*fd));
}

Result<void> PosixPlatform::write_file(const Path& path, std::span<const std::byte> bytes) {
    Result<Located> at = locate(path, guard_links_);
    if (!at) return std::unexpected(at.error());
    return write_whole_file(*at, O_TRUNC, bytes, race_window_);
}

Result<void> PosixPlatform::append_to_file(const Path& path, std::span<const std::byte> bytes) {
    Result<Located> at = locate(path, guard_links_);
    if (!at) return std::unexpected(at.error());
    return write_whole_file(*at, O_APPEND, bytes, race_window_);
}

Result<void> PosixPlatform::delete_file(const Path& path) {
    Result<Located> at = locate(path, guard_links_, FinalLink::keep);
    if (!at) return std::unexpected(at.error());
    // unlinkat removes a link itself, never what it points to, so a link at
    // the final name may stand.
    if (::unlinkat(at->directory_fd(), at->name.c_str(), 0) != 0) return std::unexpected(last_removal_error());
    return {};
}

Result<void> PosixPlatform::create_directories(const Path& path) {
    if (path.empty()) return fail(ErrorKind::os_error, os_error_text(ENOENT));
    if (guard_links_) {
        Result<Located> at = locate(path, true, FinalLink::follow, true);
        if (!at) return std::unexpected(at.error());
        return {};
    }
    const std::string& text = path.native();
    // Each directory on the way, from the first below the root to the last.
    std::size_t end = text.find_first_not_of('/');
    while (end != std::string::npos) {
        end = std::min(text.find('/', end), text.size());
        const std::string prefix = text.substr(0, end);
        end = text.find_first_not_of('/', end);
        if (::mkdir(prefix.c_str(), 0777) == 0) continue;
        const int error = errno;
        if (error != EEXIST) return fail(ErrorKind::os_error, os_error_text(error));
        struct stat status {};
        if (::stat(prefix.c_str(), &status) != 0) return fail(ErrorKind::os_error, last_os_error_text());
        if (!S_ISDIR(status.st_mode)) return fail(ErrorKind::os_error, os_error_text(ENOTDIR));
    }
    return {};
}

Result<void> PosixPlatform::remove_directory_tree(const Path& path) {
    // Only the staging directory is removed, inside the protected temporary
    // directory: checked, then removed by name.
    Result<Located> at = locate(path, guard_links_, FinalLink::keep);
    if (!at) return std::unexpected(at.error());
    // Nothing there is an error, as on Windows.
    return remove_entry_at(at->directory_fd(), at->name, race_window_);
}

}  // namespace velmarch::platform::posix

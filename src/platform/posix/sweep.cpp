// What the sweep of earlier runs' staging works with: directories held open
// and every entry reached relative to them without following a link, files
// taken under an exclusive flock, the flock a run holds on its own staged
// package, and the free space of a volume.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/open_at.h"
#include "platform/posix/os_error.h"
#include "platform/posix/platform.h"
#include "platform/posix/regular_file.h"
#include "platform/posix/trusted_path.h"
#include "platform/rules/trusted_owner.h"

namespace velmarch::platform::posix {
namespace {

[[nodiscard]] Result<UniqueFd> duplicate(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return fail(ErrorKind::os_error, last_os_error_text());
    return UniqueFd(copy);
}

// Only a plain name of an entry, never one that leads elsewhere.
[[nodiscard]] Result<void> require_entry_name(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return fail(ErrorKind::os_error, os_error_text(EINVAL));
    return {};
}

[[nodiscard]] Result<HeldFacts> facts_of(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    HeldFacts facts;
    facts.kind = S_ISDIR(status.st_mode)   ? HeldKind::directory
                 : S_ISREG(status.st_mode) ? HeldKind::regular_file
                 : S_ISLNK(status.st_mode) ? HeldKind::link
                                           : HeldKind::other;
    facts.trusted_owner = is_trusted_posix_owner(status.st_uid);
    facts.modified_unix_seconds = status.st_mtim.tv_sec > 0 ? static_cast<std::uint64_t>(status.st_mtim.tv_sec) : 0;
    return facts;
}

// Deletes `name` in `directory` once it still leads to the object open at
// `fd`: what was checked is what is deleted. Neither unlinkat call follows a
// link.
[[nodiscard]] Result<void> remove_same(int directory, const std::string& name, int fd, int flags) {
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    if (::fstatat(directory, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(ErrorKind::os_error, last_os_error_text());
    if (held.st_dev != named.st_dev || held.st_ino != named.st_ino)
        return fail(ErrorKind::os_error, os_error_text(ESTALE));
    if (::unlinkat(directory, name.c_str(), flags) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    return {};
}

class PosixFileHold final : public FileHold {
public:
    explicit PosixFileHold(UniqueFd fd) : fd_(std::move(fd)) {}

private:
    UniqueFd fd_;  // closing it lets the flock go
};

class PosixTakenFile final : public TakenFile {
public:
    PosixTakenFile(UniqueFd directory, std::string name, UniqueFd fd)
        : directory_(std::move(directory)), name_(std::move(name)), fd_(std::move(fd)) {}

    Result<HeldFacts> facts() override { return facts_of(fd_.get()); }
    Result<void> remove() override { return remove_same(directory_.get(), name_, fd_.get(), 0); }

private:
    UniqueFd directory_;
    std::string name_;
    UniqueFd fd_;
};

class PosixHeldDirectory final : public HeldDirectory {
public:
    // An empty `parent` stands for the working directory.
    PosixHeldDirectory(UniqueFd parent, std::string name, UniqueFd fd, RaceWindow race_window)
        : parent_(std::move(parent)),
          name_(std::move(name)),
          fd_(std::move(fd)),
          race_window_(std::move(race_window)) {}

    Result<HeldFacts> facts() override { return facts_of(fd_.get()); }

    Result<bool> has_access_list(const SecurityDescriptor&) override {
        struct stat status {};
        if (::fstat(fd_.get(), &status) != 0) return fail(ErrorKind::os_error, last_os_error_text());
        return (status.st_mode & 07777) == 0700;
    }

    Result<std::vector<std::string>> names(std::string_view prefix, std::size_t limit) override {
        // A stream of its own, from the start, over a copy of the descriptor.
        Result<UniqueFd> copy = open_at(fd_.get(), ".", O_RDONLY | O_DIRECTORY);
        if (!copy) return std::unexpected(copy.error());
        UniqueDirectoryStream entries(::fdopendir(copy->get()));
        if (!entries) return fail(ErrorKind::os_error, last_os_error_text());
        static_cast<void>(copy->release());  // closed with the stream
        std::vector<std::string> found;
        while (found.size() < limit) {
            errno = 0;
            const dirent* entry = ::readdir(entries.get());
            if (entry == nullptr) {
                if (errno != 0) return fail(ErrorKind::os_error, last_os_error_text());
                break;
            }
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name.starts_with(prefix)) found.push_back(name);
        }
        return found;
    }

    Result<std::unique_ptr<HeldDirectory>> open_directory(std::string_view name) override {
        if (Result<void> plain = require_entry_name(name); !plain) return std::unexpected(plain.error());
        const std::string entry(name);
        Result<UniqueFd> fd = open_at(fd_.get(), entry, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK);
        if (!fd) return std::unexpected(fd.error());
        Result<UniqueFd> parent = duplicate(fd_.get());
        if (!parent) return std::unexpected(parent.error());
        return std::make_unique<PosixHeldDirectory>(std::move(*parent), entry, std::move(*fd), race_window_);
    }

    Result<std::unique_ptr<TakenFile>> take_file(std::string_view name) override {
        if (Result<void> plain = require_entry_name(name); !plain) return std::unexpected(plain.error());
        const std::string entry(name);
        // Looked at before it is opened, so that no device is ever opened.
        struct stat named {};
        if (::fstatat(fd_.get(), entry.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(ErrorKind::os_error, last_os_error_text());
        if (!S_ISREG(named.st_mode)) return fail_not_a_regular_file();
        open_race_window(race_window_, entry);
        Result<UniqueFd> fd = open_at(fd_.get(), entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (!fd) return std::unexpected(fd.error());
        if (Result<void> regular = require_regular_file(*fd); !regular) return std::unexpected(regular.error());
        // A run holds its staged package under this lock while it needs it.
        if (::flock(fd->get(), LOCK_EX | LOCK_NB) != 0) return fail(ErrorKind::os_error, last_os_error_text());
        Result<UniqueFd> directory = duplicate(fd_.get());
        if (!directory) return std::unexpected(directory.error());
        return std::make_unique<PosixTakenFile>(std::move(*directory), entry, std::move(*fd));
    }

    Result<void> remove() override {
        return remove_same(parent_.valid() ? parent_.get() : AT_FDCWD, name_, fd_.get(), AT_REMOVEDIR);
    }

private:
    UniqueFd parent_;
    std::string name_;
    UniqueFd fd_;
    RaceWindow race_window_;
};

}  // namespace

Result<std::unique_ptr<FileHold>> PosixPlatform::hold_file(const Path& path) {
    Result<Located> at = locate(path, guard_links_, FinalLink::keep);
    if (!at) return std::unexpected(at.error());
    if (Result<void> kind = refuse_special_file_at(*at); !kind) return std::unexpected(kind.error());
    open_race_window(race_window_, at->name);
    Result<UniqueFd> fd = open_at(at->directory_fd(), at->name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!fd) return std::unexpected(fd.error());
    if (Result<void> regular = require_regular_file(*fd); !regular) return std::unexpected(regular.error());
    if (::flock(fd->get(), LOCK_EX | LOCK_NB) != 0) return fail(ErrorKind::os_error, last_os_error_text());
    return std::make_unique<PosixFileHold>(std::move(*fd));
}

Result<std::unique_ptr<HeldDirectory>> PosixPlatform::open_held_directory(const Path& path) {
    Result<Located> at = locate(path, guard_links_);
    if (!at) return std::unexpected(at.error());
    open_race_window(race_window_, at->name);
    Result<UniqueFd> fd = open_at(at->directory_fd(), at->name, O_RDONLY | O_DIRECTORY | at->open_no_follow);
    if (!fd) return std::unexpected(fd.error());
    return std::make_unique<PosixHeldDirectory>(std::move(at->directory), at->name, std::move(*fd), race_window_);
}

}  // namespace velmarch::platform::posix

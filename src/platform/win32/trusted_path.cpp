#include "platform/win32/trusted_path.h"

#include "platform/win32/windows_api.h"
// After the Windows headers they build on.
#include <winioctl.h>

#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "platform/path/path_parts.h"
#include "platform/rules/trusted_access.h"
#include "platform/rules/windows_link_target.h"
#include "platform/win32/full_path_name.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/os_error.h"
#include "platform/win32/owners.h"
#include "platform/win32/security_description.h"

namespace velmarch::platform::win32 {
namespace {

constexpr DWORD kUntrustedMountPoint = 448;  // ERROR_UNTRUSTED_MOUNT_POINT
constexpr DWORD kCannotResolveName = 1921;   // ERROR_CANT_RESOLVE_FILENAME

bool starts_with(const std::wstring& text, std::wstring_view prefix) { return text.starts_with(prefix); }

// The form that reaches any length and is not reinterpreted.
std::wstring extended(const std::wstring& path) {
    if (starts_with(path, LR"(\\)")) return LR"(\\?\UNC\)" + path.substr(2);
    return LR"(\\?\)" + path;
}

[[nodiscard]] Result<std::wstring> full_path(const Path& path) {
    Result<std::wstring> full = full_path_name(path.native());
    if (!full) return std::unexpected(full.error());
    // A share or device path is refused before anything on it is opened
    // (platform.h, kNotOnALocalVolume).
    if (volume_by_text(std::wstring_view(*full), PathStyle::windows) == TextVolume::not_local)
        return fail_not_on_a_local_volume();
    // Only drive-rooted paths are walked: a verbatim path holding "." or ".."
    // names something the walk would read otherwise.
    std::optional<std::u16string> walkable = walkable_full_path(std::u16string(full->begin(), full->end()));
    if (!walkable) return fail(ErrorKind::untrusted_link, untrusted_link_error_text());
    return std::wstring(walkable->begin(), walkable->end());
}

[[nodiscard]] Result<Path> read_link_target(HANDLE handle) {
    std::vector<std::byte> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!::DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                           static_cast<DWORD>(buffer.size()), &got, nullptr))
        return fail(ErrorKind::os_error, last_os_error_text());
    auto target = windows_link_target(std::span(buffer).first(got));
    if (!target) {
        if (target.error() == LinkTargetProblem::malformed)
            return fail(ErrorKind::os_error, os_error_text(ERROR_INVALID_REPARSE_DATA));
        // Another kind of link, or a target whose meaning is not known here.
        return fail(ErrorKind::untrusted_link, untrusted_link_error_text());
    }
    return Path(std::wstring(target->path.begin(), target->path.end()));
}

// Held directories: the walk opens each component relative to them, and
// nobody may rename or delete them meanwhile (no FILE_SHARE_DELETE; the
// sharing is only enforced against a handle with a data right, hence
// FILE_TRAVERSE). Listing and READ_CONTROL (for a link's folder) are asked
// for where granted.
constexpr DWORD kHeldDirectoryAccess = FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr DWORD kLeastHeldDirectoryAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

FileOpening held_directory(DWORD access, bool link_itself) {
    return FileOpening{.access = access,
                       .share = kHoldShare,
                       .creation = OPEN_EXISTING,
                       .flags_and_attributes = DWORD{FILE_FLAG_BACKUP_SEMANTICS} |
                                               (link_itself ? DWORD{FILE_FLAG_OPEN_REPARSE_POINT} : DWORD{0}),
                       .directory_only = true};
}

// A directory to hold, opened relative to `directory` (or from the object
// `directory` itself when `name` is empty), with the most access granted.
Opened hold_directory(HANDLE directory, std::wstring_view name, bool link_itself) {
    Opened opened = open_at(directory, name, held_directory(kHeldDirectoryAccess, link_itself));
    if (!opened && opened.error() == ERROR_ACCESS_DENIED)
        opened = open_at(directory, name, held_directory(kLeastHeldDirectoryAccess, link_itself));
    return opened;
}

std::optional<FILE_ATTRIBUTE_TAG_INFO> attributes_of(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &information, sizeof information))
        return std::nullopt;
    return information;
}

bool is_link(const FILE_ATTRIBUTE_TAG_INFO& information) {
    return (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           IsReparseTagNameSurrogate(information.ReparseTag);
}

class HandleCursor final : public PathCursor {
public:
    explicit HandleCursor(LinkCheck mode) : mode_(mode) {}

    // The walk starts at the root of a full path, such as C:\ (a share or a
    // device path is refused by its text before); it joins a link's target
    // to the link's directory itself, ".." resolved by text, so nothing here
    // goes up.
    Result<void> start(const Path& root) override {
        std::wstring text = root.native();
        for (wchar_t& c : text)
            if (c == L'/') c = L'\\';
        if (text.empty() || text == L"\\") return fail(ErrorKind::os_error, os_error_text(ERROR_PATH_NOT_FOUND));
        forget_looked_at();
        directory_.reset();
        // The drive's type is asked before its root is opened: a mapped
        // network drive is not opened at all (volume() then refuses it).
        volume_ = drive_volume(text);
        here_ = Path(std::move(text));
        if (!volume_ || *volume_ != VolumeKind::local) return {};
        Opened opened = hold_directory(nullptr, extended(here_.native()), false);
        if (!opened) return fail(ErrorKind::os_error, os_error_text(opened.error()));
        directory_ = std::move(*opened);
        return {};
    }

    // The walk starts only at a drive's root (a share or device is refused by
    // its text before): its type holds for every folder below it, since
    // nothing but a symbolic link, which the walk follows itself (starting
    // again at its target's root), leads from a drive to a share.
    Result<VolumeKind> volume() override { return volume_; }

    // Opens the name itself (a link not followed) and keeps that handle: a
    // link is decided on it, its target read from it, and a directory entered
    // is reopened from it, so all concern the object looked at.
    Result<EntryInfo> inspect(const NativeString& name) override {
        forget_looked_at();
        const FileOpening look{.access = FILE_READ_ATTRIBUTES | READ_CONTROL,
                               .flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT};
        Opened opened = open_at(directory_.get(), name, look);
        if (!opened && opened.error() == ERROR_ACCESS_DENIED) {
            FileOpening attributes_only = look;
            attributes_only.access = FILE_READ_ATTRIBUTES;
            opened = open_at(directory_.get(), name, attributes_only);
        }
        if (!opened) {
            const DWORD error = opened.error();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return EntryInfo{EntryKind::missing};
            return from_directory_entry(extended((here_ / Path(name)).native()), error);
        }
        const std::optional<FILE_ATTRIBUTE_TAG_INFO> information = attributes_of(opened->get());
        if (!information) return fail(ErrorKind::os_error, last_os_error_text());
        looked_at_ = std::move(*opened);
        looked_at_name_ = name;
        looked_at_tag_ =
            (information->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? information->ReparseTag : 0;
        // For a link, the walk's "trusted owner" is the whole decision here:
        // owner, the link's access list and its folder's.
        if (is_checked_link(information->FileAttributes, information->ReparseTag))
            return EntryInfo{EntryKind::link, link_is_trusted(looked_at_.get())};
        return EntryInfo{kind_of(information->FileAttributes)};
    }

    Result<void> enter(const NativeString& name) override {
        Opened opened = std::unexpected(DWORD{ERROR_PATH_NOT_FOUND});
        if (looked_at_ && looked_at_name_ == name && is_junction_left_to_system()) {
            // The junction itself is held (it cannot be renamed or deleted
            // meanwhile) while the system follows it by name.
            Opened junction = hold_directory(looked_at_.get(), {}, true);
            if (!junction) return fail(ErrorKind::os_error, os_error_text(junction.error()));
            opened = hold_directory(directory_.get(), name, false);
        } else if (looked_at_ && looked_at_name_ == name && looked_at_tag_ != 0) {
            // A folder that a filter presents (a cloud folder: a reparse point
            // that is no link) is opened as the system presents it, and must
            // be the folder looked at.
            opened = hold_directory(directory_.get(), name, false);
            if (opened && !same_file(looked_at_.get(), opened->get()))
                return fail(ErrorKind::untrusted_link, untrusted_link_error());
        } else if (looked_at_ && looked_at_name_ == name) {
            opened = hold_directory(looked_at_.get(), {}, true);
        } else {
            opened = hold_directory(directory_.get(), name, true);
        }
        if (!opened) {
            if (opened.error() == ERROR_DIRECTORY || opened.error() == ERROR_FILE_NOT_FOUND)
                return fail(ErrorKind::os_error, not_a_directory_error());
            return fail(ErrorKind::os_error, os_error_text(opened.error()));
        }
        // An empty folder the user may write can have become a link since it
        // was looked at; a handle held from here on is not reparsed.
        const std::optional<FILE_ATTRIBUTE_TAG_INFO> information = attributes_of(opened->get());
        if (!information) return fail(ErrorKind::os_error, last_os_error_text());
        if ((information->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return fail(ErrorKind::os_error, not_a_directory_error());
        if (is_checked_link(information->FileAttributes, information->ReparseTag))
            return fail(ErrorKind::untrusted_link, untrusted_link_error());
        directory_ = std::move(*opened);
        here_ /= Path(name);
        forget_looked_at();
        return {};
    }

    Result<Path> link_target(const NativeString& name) override {
        // Only a link that was looked at as one is read.
        if (!looked_at_ || looked_at_name_ != name || !IsReparseTagNameSurrogate(looked_at_tag_))
            return fail(ErrorKind::untrusted_link, untrusted_link_error());
        return read_link_target(looked_at_.get());
    }

    // Created with the protected list of created_object_security, never
    // left to inheritance: its user may not lock it down and make it a link.
    Result<void> make_directory(const NativeString& name) override {
        forget_looked_at();
        const Result<UniqueLocalMemory> security = created_object_descriptor(directory_.get(), CreatedKind::folder);
        if (!security) return std::unexpected(security.error());
        const FileOpening create{.access = FILE_READ_ATTRIBUTES,
                                 .creation = CREATE_NEW,
                                 .flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 .directory_only = true,
                                 .security = security->get()};
        const Opened made = open_at(directory_.get(), name, create);
        if (!made && made.error() != ERROR_ALREADY_EXISTS)
            return fail(ErrorKind::os_error, os_error_text(made.error()));
        return {};
    }

    std::string untrusted_link_error() const override { return untrusted_link_error_text(); }
    std::string too_many_links_error() const override { return os_error_text(kCannotResolveName); }
    std::string missing_directory_error() const override { return os_error_text(ERROR_PATH_NOT_FOUND); }
    std::string not_a_directory_error() const override { return os_error_text(ERROR_DIRECTORY); }

    UniqueHandle take_directory() { return std::move(directory_); }

private:
    void forget_looked_at() {
        looked_at_.reset();
        looked_at_name_.clear();
        looked_at_tag_ = 0;
    }

    bool is_junction_left_to_system() const {
        return mode_ == LinkCheck::symbolic_links && looked_at_tag_ == IO_REPARSE_TAG_MOUNT_POINT;
    }

    // A junction or link this walk decides on. While RedirectionGuard is in
    // force, the system refuses junctions (mount points) that non-administrators
    // made, and the walk goes through them like folders; symbolic links and
    // every other kind of link are still looked at here.
    bool is_checked_link(DWORD attributes, DWORD tag) const {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || !IsReparseTagNameSurrogate(tag)) return false;
        return mode_ != LinkCheck::symbolic_links || tag != IO_REPARSE_TAG_MOUNT_POINT;
    }

    // The link's owner is trusted, and no one else may change it or, through
    // the folder it is in (the held directory), delete or replace it.
    bool link_is_trusted(HANDLE link) const {
        const std::optional<SecurityDescription> own = security_of(link);
        if (!own) return false;
        const std::optional<SecurityDescription> parent = security_of(directory_.get());
        return parent && is_trusted_windows_link(*own, *parent);
    }
    static EntryKind kind_of(DWORD attributes) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::directory : EntryKind::other;
    }

    // A name that cannot be opened at all (no right to it) is read from its
    // directory entry; a link found so has an owner nobody could read, and
    // is not trusted. Nothing found so is entered or acted on by name: a
    // directory is opened from the held one to be entered.
    [[nodiscard]] Result<EntryInfo> from_directory_entry(const std::wstring& path, DWORD open_error) const {
        WIN32_FIND_DATAW entry{};
        const UniqueFindHandle search(
            ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
        if (!search) return fail(ErrorKind::os_error, os_error_text(open_error));
        if (is_checked_link(entry.dwFileAttributes, entry.dwReserved0)) return EntryInfo{EntryKind::link, false};
        return EntryInfo{kind_of(entry.dwFileAttributes)};
    }

    // GetDriveTypeW of the root: a mapped network drive, and a drive
    // substituted for a share, answer DRIVE_REMOTE. Under Wine a share's root
    // answers DRIVE_NO_ROOT_DIR, which is why shares are refused by text.
    static Result<VolumeKind> drive_volume(const std::wstring& root) {
        switch (::GetDriveTypeW(root.c_str())) {
            case DRIVE_FIXED:
            case DRIVE_REMOVABLE:
            case DRIVE_CDROM:
            case DRIVE_RAMDISK: return VolumeKind::local;
            case DRIVE_NO_ROOT_DIR: return fail(ErrorKind::os_error, os_error_text(ERROR_PATH_NOT_FOUND));
            default:  // DRIVE_REMOTE, and DRIVE_UNKNOWN: nothing says it is local
                return VolumeKind::remote;
        }
    }

    LinkCheck mode_;
    UniqueHandle directory_;
    // The text of where the walk stands, for the directory-entry lookup only.
    Path here_;
    Result<VolumeKind> volume_ = fail(ErrorKind::os_error, os_error_text(ERROR_PATH_NOT_FOUND));
    UniqueHandle looked_at_;
    NativeString looked_at_name_;
    DWORD looked_at_tag_ = 0;
};

}  // namespace

std::string untrusted_link_error_text() { return os_error_text(kUntrustedMountPoint); }

std::unique_ptr<PathCursor> make_handle_cursor(LinkCheck mode) { return std::make_unique<HandleCursor>(mode); }

Result<Located> locate(const Path& path, WalkOptions options, LinkCheck mode) {
    if (mode == LinkCheck::off) return Located{UniqueHandle(), path.native(), false};
    if (path.empty()) return fail(ErrorKind::os_error, os_error_text(ERROR_PATH_NOT_FOUND));
    if (volume_by_text(std::wstring_view(path.native()), PathStyle::windows) == TextVolume::not_local)
        return fail_not_on_a_local_volume();
    // A search pattern would name other files in the directory-entry lookups:
    // "*" and "?", and the DOS wildcards "<", ">" and '"' that the system
    // matches alike. The "?" of a verbatim prefix is none.
    if (has_wildcard(std::wstring_view(path.native()), PathStyle::windows))
        return fail(ErrorKind::os_error, os_error_text(ERROR_INVALID_NAME));
    Result<std::wstring> full = full_path(path);
    if (!full) return std::unexpected(full.error());
    HandleCursor cursor(mode);
    Result<NativeString> walked = walk_trusted_path(cursor, Path(*full), options);
    if (!walked) return std::unexpected(walked.error());
    return Located{cursor.take_directory(), std::move(*walked), mode == LinkCheck::symbolic_links};
}

Result<void> check_trusted_path(const Path& path, WalkOptions options, LinkCheck mode) {
    Result<Located> located = locate(path, options, mode);
    if (!located) return std::unexpected(located.error());
    return {};
}

Opened open_presented(HANDLE looked_at, const FileOpening& how,
                      const std::function<Opened(const FileOpening&)>& open_by_name) {
    // It was there when looked at: a new file of that name is refused as the
    // system refuses a name collision.
    if (how.creation == CREATE_NEW) return std::unexpected(DWORD{ERROR_FILE_EXISTS});
    FileOpening existing = how;
    existing.creation = OPEN_EXISTING;
    // Opened while the name looked at is held open; it must still be that
    // file.
    Opened presented = open_by_name(existing);
    if (!presented) return presented;
    if (!same_file(looked_at, presented->get())) return std::unexpected(DWORD{kUntrustedMountPoint});
    return presented;
}

Opened open_located(const Located& at, const FileOpening& how) {
    if (!at.directory) return open_at(nullptr, at.name, how);
    FileOpening itself = how;
    itself.flags_and_attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
    if ((how.flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0)
        return open_at(at.directory.get(), at.name, itself);

    // Looked at first, with no right to its data: a reparse point that is no
    // link (a cloud placeholder, a deduplicated file) must be opened as the
    // system presents it, never with the caller's rights through
    // FILE_OPEN_REPARSE_POINT.
    const FileOpening look{.flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT};
    const Opened looked_at = open_at(at.directory.get(), at.name, look);
    const std::optional<FILE_ATTRIBUTE_TAG_INFO> seen =
        looked_at ? attributes_of(looked_at->get()) : std::optional<FILE_ATTRIBUTE_TAG_INFO>{};
    if (seen && (seen->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const bool junction_left_to_system =
            at.system_follows_junctions && seen->ReparseTag == IO_REPARSE_TAG_MOUNT_POINT;
        if (is_link(*seen) && !junction_left_to_system) return std::unexpected(DWORD{kUntrustedMountPoint});
        if (junction_left_to_system) return open_at(at.directory.get(), at.name, how);
        return open_presented(looked_at->get(), how, [&](const FileOpening& existing) {
            return open_at(at.directory.get(), at.name, existing);
        });
    }

    // No reparse point when looked at (or nothing there yet): opened without
    // following one, so that a link swapped in since is not passed through.
    Opened opened = open_at(at.directory.get(), at.name, itself);
    if (!opened) return opened;
    const std::optional<FILE_ATTRIBUTE_TAG_INFO> information = attributes_of(opened->get());
    if (!information) return std::unexpected(::GetLastError());
    if ((information->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return std::unexpected(DWORD{kUntrustedMountPoint});
    return opened;
}

}  // namespace velmarch::platform::win32

#pragma once
// The one seam between the updater's logic and the operating system.
//
// Everything above this header is portable. There are three implementations:
// win32/ (the product), posix/ (a stand-in that runs the same logic on Linux)
// and the fake used by unit tests. Every fallible operation returns either
// its value or one complete English sentence (velmarch::Result, text/result.h);
// operating-system failures use the "{} (os error {})" form produced by the
// implementation.
//
// Callers tell failures apart by the error's kind (text/result.h), never by its
// text, which is only reported.
//
// Resources are owned by objects: a File, a SecurityDescriptor or a
// WaitableProcess releases its handle in its destructor, on every path.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path/path.h"
#include "text/result.h"

namespace velmarch::platform {

// Separator of directory lists such as PATH.
#ifdef _WIN32
inline constexpr Path::value_type kPathListSeparator = L';';
#else
inline constexpr Path::value_type kPathListSeparator = ':';
#endif

// What a path names, links followed. `missing` covers every failure of the
// query and a link that was not followed (a name-surrogate reparse point).
enum class FileType { missing, file, directory };

// The text of ErrorKind::not_a_regular_file: what a file operation answers
// when the path names something that exists but is not a regular file (a
// disk file on Windows): a FIFO, a socket, a device, a pipe. Such a thing
// can block its opener or a read or write without end, and what it delivers
// has no fixed length or content, so no operation below reads or writes one.
inline constexpr std::string_view kNotARegularFile = "not a regular file";
inline std::unexpected<Error> fail_not_a_regular_file() {
    return fail(ErrorKind::not_a_regular_file, std::string(kNotARegularFile));
}

// The text of ErrorKind::not_on_local_volume: what every operation on a path
// answers in an elevated run when the path, or the target of a link on it, is
// not on a local volume: a share ("\\server\share\x", "\\?\UNC\...",
// "\??\UNC\..."), a device or object-manager path ("\\.\...",
// "\\?\GLOBALROOT\..."), or a drive whose type is remote (a mapped network
// drive, or a drive substituted for a share). The file server resolves
// junctions on a share itself, beyond the run's own checks and
// RedirectionGuard, and opening a share logs the elevated account on to
// whatever host the path names. Refused before anything on the path is
// opened. The stand-in counts a directory on a network or user-space file
// system (NFS, SMB, 9P, FUSE, ...) as remote. Runs that are not elevated use
// network paths like any program.
inline constexpr std::string_view kNotOnALocalVolume = "not on a local volume";
inline std::unexpected<Error> fail_not_on_a_local_volume() {
    return fail(ErrorKind::not_on_local_volume, std::string(kNotOnALocalVolume));
}

// An open file. The destructor closes it.
class File {
public:
    virtual ~File() = default;
    // Reads up to buffer.size() bytes; 0 means end of file.
    [[nodiscard]] virtual Result<std::size_t> read(std::span<std::byte> buffer) = 0;
    // Writes a prefix of `bytes` and returns its length (possibly fewer bytes).
    [[nodiscard]] virtual Result<std::size_t> write(std::span<const std::byte> bytes) = 0;
    // Forces the written bytes to the storage device.
    [[nodiscard]] virtual Result<void> flush() = 0;
    // The file's length in bytes at this moment.
    [[nodiscard]] virtual Result<std::uint64_t> size() = 0;
};

// A converted security descriptor (the staging access list). The destructor
// frees it.
class SecurityDescriptor {
public:
    virtual ~SecurityDescriptor() = default;
};

enum class DirectoryCreation { created, already_exists };

// An open file that nobody else may write, rename or delete while it is held
// (Windows: a handle that shares reading only; the stand-in: an exclusive
// flock, which every opener that asks for it respects). The destructor lets
// it go.
class FileHold {
public:
    virtual ~FileHold() = default;
};

// What an entry opened for the sweep of earlier runs' staging is, read from
// the open object itself.
enum class HeldKind { directory, regular_file, link, other };
struct HeldFacts {
    HeldKind kind = HeldKind::other;  // link: a symbolic link or any reparse point
    // Owned by Administrators or LocalSystem (the stand-in: root).
    bool trusted_owner = false;
    // Last write, whole seconds since 1970 (0 before that).
    std::uint64_t modified_unix_seconds = 0;
};

// A file taken for deletion: opened without following a link, relative to
// its held directory, so that nobody else may open it for deleting or
// writing meanwhile (Windows: DELETE access, no sharing; the stand-in: an
// exclusive flock, which fails while a run holds the file).
class TakenFile {
public:
    virtual ~TakenFile() = default;
    [[nodiscard]] virtual Result<HeldFacts> facts() = 0;
    // Deletes this very file (Windows: by its handle; the stand-in: its name
    // in the held directory, once that name still leads to this file).
    [[nodiscard]] virtual Result<void> remove() = 0;
};

// A directory opened without following a link at its own name, and every
// entry reached from it relative to it: what is checked is what is deleted.
// Windows: FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS with
// DELETE access (a link is opened as itself and says so in its facts); the
// stand-in: openat(O_DIRECTORY | O_NOFOLLOW), which refuses a link. A held
// entry never outlives the directory it was opened from.
class HeldDirectory {
public:
    virtual ~HeldDirectory() = default;
    [[nodiscard]] virtual Result<HeldFacts> facts() = 0;
    // Whether its access list is exactly `expected`'s (the stand-in: mode
    // 0700, which stands for the staging access list).
    [[nodiscard]] virtual Result<bool> has_access_list(const SecurityDescriptor& expected) = 0;
    // The names of at most `limit` of its entries that begin with `prefix`
    // ("" for every entry), "." and ".." left out. Other names are passed
    // over without counting, so that a folder of many unrelated entries
    // still shows those asked for.
    [[nodiscard]] virtual Result<std::vector<std::string>> names(std::string_view prefix, std::size_t limit) = 0;
    [[nodiscard]] virtual Result<std::unique_ptr<HeldDirectory>> open_directory(std::string_view name) = 0;
    [[nodiscard]] virtual Result<std::unique_ptr<TakenFile>> take_file(std::string_view name) = 0;
    // Deletes this very directory, which must be empty (Windows: by its
    // handle; the stand-in: its name in its parent, once that name still
    // leads to this directory).
    [[nodiscard]] virtual Result<void> remove() = 0;
};

enum class WaitOutcome { exited, timed_out, failed };

// A process opened for waiting only. The destructor closes the handle.
class WaitableProcess {
public:
    virtual ~WaitableProcess() = default;
    [[nodiscard]] virtual WaitOutcome wait(std::uint32_t milliseconds) = 0;
};

// What the launcher hands to process creation: the resolved program file, the
// composed Windows command line (without the terminating NUL) and an optional
// working directory. In an elevated run the program and the working directory
// are reached like the platform's own paths: a link on the way that an
// untrusted owner could have planted refuses the start with the system's
// error. No child is handed a caller-named file to open: what a child writes
// for the caller goes into staging, and the run copies it out itself.
//
// A child inherits no handle or descriptor of the updater's but its standard
// streams (Windows: a handle list of those alone; the stand-in: every other
// descriptor is closed on exec).
struct LaunchRequest {
    Path application;
    std::u16string command_line;
    std::optional<Path> working_directory;
};

class Platform {
public:
    virtual ~Platform() = default;

    // The process's arguments after the program name, as UTF-8. Fails when an
    // argument is not valid Unicode text.
    [[nodiscard]] virtual Result<std::vector<std::string>> arguments() = 0;
    virtual void write_standard_error(std::string_view text) = 0;

    // An absent variable is std::nullopt; a present empty one is "".
    [[nodiscard]] virtual std::optional<NativeString> environment_variable(std::string_view name) = 0;
    // Whole seconds since 1970-01-01 UTC, 0 for a clock before that.
    [[nodiscard]] virtual std::uint64_t unix_time_seconds() = 0;
    [[nodiscard]] virtual std::uint32_t current_process_id() = 0;
    // The absolute directory a relative `path` is read from: the process's
    // working directory; on Windows, for a drive-relative path ("D:name"),
    // the current directory of that drive.
    [[nodiscard]] virtual Result<Path> working_directory_for(const Path& path) = 0;
    virtual void random_bytes(std::span<std::byte> out) = 0;
    // Blocks the calling thread for about `milliseconds` (the run's pauses
    // before trying something again). The fake records the request and
    // returns at once, so no test ever sleeps.
    virtual void sleep_milliseconds(std::uint32_t milliseconds) = 0;

    // --- files and directories -------------------------------------------
    [[nodiscard]] virtual FileType file_type(const Path& path) = 0;
    // Any kind of entry exists at the path (used by the program search).
    [[nodiscard]] virtual bool exists(const Path& path) = 0;
    // Every operation that opens a caller-named file opens it without waiting
    // for another party (a FIFO's other end; the stand-in: a lease) and
    // refuses what it opened, before any byte is read or written, unless it is
    // a regular file: ErrorKind::not_a_regular_file, or the system's error
    // when the open itself was refused.
    //
    // Opens an existing file for reading, shared for reading, writing and
    // deletion. A directory is refused with the system's error.
    [[nodiscard]] virtual Result<std::unique_ptr<File>> open_for_reading(const Path& path) = 0;
    // Creates a new file for writing only; fails when the name exists, a link
    // of that name included. Until it is closed, the sweep of earlier runs'
    // staging cannot take it (HeldDirectory::take_file fails): on Windows the
    // open write handle refuses the sweep's unshared open; the stand-in takes
    // an exclusive flock before anything is written.
    [[nodiscard]] virtual Result<std::unique_ptr<File>> create_new_file(const Path& path) = 0;
    // Creates the file or cuts it to length zero, writes all of `bytes`, closes.
    [[nodiscard]] virtual Result<void> write_file(const Path& path, std::span<const std::byte> bytes) = 0;
    // Opens for appending (creating it when missing) with full sharing, writes
    // all of `bytes`, closes.
    [[nodiscard]] virtual Result<void> append_to_file(const Path& path, std::span<const std::byte> bytes) = 0;
    // A deletion that fails because another program has the file or
    // directory open in a way that forbids it for now, as a virus scanner or
    // the search indexer does for a moment, fails with ErrorKind::held:
    // trying again shortly may succeed. Windows: sharing violation (32), lock
    // violation (33) and access denied (5), which is also what a file pending
    // deletion answers. The stand-in: EBUSY and ETXTBSY, its "in use" errors;
    // EACCES and EPERM are a lasting refusal there (ErrorKind::os_error),
    // never the passing state of another program.
    [[nodiscard]] virtual Result<void> delete_file(const Path& path) = 0;
    // Creates the directory and every missing one above it.
    [[nodiscard]] virtual Result<void> create_directories(const Path& path) = 0;
    // Fails like delete_file.
    [[nodiscard]] virtual Result<void> remove_directory_tree(const Path& path) = 0;
    // Bytes the running account may still write on the volume that holds
    // `directory` (Windows: GetDiskFreeSpaceExW; the stand-in: statvfs's
    // f_bavail * f_frsize).
    [[nodiscard]] virtual Result<std::uint64_t> free_bytes(const Path& directory) = 0;

    // --- staging ------------------------------------------------------------
    [[nodiscard]] virtual Result<std::unique_ptr<SecurityDescriptor>> create_security_descriptor(
        std::string_view sddl) = 0;
    [[nodiscard]] virtual Result<DirectoryCreation> create_directory(const Path& path,
                                                                     const SecurityDescriptor& security) = 0;
    // Holds an existing regular file (a link at its name is not followed)
    // until the hold is destroyed; see FileHold.
    [[nodiscard]] virtual Result<std::unique_ptr<FileHold>> hold_file(const Path& path) = 0;
    // Opens a directory for the sweep of earlier runs' staging. The path is
    // reached like every other path of the platform; see HeldDirectory for
    // what is reached from it.
    [[nodiscard]] virtual Result<std::unique_ptr<HeldDirectory>> open_held_directory(const Path& path) = 0;
    // Whether the run is elevated (Windows: an elevated token; the stand-in:
    // root).
    [[nodiscard]] virtual bool elevated() = 0;

    // --- processes ----------------------------------------------------------
    // nullptr when the process cannot be opened, for whatever reason.
    [[nodiscard]] virtual std::unique_ptr<WaitableProcess> open_process_for_wait(std::uint32_t process_id) = 0;
    // Starts the program and waits without limit; returns its exit code.
    [[nodiscard]] virtual Result<std::int32_t> run_and_wait(const LaunchRequest& launch) = 0;
    // Starts the program and returns its process id at once.
    [[nodiscard]] virtual Result<std::uint32_t> start_detached(const LaunchRequest& launch) = 0;

    // Places searched for a bare program name; nullopt when unknown.
    [[nodiscard]] virtual std::optional<Path> system_directory() = 0;
    [[nodiscard]] virtual std::optional<Path> windows_directory() = 0;
};

// The implementation this build runs on (win32 or the POSIX stand-in), given
// main's arguments (the Windows implementation reads GetCommandLineW instead).
// On Windows it also hardens the process (DLL search limited to System32;
// for an elevated run, RedirectionGuard where the system has it) before
// anything else is loaded or any file is touched.
//
// Elevated runs (Windows: an elevated token; the stand-in: root) never follow
// a link, anywhere in a path, that is not owned by a trusted owner
// (Administrators, LocalSystem or TrustedInstaller; root on the stand-in); the
// operation then fails with the system's error for it. They refuse every path
// and link target that is not on a local volume (kNotOnALocalVolume). Other
// runs follow links and use network paths like any program.
[[nodiscard]] std::unique_ptr<Platform> make_native_platform(int argc, char** argv);

}  // namespace velmarch::platform

#pragma once
// A platform for unit tests: an in-memory file system, scripted processes,
// and a way to make any operation fail at any of its calls. It counts every
// handle it hands out and every one that is released.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/machine_layout.h"

namespace velmarch::testing {

enum class Op {
    arguments,
    working_directory_for,
    file_type,
    exists,
    open_for_reading,
    create_new_file,
    read,
    write,
    flush,
    write_file,
    append_to_file,
    delete_file,
    create_directories,
    remove_directory_tree,
    create_security_descriptor,
    create_directory,
    open_process_for_wait,
    wait,
    run_and_wait,
    start_detached,
    // An elevated run's volume query, made for every path an operation is
    // given (see FakePlatform::is_elevated).
    volume,
    free_bytes,
    hold_file,
    open_held_directory,
    held_facts,  // HeldDirectory::facts and TakenFile::facts
    held_access_list,
    held_names,
    held_open_directory,
    take_file,
    held_remove,  // HeldDirectory::remove and TakenFile::remove
};
const char* op_name(Op op);

// One call of an operation, named by what the run does with it rather than by
// its place among all calls: `subject` is what the call acts on (as
// FakePlatform::subject_name names it), `nth` counts the calls of `op` on that
// subject, from 1. An elevated run's volume query is its call's site with
// `volume_of` naming the path asked about; empty, the site is the call itself.
// A call added to the run changes no other call's site but those of later
// calls of the same operation on the same subject.
struct CallSite {
    CallSite(Op called, std::string acted_on = {}, int number = 1, std::string volume_query_of = {})
        : op(called), subject(std::move(acted_on)), nth(number), volume_of(std::move(volume_query_of)) {}
    Op op;
    std::string subject;
    int nth;
    std::string volume_of;
    auto operator<=>(const CallSite&) const = default;
};
// "read of download #2", "file_type of download #1, volume of download".
std::string site_name(const CallSite& site);

// Windows-style OS error text, as the real platform would produce it.
std::string fake_os_error(std::int32_t code);

// What the fake's own helpers take: a path, or test text in UTF-8 as it
// stands ("/Logs/result.json").
struct FakePath {
    FakePath(const platform::Path& given) : path(given) {}
    FakePath(const char* utf8) : path(platform::path_from_utf8(utf8)) {}
    FakePath(const std::string& utf8) : path(platform::path_from_utf8(utf8)) {}
    platform::Path path;
};

class FakePlatform : public platform::Platform {
public:
    using Path = platform::Path;
    using Bytes = std::vector<std::byte>;

    FakePlatform();
    ~FakePlatform() override;

    // --- set-up -------------------------------------------------------------
    void add_directory(const FakePath& path);  // with every parent
    void add_file(const FakePath& path, std::string_view content);
    void add_file(const FakePath& path, Bytes content);
    // A symbolic link at `path` to `target` (which need not exist). Queries
    // and opens follow it; creation, deletion and tree removal do not.
    void add_link(const FakePath& path, const FakePath& target);
    // Something that exists but is no regular file (a FIFO, a device, a
    // pipe): the type query calls it a file, every open refuses it.
    void add_special(const FakePath& path);
    bool has_file(const FakePath& path) const;
    bool has_directory(const FakePath& path) const;
    std::string file_text(const FakePath& path) const;
    // Every file and directory at or below `path`.
    std::vector<Path> entries_below(const FakePath& path) const;

    // The `nth` call (1-based) of `op` fails with `message` of `kind`;
    // nth == 0 makes every call fail. ErrorKind::held marks a deletion's
    // failure as one another program causes for a moment.
    void fail(Op op, std::string message, int nth = 0, ErrorKind kind = ErrorKind::os_error);
    // Called at the start of every operation, before any failure is decided.
    std::function<void(Op, int call_number)> before_call;
    int calls(Op op) const;

    // The call at `site` fails with `message` of `kind` (its volume query,
    // when the site names one).
    void fail_at(CallSite site, std::string message, ErrorKind kind = ErrorKind::os_error);
    // What a call acts on, in the words of a site: given the key of its path
    // ("/Logs/helper.log"; "process 77" for a process, "" for none) and, for
    // writes, the bytes written. Unset, the key itself.
    std::function<std::string(const std::string& key, std::string_view written)> subject_name;
    // Called for every site, volume queries included, before any failure is
    // decided.
    std::function<void(const CallSite&)> before_site;
    // Every site of the run so far, in order.
    std::vector<CallSite> sites;

    // --- state a test sets or reads -----------------------------------------
    std::vector<std::string> args;
    std::map<std::string, platform::NativeString> environment;
    // Sets an environment variable from UTF-8 text.
    void set_environment(const std::string& name, std::string_view utf8);
    std::uint64_t now = 1796605200;
    std::uint32_t process_id = 5120;
    // What working_directory_for answers; drive-relative paths ("D:x") get
    // the entry for their drive letter, when there is one.
    Path working_directory = test_path("/Work");
    std::map<char, Path> drive_directories;
    std::uint8_t next_random = 0;  // random bytes count up from here
    std::size_t max_read_chunk = SIZE_MAX;
    std::size_t max_write_chunk = SIZE_MAX;
    bool write_accepts_nothing = false;
    std::string standard_error;

    // Answers of create_directory, used in order before the file system is
    // consulted (for example sixteen `already_exists`).
    std::vector<Result<platform::DirectoryCreation>> directory_answers;
    std::vector<Path> directory_attempts;

    std::set<std::uint32_t> running_processes;
    platform::WaitOutcome wait_outcome = platform::WaitOutcome::exited;
    std::vector<std::uint32_t> wait_limits;
    // Every sleep_milliseconds request, in order; `now` advances by each one
    // (rounded up to whole seconds) so that log lines show the time passing.
    std::vector<std::uint32_t> sleeps;

    // Called for run_and_wait; the default exits with 0.
    std::function<Result<std::int32_t>(const platform::LaunchRequest&)> on_run;
    std::vector<platform::LaunchRequest> runs;
    std::vector<platform::LaunchRequest> detached;
    std::uint32_t next_detached_id = 7000;

    // What free_bytes answers for every volume.
    std::uint64_t free_space = std::uint64_t{1} << 40;
    std::vector<Path> free_space_queries;
    // An elevated run (what elevated() answers): the sweep of earlier runs'
    // staging is made, and every operation on a path first asks for the
    // volume of each path it was given (Op::volume, a failure of which
    // refuses the path with its message), and refuses with
    // kNotOnALocalVolume a path that is a share or device by its text, or
    // that lies, or whose final link leads, at or below one of
    // `remote_volumes` (a mapped network drive; a network mount on the
    // stand-in). A run that is not elevated asks nothing and uses every path.
    bool is_elevated = true;
    std::vector<Path> remote_volumes;
    // Entries that the sweep's facts call untrusted owners' or without the
    // staging access list, and last-write times (0, long ago, when absent).
    std::set<std::string> untrusted_owned;
    std::set<std::string> foreign_access_lists;
    std::map<std::string, std::uint64_t> modified;
    void set_untrusted_owner(const FakePath& path);
    void set_foreign_access_list(const FakePath& path);
    void set_modified(const FakePath& path, std::uint64_t unix_seconds);
    // Files under a FileHold or taken by the sweep: taking one fails, and
    // deleting one fails as held, with a sharing violation.
    std::set<std::string> held_files;
    bool is_held(const FakePath& path) const;
    // Files open from create_new_file: neither taken by the sweep nor held
    // until closed, as the Windows write handle and the stand-in's flock
    // refuse; deleting one is not refused.
    std::multiset<std::string> files_being_created;
    // Entries the sweep deleted, in order.
    std::vector<Path> swept;

    std::optional<Path> system_dir;
    std::optional<Path> windows_dir;

    // Resource accounting.
    int files_opened = 0;
    int files_closed = 0;
    int descriptors_created = 0;
    int descriptors_freed = 0;
    int processes_opened = 0;
    int processes_closed = 0;
    int held_opened = 0;  // holds, held directories and taken files
    int held_closed = 0;

    // --- Platform -------------------------------------------------------------
    Result<std::vector<std::string>> arguments() override;
    void write_standard_error(std::string_view text) override;
    std::optional<platform::NativeString> environment_variable(std::string_view name) override;
    std::uint64_t unix_time_seconds() override;
    std::uint32_t current_process_id() override;
    Result<Path> working_directory_for(const Path& path) override;
    void random_bytes(std::span<std::byte> out) override;
    void sleep_milliseconds(std::uint32_t milliseconds) override;
    platform::FileType file_type(const Path& path) override;
    bool exists(const Path& path) override;
    Result<std::unique_ptr<platform::File>> open_for_reading(const Path& path) override;
    Result<std::unique_ptr<platform::File>> create_new_file(const Path& path) override;
    Result<void> write_file(const Path& path, std::span<const std::byte> bytes) override;
    Result<void> append_to_file(const Path& path, std::span<const std::byte> bytes) override;
    Result<void> delete_file(const Path& path) override;
    Result<void> create_directories(const Path& path) override;
    Result<void> remove_directory_tree(const Path& path) override;
    Result<std::uint64_t> free_bytes(const Path& directory) override;
    Result<std::unique_ptr<platform::SecurityDescriptor>> create_security_descriptor(std::string_view sddl) override;
    Result<platform::DirectoryCreation> create_directory(const Path& path,
                                                         const platform::SecurityDescriptor& security) override;
    Result<std::unique_ptr<platform::FileHold>> hold_file(const Path& path) override;
    Result<std::unique_ptr<platform::HeldDirectory>> open_held_directory(const Path& path) override;
    bool elevated() override;
    std::unique_ptr<platform::WaitableProcess> open_process_for_wait(std::uint32_t process_id) override;
    Result<std::int32_t> run_and_wait(const platform::LaunchRequest& launch) override;
    Result<std::uint32_t> start_detached(const platform::LaunchRequest& launch) override;
    std::optional<Path> system_directory() override;
    std::optional<Path> windows_directory() override;

    // Used by the handle objects: the failure injected for this call, if any.
    // `key` names what the call acts on (see subject_name).
    std::optional<Error> enter(Op op, const std::string& key = {}, std::string_view written = {});
    // The same for a call whose subject is named already.
    std::optional<Error> enter_as(Op op, std::string subject);
    // The call being made (the opening of a file, for its handle).
    const CallSite& current_site() const { return current_site_; }
    std::map<std::string, Bytes> files_;
    std::set<std::string> directories_;
    std::map<std::string, std::string> links_;  // link -> target
    std::set<std::string> specials_;

private:
    std::optional<Error> launch_refusal(const platform::LaunchRequest& launch) const;
    // Why an elevated run refuses `path`, after its volume query.
    std::optional<Error> volume_refusal(const Path& path);
    std::optional<Error> launch_volume_refusal(const platform::LaunchRequest& launch);

    struct Failure {
        Error error;
        int nth;
    };
    std::multimap<Op, Failure> failures_;
    std::map<Op, int> calls_;
    std::map<CallSite, Error> site_failures_;
    std::map<std::pair<Op, std::string>, int> site_calls_;
    CallSite current_site_{Op::arguments};  // the call being made
    // Counts the call of `op` and answers its injected failure by number.
    std::optional<Error> enter_numbered(Op op);
    // Records `site` and answers its injected failure.
    std::optional<Error> enter_site(const CallSite& site);
};

}  // namespace velmarch::testing

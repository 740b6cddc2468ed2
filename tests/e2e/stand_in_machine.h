#pragma once
// A throw-away machine for running the built updater over the POSIX stand-in.
//
// In a fresh temporary directory it lays out the test machine of
// support/machine_layout.h, with small /bin/sh programs standing in for
// Windows Installer, the shell and the installed application, a signed
// package in Downloads, and one directory more:
//
//   <root>/records/                           what the stand-ins saw
//
// <d> is an optional decoration added to every directory name, so that one
// test can run the whole update through paths with blanks and non-ASCII
// characters.
//
// Every stand-in appends one record per invocation to records/<name>.record:
// its process id, its physical working directory, its arguments one per line
// and, for the installer, what it found at the path after "/i". The installer
// and the application exit with the code a test puts into records/<name>.exit.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/expected_texts.h"
#include "run/update_request.h"
#include "support/case_name.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"

namespace velmarch::e2e {

namespace fs = std::filesystem;
using testing::fs_path;
using testing::to_path;

// What the stand-in installer writes to the file its /L*v option names (see
// kInstallerWritesItsLog): UTF-16 with a byte-order mark, as Windows
// Installer writes it.
inline constexpr char kStandInInstallerLogBytes[] =
    "\xFF\xFE=\0=\0=\0 \0V\0e\0r\0b\0o\0s\0e\0 \0l\0o\0g\0 \0=\0=\0=\0\r\0\n\0";
inline constexpr std::string_view kStandInInstallerLog{kStandInInstallerLogBytes, sizeof kStandInInstallerLogBytes - 1};

// One start of a stand-in program, as it recorded itself.
struct Invocation {
    std::uint32_t process_id = 0;
    std::string working_directory;
    std::vector<std::string> arguments;
    // Extra observations ("digest", "staging-mode", "staged-mode", "watched",
    // "log": the installer's /L*v path).
    std::map<std::string, std::string> facts;
};

// A finished updater process.
struct UpdaterRun {
    pid_t process_id = 0;
    int exit_status = -1;  // what Linux keeps of the exit code: its low 8 bits
    std::string standard_output;
    std::string standard_error;
    std::uint64_t started_at = 0;  // Unix seconds around the run
    std::uint64_t ended_at = 0;
};

// A started updater process. Tests that need to act while the updater runs
// (for example, rewriting the downloaded package while staging copies it,
// which needs a package big enough for the copy to take a while) start it,
// act, and then wait. The destructor kills and reaps a process nobody waited
// for.
class RunningUpdater {
public:
    RunningUpdater(pid_t process_id, fs::path output_directory, std::uint64_t started_at);
    RunningUpdater(RunningUpdater&& other) noexcept;
    RunningUpdater& operator=(RunningUpdater&&) = delete;
    ~RunningUpdater();

    pid_t process_id() const { return process_id_; }
    // Waits for the updater to end; fails the test and kills it after 30 s.
    UpdaterRun wait();

private:
    pid_t process_id_;
    fs::path output_directory_;
    std::uint64_t started_at_;
};

// A child process the test owns, for the updater to wait for. Killed and
// reaped on destruction.
class OwnedChild {
public:
    explicit OwnedChild(std::vector<std::string> command);
    OwnedChild(const OwnedChild&) = delete;
    OwnedChild& operator=(const OwnedChild&) = delete;
    ~OwnedChild();
    pid_t process_id() const { return process_id_; }

private:
    pid_t process_id_ = -1;
};

// A process id that names no process on this machine.
std::uint32_t unused_process_id();

std::optional<std::string> read_text(const fs::path& path);
void write_text(const fs::path& path, std::string_view content);
inline std::optional<std::string> read_text(const platform::Path& path) { return read_text(fs_path(path)); }
inline void write_text(const platform::Path& path, std::string_view content) { write_text(fs_path(path), content); }

class StandInMachine {
public:
    // `decoration` is appended to the name of every directory of the layout.
    explicit StandInMachine(std::string_view decoration = "");
    StandInMachine(const StandInMachine&) = delete;
    StandInMachine& operator=(const StandInMachine&) = delete;

    const fs::path& root() const { return root_; }
    const fs::path& system_root() const { return system_root_; }
    fs::path temp_directory() const { return system_root_ / "Temp"; }
    fs::path installer_path() const { return system_root_ / "System32" / "msiexec.exe"; }
    fs::path shell_path() const { return system_root_ / "explorer.exe"; }
    const fs::path& records() const { return records_; }

    // The request the next run is started with; every path in it points into
    // the layout, and the package fields match the package written last.
    run::UpdateRequest request;
    // The updater's whole environment. SystemRoot and PATH are set by default;
    // the sanitizer options of the test process are passed on.
    std::map<std::string, std::string> environment;
    // The updater's working directory; the test's own when unset.
    std::optional<fs::path> working_directory;

    // Replaces the downloaded package with `content` and signs it for
    // `version` (digest, signature, key id and algorithm of `request`). The
    // stand-in installer expects these bytes at the path after "/i".
    void write_package(std::string_view content, std::string_view version = "2.4.0");
    const std::string& package_content() const { return package_content_; }

    // Exit codes of the next installer and application runs (0 by default);
    // `kill_installer_with_signal` makes the installer kill itself instead.
    void set_installer_exit_code(int code);
    void kill_installer_with_signal(int signal);
    void set_application_exit_code(int code);
    // The installer records whether this process was still running.
    void watch_process(pid_t process_id);
    // The next installer waits, before it writes its log, until
    // `release_installer`; `wait_until_installer_holds` waits (up to 10 s)
    // for it to have started.
    void hold_installer();
    bool wait_until_installer_holds() const;
    void release_installer();

    // Writes a stand-in program: records its invocation, then runs `tail`.
    void write_stand_in(const fs::path& path, std::string_view name, std::string_view tail = "exit 0") const;

    // The command line of `request`, as the application would pass it.
    std::vector<std::string> arguments() const;

    RunningUpdater start(const std::vector<std::string>& arguments) const;
    UpdaterRun run(const std::vector<std::string>& arguments) const;
    UpdaterRun run() const { return run(arguments()); }

    // Every recorded start of "msiexec", "application" or "explorer".
    std::vector<Invocation> invocations(std::string_view name) const;
    // Waits (up to 10 s) for the shell, which the updater does not wait for,
    // to record its start; nullopt when it never does.
    std::optional<Invocation> wait_for_restart() const;

    // The helper log's messages, in order; fails the test when a line is not
    // "[<seconds>] <message>" with seconds within the run.
    std::vector<std::string> helper_log_messages(const UpdaterRun& run) const;

    // Entries of the protected temporary directory.
    std::vector<fs::path> temp_entries() const;
    // Its modification time is set far into the past, so that any creation
    // or removal of an entry shows as a change.
    bool temp_directory_untouched() const;

private:
    testing::ScratchFolder folder_{"velmarch-e2e-"};
    fs::path root_;
    fs::path system_root_;
    fs::path records_;
    std::string package_content_;
};

// Base fixture: a machine with a signed package; after each test, checks what
// must hold for every run: the installer never received other bytes than the
// signed package, and no staging directory outlives the run.
class StandInTest : public ::testing::Test {
protected:
    explicit StandInTest(std::string_view decoration = "") : machine(decoration) {}
    void TearDown() override;

    StandInMachine machine;
};

// A run played elevated: root, beside a folder only root may change. Skipped
// when the tests do not run as root.
class ElevatedStandInTest : public StandInTest {
protected:
    void SetUp() override;

    fs::path protected_dir;
};

template <class Param>
class StandInParamTest : public StandInTest, public ::testing::WithParamInterface<Param> {
protected:
    explicit StandInParamTest(std::string_view decoration = "") : StandInTest(decoration) {}
};

// Whether the file at `path` holds exactly `content` (without printing
// megabytes of package bytes when it does not).
::testing::AssertionResult holds(const fs::path& path, std::string_view content);
inline ::testing::AssertionResult holds(const platform::Path& path, std::string_view content) {
    return holds(fs_path(path), content);
}

// Parameterised tests are named after their case's `name` field and print
// cases by that name.
using testing::CaseName;
using testing::PrintTo;

// The result file's exact text; the texts given need no JSON escaping.
std::string expected_result(std::string_view status, std::int32_t exit_code, std::string_view message,
                            std::string_view version = "2.4.0");

// The helper-log message of a restart through `shell` that started `process_id`.
std::string restart_line(const fs::path& shell, std::uint32_t process_id);

}  // namespace velmarch::e2e

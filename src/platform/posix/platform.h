#pragma once
// The POSIX stand-in for the Windows operations, so that the updater's logic
// runs unchanged on Linux. Where Windows has a concept Linux lacks, the
// stand-in is the nearest equivalent: mode 0700 for the administrator-only
// access list, a pidfd for a process handle, a fork and exec of the program
// with the composed command line split back by the C runtime's rules, and a
// process run by root for an elevated one.
//
// win32/ and posix/ name their files alike, so that one side's counterpart of
// any function is found by name:
//     platform.cpp   make_native_platform and the constructor
//     system.cpp     arguments, standard error, environment, clock, process
//                    id, whether the run is elevated, random bytes, the
//                    system and Windows directories
//     files.cpp      file and directory operations
//     file.{h,cpp}   the open File
//     regular_file.* caller-named files are regular ones or nothing
//     free_space.cpp free_bytes, the free space on a directory's volume
//     staging.cpp    the security descriptor and create_directory
//     sweep.cpp      held files and directories (the sweep of earlier runs'
//                    staging and what it respects)
//     processes.cpp  open_process_for_wait, run_and_wait, start_detached
//     owners.h       owners of the system's resources
//     os_error.*     the "{} (os error {})" text
//     trusted_path.* the elevated run's link check
//
// Stand-in only: open_at.h (an open relative to a directory descriptor).

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace velmarch::platform::posix {

// Runs between the check of a caller-named entry and its use, with the
// entry's final name: the window a user racing the run has. Tests set one to
// change the file system there; a run has none.
using RaceWindow = std::function<void(std::string_view name)>;

inline void open_race_window(const RaceWindow& window, std::string_view name) {
    if (window) window(name);
}

class PosixPlatform final : public Platform {
public:
    // `arguments` are main's argv[1..], taken as they are. `guard_links`: the
    // run is the stand-in's elevated one (root), so a link on a path is
    // followed only when root owns it. `race_window`: tests only.
    PosixPlatform(std::vector<std::string> arguments, bool guard_links, RaceWindow race_window = {});

    Result<std::vector<std::string>> arguments() override;
    void write_standard_error(std::string_view text) override;

    std::optional<NativeString> environment_variable(std::string_view name) override;
    std::uint64_t unix_time_seconds() override;
    std::uint32_t current_process_id() override;
    Result<Path> working_directory_for(const Path& path) override;
    void random_bytes(std::span<std::byte> out) override;
    void sleep_milliseconds(std::uint32_t milliseconds) override;

    FileType file_type(const Path& path) override;
    bool exists(const Path& path) override;
    Result<std::unique_ptr<File>> open_for_reading(const Path& path) override;
    Result<std::unique_ptr<File>> create_new_file(const Path& path) override;
    Result<void> write_file(const Path& path, std::span<const std::byte> bytes) override;
    Result<void> append_to_file(const Path& path, std::span<const std::byte> bytes) override;
    Result<void> delete_file(const Path& path) override;
    Result<void> create_directories(const Path& path) override;
    Result<void> remove_directory_tree(const Path& path) override;
    Result<std::uint64_t> free_bytes(const Path& directory) override;

    Result<std::unique_ptr<SecurityDescriptor>> create_security_descriptor(std::string_view sddl) override;
    Result<DirectoryCreation> create_directory(const Path& path, const SecurityDescriptor& security) override;
    Result<std::unique_ptr<FileHold>> hold_file(const Path& path) override;
    Result<std::unique_ptr<HeldDirectory>> open_held_directory(const Path& path) override;
    bool elevated() override;

    std::unique_ptr<WaitableProcess> open_process_for_wait(std::uint32_t process_id) override;
    Result<std::int32_t> run_and_wait(const LaunchRequest& launch) override;
    Result<std::uint32_t> start_detached(const LaunchRequest& launch) override;

    std::optional<Path> system_directory() override;
    std::optional<Path> windows_directory() override;

private:
    std::vector<std::string> arguments_;
    bool guard_links_;
    RaceWindow race_window_;
};

}  // namespace velmarch::platform::posix

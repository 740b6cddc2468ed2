#pragma once
// The product's implementation of the platform seam, over the Win32 API.
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
//     trusted_path.* the elevated run's walk, holding directory handles
//     nt_file.*      opens relative to a held directory (NtCreateFile)
//
// Windows only: windows_api.h (the one include of the Windows headers),
// wide_text.h, security_descriptor.h, redirection_guard.*, full_path_name.*
// (the system's full path of a text).

#include "platform/platform.h"
#include "platform/rules/trusted_walk.h"
#include "platform/win32/owners.h"
#include "platform/win32/trusted_path.h"

namespace velmarch::platform::win32 {

class Win32Platform final : public Platform {
public:
    // `link_check`: which links on a path are checked before use (none for
    // a run without elevation; see trusted_path.h).
    explicit Win32Platform(LinkCheck link_check);

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
    // The path passes the link check (always, when it is off).
    [[nodiscard]] Result<void> check_links(const Path& path, WalkOptions options = {}) const;
    // Where the path leads, as open_located (trusted_path.h) takes it.
    [[nodiscard]] Result<Located> locate_path(const Path& path, WalkOptions options = {}) const;
    [[nodiscard]] Result<void> check_launch(const LaunchRequest& launch) const;
    // What write_file and append_to_file share: the file at `path` (a report:
    // helper log, result, installer log copy) opened or created with the
    // reports' security, then written from the start or at its end.
    enum class ReportWrite { replace, append };
    [[nodiscard]] Result<void> write_report_file(const Path& path, std::span<const std::byte> bytes,
                                                 ReportWrite how) const;

    LinkCheck link_check_;

    using ProcessPrngFunction = BOOL(WINAPI*)(PBYTE data, SIZE_T size);

    // bcryptprimitives.dll, when the system has it (Windows 10 and later).
    UniqueModule prng_module_;
    ProcessPrngFunction process_prng_ = nullptr;
};

}  // namespace velmarch::platform::win32

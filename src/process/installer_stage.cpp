#include "process/installer_stage.h"

#include <string_view>

#include "platform/paths.h"
#include "process/installer_outcome.h"
#include "process/run_ending.h"
#include "process/version_check.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

constexpr std::string_view kInstallerName = "msiexec.exe";
constexpr std::string_view kInstallerNotFound = "Windows Installer was not found.";
constexpr std::string_view kStartingInstaller = "Starting Windows Installer.";
constexpr std::string_view kInstallerNotStarted = "Windows Installer could not be started: {}";

}  // namespace

Result<platform::Path> locate_windows_installer(platform::Platform& platform) {
    const platform::Path bare_name(platform::native_from_ascii(kInstallerName));
    platform::Path candidate = bare_name;
    // The system's own Windows directory, never the inherited SystemRoot: an
    // elevated run inherits the environment of the user who started it.
    if (auto windows = platform.windows_directory())
        candidate = platform::join_path(platform::join_path(*windows, "System32"), kInstallerName);
    if (candidate == bare_name || platform.file_type(candidate) == platform::FileType::file) return candidate;
    return std::unexpected(std::string(kInstallerNotFound));
}

InstallerInputs installer_inputs(const update::UpdateRequest& request) {
    return {request.install_dir, request.app_path, request.msi_log_path, request.expected_version,
            request.repair_mode};
}

StageOutcome run_installer_stage(platform::Platform& platform, const InstallerInputs& inputs,
                                 const platform::Path& staged_package, update::Reporter& reporter) {
    auto installer = locate_windows_installer(platform);
    if (!installer) {
        return StageFinished{finish_run(platform, reporter, installer.error(),
                                        failure_around_installer(installer.error()), inputs.app_path,
                                        inputs.install_dir)};
    }

    reporter.append_log_line(kStartingInstaller);

    auto command = build_installer_command(inputs, staged_package, *installer);
    if (!command) return update::abort_run(command.error());

    auto exit_code = run_and_wait(platform, command->program, command->arguments, std::nullopt,
                                  SearchPlaces::system_only, inputs.msi_log_path);
    if (!exit_code) return update::abort_run(text::format(kInstallerNotStarted, exit_code.error()));

    reporter.append_log_line(installer_exit_message(*exit_code));

    InstallerOutcome outcome = map_installer_exit_code(*exit_code, inputs.expected_version);
    std::string failed_check;
    if (outcome.verify_version) {
        auto confirmed = verify_installed_version(platform, inputs.app_path, inputs.install_dir,
                                                  inputs.expected_version);
        if (!confirmed) {
            failed_check = confirmed.error();
            outcome = outcome_after_failed_version_check(confirmed.error());
        }
    }
    return StageFinished{finish_run(platform, reporter, failed_check, outcome, inputs.app_path, inputs.install_dir)};
}

}  // namespace velmarch::process

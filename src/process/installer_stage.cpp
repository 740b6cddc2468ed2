#include "process/installer_stage.h"

#include <string_view>
#include <utility>

#include "platform/path/path.h"
#include "process/installer_log_delivery.h"
#include "process/installer_outcome.h"
#include "process/launcher.h"
#include "process/version_check.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

constexpr std::string_view kInstallerName = "msiexec.exe";
constexpr std::string_view kInstallerNotFound = "Windows Installer was not found.";
constexpr std::string_view kStartingInstaller = "Starting Windows Installer.";
constexpr std::string_view kInstallerNotStarted = "Windows Installer could not be started: {}";
constexpr std::string_view kInstallerBusy =
    "Windows Installer is busy with another installation; trying again in {} seconds.";
constexpr std::uint32_t kMillisecondsPerSecond = 1000;

// Runs Windows Installer, again while it answers that it is busy, and
// delivers each run's log. Returns the last run's exit code.
[[nodiscard]] Result<std::int32_t> run_windows_installer(platform::Platform& platform, const InstallerCommand& command,
                                                         const InstallerInputs& inputs, const StagedInstall& staged,
                                                         update::Reporter& reporter) {
    for (int run = 1;; ++run) {
        auto exit_code =
            run_and_wait(platform, command.program, command.arguments, std::nullopt, SearchPlaces::system_only);
        if (!exit_code) return exit_code;
        reporter.append_log_line(installer_exit_message(*exit_code));
        deliver_installer_log(platform, staged.installer_log, inputs.msi_log_path,
                              run == 1 ? LogDelivery::replace : LogDelivery::append);
        if (*exit_code != kInstallerBusyExitCode || run == kInstallerRuns) return exit_code;
        // A run that ends before it writes a log must not hand on this one again.
        (void)platform.delete_file(staged.installer_log);
        const std::uint32_t pause = kInstallerBusyPauseSeconds[run - 1];
        reporter.append_log_line(text::format(kInstallerBusy, pause));
        platform.sleep_milliseconds(pause * kMillisecondsPerSecond);
    }
}

}  // namespace

Result<platform::Path> locate_windows_installer(platform::Platform& platform) {
    const platform::Path bare_name(platform::native_from_ascii(kInstallerName));
    platform::Path candidate = bare_name;
    // The system's own Windows directory, never the inherited SystemRoot: an
    // elevated run inherits the environment of the user who started it.
    if (auto windows = platform.windows_directory())
        candidate = *windows / platform::path_from_utf8("System32") / platform::path_from_utf8(kInstallerName);
    if (candidate == bare_name || platform.file_type(candidate) == platform::FileType::file) return candidate;
    return fail(ErrorKind::general, std::string(kInstallerNotFound));
}

StageOutcome run_installer_stage(platform::Platform& platform, const InstallerInputs& inputs,
                                 const StagedInstall& staged, update::Reporter& reporter) {
    auto installer = locate_windows_installer(platform);
    if (!installer)
        return StageFinished{installer.error().text, update::failure_around_installer(installer.error().text)};

    reporter.append_log_line(kStartingInstaller);

    auto command = build_installer_command(inputs, staged, *installer);
    if (!command) return update::abort_run(command.error().text);

    auto exit_code = run_windows_installer(platform, *command, inputs, staged, reporter);
    if (!exit_code) return update::abort_run(text::format(kInstallerNotStarted, exit_code.error().text));

    InstallerOutcome outcome = map_installer_exit_code(*exit_code, inputs.expected_version);
    std::string failed_check;
    if (outcome.verify_version) {
        auto confirmed =
            verify_installed_version(platform, inputs.app_path, inputs.install_dir, inputs.expected_version);
        if (!confirmed) {
            failed_check = confirmed.error().text;
            outcome = outcome_after_failed_version_check(confirmed.error().text);
        }
    }
    return StageFinished{std::move(failed_check), std::move(outcome)};
}

}  // namespace velmarch::process

#include "process/installer_stage.h"

#include <string_view>
#include <utility>

#include "platform/path/path.h"
#include "process/installer_exit_codes.h"
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
constexpr std::uint32_t kMillisecondsPerSecond = 1000;

// Runs Windows Installer, again while it answers a code the table retries,
// and delivers each run's log. Returns the last run's exit code.
[[nodiscard]] Result<std::int32_t> run_windows_installer(platform::Platform& platform, const InstallerCommand& command,
                                                         const InstallerInputs& inputs, const StagedInstall& staged,
                                                         update::Reporter& reporter) {
    for (std::size_t pauses_taken = 0;; ++pauses_taken) {
        auto exit_code =
            run_and_wait(platform, command.program, command.arguments, std::nullopt, SearchPlaces::system_only);
        if (!exit_code) return exit_code;
        reporter.append_log_line(installer_exit_message(*exit_code));
        deliver_installer_log(platform, staged.installer_log, inputs.msi_log_path,
                              pauses_taken == 0 ? LogDelivery::replace : LogDelivery::append);
        const InstallerRetry* retry = installer_exit_code_meaning(*exit_code).retry;
        if (retry == nullptr || pauses_taken >= retry->pause_seconds.size()) return exit_code;
        // A run that ends before it writes a log must not hand on this one again.
        (void)platform.delete_file(staged.installer_log);
        const std::uint32_t pause = retry->pause_seconds[pauses_taken];
        reporter.append_log_line(text::format(retry->log_line, pause));
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
    if (!command) return update::abort_run(command.error());

    auto exit_code = run_windows_installer(platform, *command, inputs, staged, reporter);
    if (!exit_code) return update::abort_run(with_context(exit_code.error(), kInstallerNotStarted));

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

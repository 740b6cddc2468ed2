#include "process/installer_stage.h"

#include <string_view>

#include "platform/paths.h"
#include "process/installer_outcome.h"
#include "process/restart.h"
#include "process/version_check.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch {
namespace {

constexpr std::string_view kInstallerName = "msiexec.exe";
constexpr std::string_view kInstallerNotFound = "Windows Installer was not found.";
constexpr std::string_view kStartingInstaller = "Starting Windows Installer.";
constexpr std::string_view kInstallerNotStarted = "Windows Installer could not be started: {}";

Argument regular(std::u16string_view text) { return Argument{std::u16string(text), false}; }

}  // namespace

platform::Result<platform::Path> locate_windows_installer(platform::Platform& platform) {
    const platform::Path bare_name(platform::native_from_ascii(kInstallerName));
    platform::Path candidate = bare_name;
    if (auto system_root = platform.environment_variable("SystemRoot"))
        candidate = platform::join_path(platform::join_path(platform::Path(*system_root), "System32"), kInstallerName);
    if (candidate == bare_name || platform.file_type(candidate) == platform::FileType::file) return candidate;
    return std::unexpected(std::string(kInstallerNotFound));
}

platform::Result<InstallerCommand> build_installer_command(const UpdateRequest& request,
                                                           const platform::Path& staged_package,
                                                           const platform::Path& installer) {
    auto install_dir = check_install_dir(platform::path_to_utf8(request.install_dir));
    if (!install_dir) return std::unexpected(install_dir.error());

    std::vector<Argument> arguments{
        regular(u"/i"),
        regular(platform::path_to_utf16(staged_package)),
        regular(u"/passive"),
        regular(u"/norestart"),
        regular(u"VELMARCH_INSTALLDIR_LOCK=1"),
        regular(u"/L*v"),
        regular(platform::path_to_utf16(request.msi_log_path)),
    };
    if (request.repair_mode) {
        arguments.push_back(regular(u"REINSTALL=ALL"));
        arguments.push_back(regular(u"REINSTALLMODE=amus"));
    }
    arguments.push_back(Argument{u"INSTALLDIR=\"" + text::utf8_to_utf16_lossy(*install_dir) + u"\"", true});
    return InstallerCommand{installer, std::move(arguments)};
}

std::expected<StageFinished, std::string> run_installer_stage(platform::Platform& platform,
                                                              const UpdateRequest& request,
                                                              const platform::Path& staged_package,
                                                              Reporter& reporter) {
    auto installer = locate_windows_installer(platform);
    if (!installer) {
        reporter.append_log_line(installer.error());
        reporter.write_result(ResultStatus::error, kInstallFailureExitCode, installer.error());
        restart_application(platform, request, reporter);
        return StageFinished{kInstallFailureExitCode};
    }

    reporter.append_log_line(kStartingInstaller);

    auto command = build_installer_command(request, staged_package, *installer);
    if (!command) return std::unexpected(command.error());

    auto exit_code = run_and_wait(platform, command->program, command->arguments, std::nullopt, request.msi_log_path);
    if (!exit_code) return std::unexpected(text::format(kInstallerNotStarted, exit_code.error()));

    reporter.append_log_line(installer_exit_message(*exit_code));

    InstallerOutcome outcome = map_installer_exit_code(*exit_code, request.expected_version);
    if (outcome.verify_version) {
        if (auto confirmed = verify_installed_version(platform, request); !confirmed) {
            reporter.append_log_line(confirmed.error());
            outcome = outcome_after_failed_version_check(confirmed.error());
        }
    }
    reporter.write_result(outcome.status, outcome.result_exit_code, outcome.message);
    if (outcome.restart) restart_application(platform, request, reporter);
    return StageFinished{outcome.process_exit_code};
}

}  // namespace velmarch

#include "process/installer_outcome.h"

#include "process/installer_exit_codes.h"
#include "text/format.h"

namespace velmarch::process {

using update::ResultStatus;

namespace {

constexpr std::string_view kInstallerExited = "Windows Installer exited with code {}.";
constexpr std::string_view kVersionConflict =
    "Windows Installer reported that version {} conflicts with the product already registered on this computer.";
constexpr std::string_view kRestartRequired = "Windows restart is required to finish the update.";
constexpr std::string_view kRestartInitiated = "Windows has started a restart to finish the update.";

// The result message for `status`, the status the table gives `exit_code`.
std::string outcome_message(ResultStatus status, std::int32_t exit_code, std::string_view expected_version) {
    switch (status) {
        case ResultStatus::success: return std::string();
        case ResultStatus::version_conflict: return text::format(kVersionConflict, expected_version);
        case ResultStatus::restart_required: return std::string(kRestartRequired);
        case ResultStatus::restart_initiated: return std::string(kRestartInitiated);
        default: return installer_exit_message(exit_code);
    }
}

}  // namespace

std::string installer_exit_message(std::int32_t exit_code) { return text::format(kInstallerExited, exit_code); }

InstallerOutcome map_installer_exit_code(std::int32_t exit_code, std::string_view expected_version) {
    const InstallerExitCodeMeaning& meaning = installer_exit_code_meaning(exit_code);
    return {{meaning.status, exit_code, outcome_message(meaning.status, exit_code, expected_version), meaning.restart,
             meaning.updater_exits_with_code ? exit_code : 0},
            meaning.verify_version};
}

InstallerOutcome outcome_after_failed_version_check(std::string message) {
    return {{ResultStatus::install_verification_failed, update::kInstallFailureExitCode, std::move(message), true,
             update::kInstallFailureExitCode},
            false};
}

}  // namespace velmarch::process

#include "process/installer_outcome.h"

#include "text/format.h"

namespace velmarch::process {

using update::ResultStatus;

namespace {

constexpr std::string_view kInstallerExited = "Windows Installer exited with code {}.";
constexpr std::string_view kVersionConflict =
    "Windows Installer reported that version {} conflicts with the product already registered on this computer.";
constexpr std::string_view kRestartRequired = "Windows restart is required to finish the update.";
constexpr std::string_view kRestartInitiated = "Windows has started a restart to finish the update.";

// Windows Installer's published exit codes with a row of their own.
constexpr std::int32_t kErrorSuccess = 0;
constexpr std::int32_t kErrorProductVersion = 1638;
constexpr std::int32_t kErrorSuccessRebootInitiated = 1641;
constexpr std::int32_t kErrorSuccessRebootRequired = 3010;

}  // namespace

std::string installer_exit_message(std::int32_t exit_code) { return text::format(kInstallerExited, exit_code); }

InstallerOutcome map_installer_exit_code(std::int32_t exit_code, std::string_view expected_version) {
    switch (exit_code) {
        case kErrorSuccess: return {{ResultStatus::success, exit_code, std::string(), true, 0}, true};
        case kErrorProductVersion:
            return {{ResultStatus::version_conflict, exit_code, text::format(kVersionConflict, expected_version), true,
                     exit_code},
                    false};
        case kErrorSuccessRebootRequired:
            return {{ResultStatus::restart_required, exit_code, std::string(kRestartRequired), false, 0}, false};
        case kErrorSuccessRebootInitiated:
            return {{ResultStatus::restart_initiated, exit_code, std::string(kRestartInitiated), false, 0}, false};
        default: return {{ResultStatus::error, exit_code, installer_exit_message(exit_code), true, exit_code}, false};
    }
}

InstallerOutcome outcome_after_failed_version_check(std::string message) {
    return {{ResultStatus::install_verification_failed, update::kInstallFailureExitCode, std::move(message), true,
             update::kInstallFailureExitCode},
            false};
}

}  // namespace velmarch::process

#pragma once
// What a run makes of each exit code of Windows Installer (and, after a 0,
// of the installed application's version check), for expected version 2.4.0:
// one table for the tests of the mapping, of the installer stage and of a
// whole run.

#include <cstdint>

#include "update/result_status.h"

namespace velmarch::testing {

using update::ResultStatus;

struct InstallerExitCodeRow {
    const char* name;
    std::int32_t installer_exit_code;
    std::int32_t application_exit_code;  // the version check's, run only after a 0
    ResultStatus status;
    std::int32_t result_exit_code;  // in the result file
    const char* message;
    bool version_checked;
    bool restart;  // the application is restarted through the shell
    std::int32_t process_exit_code;
};

inline constexpr InstallerExitCodeRow kInstallerExitCodeRows[] = {
    {"Success", 0, 0, ResultStatus::success, 0, "", true, true, 0},
    {"VersionNotConfirmed", 0, 1, ResultStatus::install_verification_failed, 1603,
     "The installed application did not report expected version 2.4.0 after Windows Installer completed.", true, true,
     1603},
    {"VersionConflict", 1638, 0, ResultStatus::version_conflict, 1638,
     "Windows Installer reported that version 2.4.0 conflicts with the product already registered on this computer.",
     false, true, 1638},
    {"RestartRequired", 3010, 0, ResultStatus::restart_required, 3010,
     "Windows restart is required to finish the update.", false, false, 0},
    {"RestartInitiated", 1641, 0, ResultStatus::restart_initiated, 1641,
     "Windows has started a restart to finish the update.", false, false, 0},
    {"UserCancelled1602", 1602, 0, ResultStatus::error, 1602, "Windows Installer exited with code 1602.", false, true,
     1602},
    {"Failed1603", 1603, 0, ResultStatus::error, 1603, "Windows Installer exited with code 1603.", false, true, 1603},
    {"One", 1, 0, ResultStatus::error, 1, "Windows Installer exited with code 1.", false, true, 1},
    {"MinusOne", -1, 0, ResultStatus::error, -1, "Windows Installer exited with code -1.", false, true, -1},
    // An NTSTATUS crash code read as the signed value it is.
    {"CrashIsSigned", static_cast<std::int32_t>(0xC0000005u), 0, ResultStatus::error, -1073741819,
     "Windows Installer exited with code -1073741819.", false, true, -1073741819},
};

}  // namespace velmarch::testing

#pragma once
// What a Windows Installer exit code means for the run: the result to record,
// whether the installed version is checked, whether the application is
// restarted and the updater's own exit code, as the table of exit codes
// (installer_exit_codes.h) says, with the message of each. Pure logic.

#include <cstdint>
#include <string>
#include <string_view>

#include "update/run_ending.h"

namespace velmarch::process {

// How the run ends after the installer, and whether the installed version is
// checked first.
struct InstallerOutcome : update::RunEnding {
    bool verify_version;
};

// "Windows Installer exited with code {}." for the signed code: the helper
// log line after every installer run, and the result message of unlisted codes.
std::string installer_exit_message(std::int32_t exit_code);

// For 0 this is the confirmed row; the stage turns it into
// `outcome_after_failed_version_check` when the check does not confirm.
InstallerOutcome map_installer_exit_code(std::int32_t exit_code, std::string_view expected_version);

InstallerOutcome outcome_after_failed_version_check(std::string message);

}  // namespace velmarch::process

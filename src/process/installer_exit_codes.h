#pragma once
// The one table of Windows Installer's exit codes that mean something of
// their own to a run: what the run records, whether it checks the installed
// version and restarts the application, the updater's own exit code, and
// which codes start Windows Installer again, after which pauses and with which
// log line. Every other code is a failure recorded with that code. Pure data;
// the stage (installer_stage.h) and the outcome (installer_outcome.h) read it.

#include <cstdint>
#include <span>
#include <string_view>

#include "text/format.h"
#include "update/result_status.h"

namespace velmarch::process {

// Windows Installer is started again while it answers a code with this
// policy: one further run after each pause, logged with its seconds before
// the pause begins, on the run's own thread. Each run's log is delivered to
// the caller's installer log path as soon as that run has ended.
struct InstallerRetry {
    std::span<const std::uint32_t> pause_seconds;
    text::Pattern<std::uint32_t> log_line;
};

// What the run makes of an exit code that its last installer run answered.
struct InstallerExitCodeMeaning {
    update::ResultStatus status;
    bool verify_version;           // the installed application's version is checked first
    bool restart;                  // the application is started again
    bool updater_exits_with_code;  // the updater's own exit code is the installer's; 0 otherwise
    const InstallerRetry* retry;   // nullptr: never started again for this code
};

struct InstallerExitCode {
    std::int32_t code;
    std::string_view name;  // Windows' name for it
    InstallerExitCodeMeaning meaning;
};

// Another installation holds Windows Installer, often for seconds only: about
// 35 s of pauses, four runs in all.
inline constexpr std::uint32_t kInstallerBusyPauseSeconds[] = {5, 10, 20};
inline constexpr InstallerRetry kInstallerBusyRetry{
    kInstallerBusyPauseSeconds, "Windows Installer is busy with another installation; trying again in {} seconds."};

inline constexpr InstallerExitCode kInstallerExitCodes[] = {
    {0, "ERROR_SUCCESS", {update::ResultStatus::success, true, true, false, nullptr}},
    {1618, "ERROR_INSTALL_ALREADY_RUNNING", {update::ResultStatus::error, false, true, true, &kInstallerBusyRetry}},
    {1638, "ERROR_PRODUCT_VERSION", {update::ResultStatus::version_conflict, false, true, true, nullptr}},
    {1641, "ERROR_SUCCESS_REBOOT_INITIATED", {update::ResultStatus::restart_initiated, false, false, false, nullptr}},
    {3010, "ERROR_SUCCESS_REBOOT_REQUIRED", {update::ResultStatus::restart_required, false, false, false, nullptr}},
};

// Every code the table does not list (a failure, or a crash read as the
// signed NTSTATUS value it is).
inline constexpr InstallerExitCodeMeaning kUnlistedInstallerExitCode{update::ResultStatus::error, false, true, true,
                                                                     nullptr};

// The table's meaning of `code`, or kUnlistedInstallerExitCode.
const InstallerExitCodeMeaning& installer_exit_code_meaning(std::int32_t code);

}  // namespace velmarch::process

#pragma once
// The installer stage of a run: Windows Installer on the staged package, its
// exit code turned into how the run ends, and the version check. The run
// records that ending and restarts the application itself.

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "process/installer_command.h"
#include "update/reporter.h"
#include "update/run_aborted.h"
#include "update/run_ending.h"

namespace velmarch::process {

// <Windows directory>\System32\msiexec.exe when it is an existing file; the
// bare name "msiexec.exe" when the system names no Windows directory (the
// launcher then searches the system and Windows directories only).
[[nodiscard]] Result<platform::Path> locate_windows_installer(platform::Platform& platform);

// The stage has run to an end: every line of its own is in the helper log.
// The run appends `log_line` unless it is empty, then records `ending` and
// restarts the application as it says; nothing else comes between.
struct StageFinished {
    std::string log_line;
    update::RunEnding ending;
};

// Aborted when the command is refused (install directory, log path) or the
// installer cannot be started; nothing more is logged or recorded for those.
using StageOutcome = std::expected<StageFinished, update::RunAborted>;

// Windows Installer answers 1618 (ERROR_INSTALL_ALREADY_RUNNING) while another
// installation holds it, often for seconds only: it is started again, up to
// kInstallerRuns times in all, after each of the pauses below (about 35 s in
// all, on the run's own thread). No other exit code is tried again. Each run's
// log is delivered to the caller's installer log path as soon as it has ended.
inline constexpr std::int32_t kInstallerBusyExitCode = 1618;
inline constexpr int kInstallerRuns = 4;
inline constexpr std::uint32_t kInstallerBusyPauseSeconds[kInstallerRuns - 1] = {5, 10, 20};

[[nodiscard]] StageOutcome run_installer_stage(platform::Platform& platform, const InstallerInputs& inputs,
                                               const StagedInstall& staged, update::Reporter& reporter);

}  // namespace velmarch::process

#pragma once
// The installer stage of a run: Windows Installer on the staged package, its
// exit code turned into how the run ends, and the version check. The run
// records that ending and restarts the application itself.

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

// Aborted when the command is refused (install directory, Windows directory) or the
// installer cannot be started; nothing more is logged or recorded for those.
using StageOutcome = std::expected<StageFinished, update::RunAborted>;

// Runs Windows Installer, again while it answers a code that the table of
// exit codes (installer_exit_codes.h) retries, as its policy says.
[[nodiscard]] StageOutcome run_installer_stage(platform::Platform& platform, const InstallerInputs& inputs,
                                               const StagedInstall& staged, update::Reporter& reporter);

}  // namespace velmarch::process

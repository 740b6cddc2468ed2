#pragma once
// The installer stage of a run: Windows Installer on the staged package, its
// exit code turned into the result file, the version check and the restart.

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "process/installer_command.h"
#include "update/reporter.h"
#include "update/run_aborted.h"
#include "update/update_request.h"

namespace velmarch::process {

// <Windows directory>\System32\msiexec.exe when it is an existing file; the
// bare name "msiexec.exe" when the system names no Windows directory (the
// launcher then searches the system and Windows directories only).
[[nodiscard]] Result<platform::Path> locate_windows_installer(platform::Platform& platform);

// The run is finished: the helper log, the result file and the restart have
// been handled, and the updater exits with this code.
struct StageFinished {
    std::int32_t process_exit_code;
};

// Aborted when the command is refused (install directory, log path) or the
// installer cannot be started; nothing is logged or recorded for those.
using StageOutcome = std::expected<StageFinished, update::RunAborted>;

[[nodiscard]] StageOutcome run_installer_stage(platform::Platform& platform, const InstallerInputs& inputs,
                                               const platform::Path& staged_package, update::Reporter& reporter);

// The fields of the run's request that the installer stage reads.
InstallerInputs installer_inputs(const update::UpdateRequest& request);

}  // namespace velmarch::process

#pragma once
// The installer stage of a run: Windows Installer on the staged package, its
// exit code turned into the result file, the version check and the restart.

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "process/launcher.h"
#include "run/reporting.h"
#include "run/update_request.h"

namespace velmarch {

struct InstallerCommand {
    platform::Path program;
    // Regular arguments, then the INSTALLDIR assignment as the one raw argument.
    std::vector<Argument> arguments;
};

// <SystemRoot>\System32\msiexec.exe when it is an existing file; the bare name
// "msiexec.exe" when SystemRoot is unset (the launcher searches for it).
platform::Result<platform::Path> locate_windows_installer(platform::Platform& platform);

platform::Result<InstallerCommand> build_installer_command(const UpdateRequest& request,
                                                           const platform::Path& staged_package,
                                                           const platform::Path& installer);

// The run is finished: the helper log, the result file and the restart have
// been handled, and the updater exits with this code.
struct StageFinished {
    std::int32_t process_exit_code;
};

// Finished, or a message when the install directory is refused or the
// installer cannot be started; nothing is logged or recorded for those two.
std::expected<StageFinished, std::string> run_installer_stage(platform::Platform& platform,
                                                              const UpdateRequest& request,
                                                              const platform::Path& staged_package,
                                                              Reporter& reporter);

}  // namespace velmarch

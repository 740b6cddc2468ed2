#pragma once
// The Windows Installer command of a run: the program, then its arguments in
// the form msiexec reads back as meant. Pure logic.

#include <string>
#include <vector>

#include "platform/platform.h"
#include "process/launcher.h"

namespace velmarch::process {

// What the installer stage reads of the run's request; the command takes the
// install directory, the installer log path and the repair mode.
struct InstallerInputs {
    platform::Path install_dir;
    platform::Path app_path;
    platform::Path msi_log_path;
    std::string expected_version;
    bool repair_mode = false;
};

struct InstallerCommand {
    platform::Path program;
    // The fixed options are regular arguments; the staged package, the log
    // path and, last, the INSTALLDIR assignment are raw ones in msiexec's own
    // quoting.
    std::vector<Argument> arguments;
};

// Fails, before anything runs, when msiexec could not read a text as one
// argument: an install directory or installer log path with a double quote, a
// carriage return or a line feed (or such a Windows directory).
[[nodiscard]] Result<InstallerCommand> build_installer_command(const InstallerInputs& inputs,
                                                               const platform::Path& staged_package,
                                                               const platform::Path& installer);

}  // namespace velmarch::process

#pragma once
// The Windows Installer command of a run: the program, then its arguments in
// the form msiexec reads back as meant. Pure logic.

#include <string>
#include <vector>

#include "platform/platform.h"
#include "process/command_line_compose.h"

namespace velmarch::process {

// What the installer stage reads of the run's request; the command takes the
// install directory and the repair mode. The installer log path is where the
// staged log is copied after each installer run: msiexec never sees it.
struct InstallerInputs {
    platform::Path install_dir;
    platform::Path app_path;
    platform::Path msi_log_path;
    std::string expected_version;
    bool repair_mode = false;
};

// The files of the staging directory that Windows Installer is handed: the
// staged package and the file it writes its verbose log to. Both lie inside
// the administrator-only directory, so nothing the installer or its service
// opens by name, at any time, lies on a way a user could change.
struct StagedInstall {
    platform::Path package;
    platform::Path installer_log;
};

struct InstallerCommand {
    platform::Path program;
    // The fixed options are regular arguments; the staged package, the staged
    // log and, last, the INSTALLDIR assignment are raw ones in msiexec's own
    // quoting.
    std::vector<Argument> arguments;
};

// Fails, before anything runs, when msiexec could not read a text as one
// argument: an install directory with a double quote, a carriage return or a
// line feed (or such a Windows directory).
[[nodiscard]] Result<InstallerCommand> build_installer_command(const InstallerInputs& inputs,
                                                               const StagedInstall& staged,
                                                               const platform::Path& installer);

}  // namespace velmarch::process

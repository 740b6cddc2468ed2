// The Windows Installer command of a run. Pure logic.

#include "process/installer_command.h"

#include "platform/path/path.h"
#include "process/msiexec_arguments.h"

namespace velmarch::process {
namespace {

constexpr std::string_view kWindowsDirectoryRejected = "The Windows directory cannot be passed to Windows Installer.";

Argument regular(std::u16string_view text) { return Argument{std::u16string(text), false}; }

}  // namespace

Result<InstallerCommand> build_installer_command(const InstallerInputs& inputs, const StagedInstall& staged,
                                                 const platform::Path& installer) {
    auto install_dir = install_dir_assignment(platform::path_to_utf16(inputs.install_dir));
    if (!install_dir) return std::unexpected(install_dir.error());
    // All three come from the Windows directory; the program text heads the
    // command line, so it is split by msiexec's rules as well.
    const std::u16string package = platform::path_to_utf16(staged.package);
    const std::u16string staged_log = platform::path_to_utf16(staged.installer_log);
    if (!passes_to_msiexec(package) || !passes_to_msiexec(staged_log) ||
        !passes_to_msiexec(platform::path_to_utf16(installer)))
        return fail(ErrorKind::refused, std::string(kWindowsDirectoryRejected));

    // The two paths are quoted by msiexec's rules, not the C runtime's: a
    // trailing backslash stays single and any whitespace is enclosed.
    std::vector<Argument> arguments{
        regular(u"/i"),
        msiexec_argument(package),
        regular(u"/passive"),
        regular(u"/norestart"),
        regular(u"VELMARCH_INSTALLDIR_LOCK=1"),
        regular(u"/L*v"),
        msiexec_argument(staged_log),
    };
    if (inputs.repair_mode) {
        arguments.push_back(regular(u"REINSTALL=ALL"));
        arguments.push_back(regular(u"REINSTALLMODE=amus"));
    }
    arguments.push_back(std::move(*install_dir));
    return InstallerCommand{installer, std::move(arguments)};
}

}  // namespace velmarch::process

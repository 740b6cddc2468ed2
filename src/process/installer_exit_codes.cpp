#include "process/installer_exit_codes.h"

#include <algorithm>

namespace velmarch::process {

const InstallerExitCodeMeaning& installer_exit_code_meaning(std::int32_t code) {
    const auto* row = std::ranges::find(kInstallerExitCodes, code, &InstallerExitCode::code);
    return row == std::ranges::end(kInstallerExitCodes) ? kUnlistedInstallerExitCode : row->meaning;
}

}  // namespace velmarch::process

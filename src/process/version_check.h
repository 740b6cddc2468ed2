#pragma once
// Asking the installed application to confirm that it is the expected
// version: it is run as `<app> --verify-installed-version <version>` in the
// install directory and answers with exit code 0.

#include <string_view>

#include "platform/platform.h"

namespace velmarch::process {

[[nodiscard]] Result<void> verify_installed_version(platform::Platform& platform, const platform::Path& app_path,
                                                    const platform::Path& install_dir,
                                                    std::string_view expected_version);

}  // namespace velmarch::process

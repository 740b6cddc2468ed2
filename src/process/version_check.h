#pragma once
// Asking the installed application to confirm that it is the expected
// version: it is run as `<app> --verify-installed-version <version>` in the
// install directory and answers with exit code 0.

#include "platform/platform.h"
#include "update/update_request.h"

namespace velmarch::process {

[[nodiscard]] Result<void> verify_installed_version(platform::Platform& platform, const update::UpdateRequest& request);

}  // namespace velmarch::process

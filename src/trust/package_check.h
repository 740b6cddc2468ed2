#pragma once
// Whether a package file may be installed: an existing file named *.msi whose
// digest is the expected one and whose signed metadata verifies.

#include "platform/platform.h"
#include "trust/package_claim.h"

namespace velmarch::trust {

// Opens, reads and closes the package within the call; never changes it.
// The same claim and byte-identical files always give the same answer.
[[nodiscard]] Result<void> verify_update_package(platform::Platform& platform, const platform::Path& package,
                                                 const PackageClaim& claim);

// The extension test alone: the text after the last "." of the file name
// (none when there is no "." or the only one leads the name) is "msi" in any
// ASCII case.
bool has_msi_extension(const platform::Path& package);

}  // namespace velmarch::trust

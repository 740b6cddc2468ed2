#pragma once
// Whether a package file may be installed: an existing file named *.msi whose
// digest is the expected one and whose signed metadata verifies.

#include "platform/platform.h"
#include "trust/package_claim.h"

namespace velmarch::trust {

// What a successful verification vouches for: the first `length` bytes of
// the file, exactly the bytes its digest covered.
struct VerifiedPackage {
    std::uint64_t length = 0;
};

// Opens, reads and closes the package within the call; never changes it.
// The same claim and byte-identical files always give the same answer.
// Anything but a regular file is refused as not an MSI file before a byte of
// it is read, whatever the path named when its type was first asked.
[[nodiscard]] Result<VerifiedPackage> verify_update_package(platform::Platform& platform, const platform::Path& package,
                                                            const PackageClaim& claim);

// The extension test alone: the text after the last "." of the file name
// (none when there is no "." or the only one leads the name) is "msi" in any
// ASCII case.
bool has_msi_extension(const platform::Path& package);

}  // namespace velmarch::trust

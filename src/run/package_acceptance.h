#pragma once
// Accepting the downloaded package: verified, copied to restricted staging and
// verified again; or refused, and then the run ends.

#include <cstdint>
#include <expected>
#include <string>

#include "platform/platform.h"
#include "run/update_request.h"
#include "staging/staging.h"
#include "text/format.h"
#include "update/reporter.h"

namespace velmarch::run {

// Why the package was not accepted (the log line's template and the message)
// and whether the download may be deleted: only a file named like a package
// may, so that a mistyped --msi-path naming some other file never costs the
// user that file.
struct PackageRefusal {
    text::Pattern<std::string> log_template;
    std::string message;
    bool named_like_package = false;
};

// The staged copy, verified like the download before it.
[[nodiscard]] std::expected<staging::StagedPackage, PackageRefusal> accept_package(platform::Platform& platform,
                                                                                   const UpdateRequest& request);

// The download goes when it is named like a package, the refusal is logged
// and recorded, and the application is started again; returns the process
// exit code.
std::int32_t finish_refused_package(platform::Platform& platform, const UpdateRequest& request,
                                    update::Reporter& reporter, const PackageRefusal& refusal);

}  // namespace velmarch::run

#pragma once
// Copies the verified package into a fresh administrator-only directory under
// the Windows directory's Temp folder and verifies the copy again.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "staging/staged_package.h"
#include "trust/package_claim.h"

namespace velmarch::staging {

inline constexpr std::string_view kStagingSecurityDescriptor = "O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
inline constexpr int kStagingDirectoryAttempts = 16;
// Staging never leaves the volume with less than this free after the copy
// (256 MiB: room for Windows Installer's own copies and logs and for the
// system itself). A fixed amount, never a share of the volume, which on a
// large disk would refuse ordinary updates.
inline constexpr std::uint64_t kStagingFreeSpaceReserve = std::uint64_t{256} * 1024 * 1024;
inline constexpr std::size_t kStagingCopyBufferSize = 8192;

// `downloaded` has passed the package check for `claim`; the copy must pass it
// again. `verified_length` is what the first verification of the download read:
// the copy takes at most that many bytes and then stops, so a download that
// grew since (or never ends) cannot make the staged copy longer than the
// package that was verified. The second verification decides as always.
[[nodiscard]] Result<StagedPackage> stage_package(platform::Platform& platform, const platform::Path& downloaded,
                                                  const trust::PackageClaim& claim, std::uint64_t verified_length);

}  // namespace velmarch::staging

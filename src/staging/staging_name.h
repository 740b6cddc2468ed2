#pragma once
// The names a run gives its staging: the staging directory's name, which the
// run makes and the sweep of earlier runs' staging recognizes, and the names
// of the two files a run puts inside it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmarch::staging {

// What every staging directory's name begins with.
inline constexpr std::string_view kStagingNamePrefix = "VelmarchUpdate-";
// The staged copy of the package.
inline constexpr std::string_view kStagedPackageName = "velmarch-update.msi";
// Windows Installer writes its verbose log here, inside the administrator-only
// directory, never at a caller-named path; the run copies it out afterwards.
inline constexpr std::string_view kStagedInstallerLogName = "velmarch-installer.log";
// The two names above: the only entries a run puts in its staging directory.
inline constexpr std::array<std::string_view, 2> kStagedFileNames = {kStagedPackageName, kStagedInstallerLogName};

// The random part of a staging directory's name, as bytes.
using StagingRandom = std::array<std::byte, 16>;

// "VelmarchUpdate-<process id>-<32 lower-case hex digits of the random bytes>"
std::string staging_directory_name(std::uint32_t process_id, const StagingRandom& random);

// Exactly the form staging_directory_name makes, the process id in decimal
// without leading zeros and at most 4294967295, and nothing else.
bool is_staging_directory_name(std::string_view name);

}  // namespace velmarch::staging

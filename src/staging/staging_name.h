#pragma once
// The form of a staging directory's name, as the sweep of earlier runs'
// staging recognizes it.

#include <string_view>

namespace velmarch::staging {

// What every staging directory's name begins with.
inline constexpr std::string_view kStagingNamePrefix = "VelmarchUpdate-";

// Exactly "VelmarchUpdate-<process id>-<32 lower-case hex digits>", the
// process id in decimal without leading zeros and at most 4294967295: the
// names staging_directory_name makes, and nothing else.
bool is_staging_directory_name(std::string_view name);

}  // namespace velmarch::staging

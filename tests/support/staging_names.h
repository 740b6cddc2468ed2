#pragma once
// Staging names for tests, made by the run's own staging_name functions: a
// test that checks the form itself compares with a literal once
// (staging_test.cpp); every other test names staging through these.

#include <array>
#include <cstdint>
#include <string>

#include "staging/staging_name.h"

namespace velmarch::testing {

inline const std::string kStagedPackage(staging::kStagedPackageName);
inline const std::string kStagedLog(staging::kStagedInstallerLogName);

// The random bytes 00 11 22 … ff.
inline staging::StagingRandom counting_staging_random() {
    staging::StagingRandom random{};
    for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<std::byte>(i * 0x11);
    return random;
}

// Every random byte `fill`.
inline staging::StagingRandom filled_staging_random(std::uint8_t fill) {
    staging::StagingRandom random{};
    random.fill(static_cast<std::byte>(fill));
    return random;
}

// The staging directory name of a run with `process_id`, its random bytes
// 00 11 22 … ff unless given.
inline std::string staging_name(std::uint32_t process_id,
                                const staging::StagingRandom& random = counting_staging_random()) {
    return staging::staging_directory_name(process_id, random);
}

}  // namespace velmarch::testing

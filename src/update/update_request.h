#pragma once
// The parsed options of one run.

#include <cstdint>
#include <string>

#include "platform/path/path.h"

namespace velmarch::update {

struct UpdateRequest {
    std::uint32_t parent_process_id = 0;
    platform::Path msi_path;
    platform::Path install_dir;
    platform::Path app_path;
    platform::Path msi_log_path;
    platform::Path helper_log_path;
    platform::Path result_path;
    std::string expected_sha256;  // trimmed, ASCII letters lower-cased
    std::string expected_version;
    std::string signature;
    std::string key_id;
    std::string signature_algorithm;
    bool repair_mode = false;
};

}  // namespace velmarch::update

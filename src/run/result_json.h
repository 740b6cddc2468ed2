#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "update/result_status.h"

namespace velmarch::run {

// The result file's compact JSON object:
// {"status":"…","exitCode":N,"message":"…","expectedVersion":"…"}
std::string compose_result_json(update::ResultStatus status, std::int32_t exit_code, std::string_view message,
                                std::string_view expected_version);

}  // namespace velmarch::run

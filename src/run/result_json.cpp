#include "run/result_json.h"

#include "text/format.h"
#include "text/json_string.h"

namespace velmarch::run {

std::string compose_result_json(update::ResultStatus status, std::int32_t exit_code, std::string_view message,
                                std::string_view expected_version) {
    return text::format(R"({"status":{},"exitCode":{},"message":{},"expectedVersion":{}})",
                        text::json_string(update::result_status_word(status)), exit_code, text::json_string(message),
                        text::json_string(expected_version));
}

}  // namespace velmarch::run

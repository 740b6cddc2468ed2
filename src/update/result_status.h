#pragma once
#include <string_view>

namespace velmarch::update {

enum class ResultStatus {
    success,
    error,
    install_verification_failed,
    restart_required,
    restart_initiated,
    version_conflict,
};

// The status word written to the result file.
std::string_view result_status_word(ResultStatus status);

}  // namespace velmarch::update

#include "update/result_status.h"

namespace velmarch::update {

std::string_view result_status_word(ResultStatus status) {
    switch (status) {
        case ResultStatus::success: return "success";
        case ResultStatus::error: return "error";
        case ResultStatus::install_verification_failed: return "installVerificationFailed";
        case ResultStatus::restart_required: return "restartRequired";
        case ResultStatus::restart_initiated: return "restartInitiated";
        case ResultStatus::version_conflict: return "versionConflict";
    }
    return "error";
}

}  // namespace velmarch::update

#include "update/run_ending.h"

namespace velmarch::update {

RunEnding failure_around_installer(std::string message) {
    return {ResultStatus::error, kInstallFailureExitCode, std::move(message), true, kInstallFailureExitCode};
}

}  // namespace velmarch::update

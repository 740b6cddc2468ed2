#pragma once
#include <cstdint>
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

// Windows Installer's ERROR_INSTALL_FAILURE: what a run records and exits with
// when it fails around the installer rather than inside it (a refused
// package, a failed staging or version check), and what an aborted run exits
// with.
inline constexpr std::int32_t kInstallFailureExitCode = 1603;

// The status word written to the result file.
std::string_view result_status_word(ResultStatus status);

}  // namespace velmarch::update

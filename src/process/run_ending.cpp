#include "process/run_ending.h"

#include "process/restart.h"

namespace velmarch::process {

RunEnding failure_around_installer(std::string message) {
    return {update::ResultStatus::error, update::kInstallFailureExitCode, std::move(message), true,
            update::kInstallFailureExitCode};
}

std::int32_t finish_run(platform::Platform& platform, update::Reporter& reporter, std::string_view log_line,
                        const RunEnding& ending, const platform::Path& app_path, const platform::Path& install_dir) {
    if (!log_line.empty()) reporter.append_log_line(log_line);
    reporter.write_result(ending.status, ending.result_exit_code, ending.message);
    if (ending.restart) restart_application(platform, app_path, install_dir, reporter);
    return ending.process_exit_code;
}

}  // namespace velmarch::process

#include "run/finish_run.h"

#include "process/restart.h"

namespace velmarch::run {

std::int32_t finish_run(platform::Platform& platform, update::Reporter& reporter, std::string_view log_line,
                        const update::RunEnding& ending, const platform::Path& app_path,
                        const platform::Path& install_dir) {
    if (!log_line.empty()) reporter.append_log_line(log_line);
    reporter.write_result(ending.status, ending.result_exit_code, ending.message);
    if (ending.restart) process::restart_application(platform, app_path, install_dir, reporter);
    return ending.process_exit_code;
}

}  // namespace velmarch::run

#include "process/restart.h"

#include <string_view>

#include "platform/path/path.h"
#include "process/launcher.h"
#include "text/format.h"

namespace velmarch::process {
namespace {

constexpr std::string_view kShellName = "explorer.exe";
constexpr std::string_view kApplicationMissing = "The application executable was not found for restart.";
constexpr std::string_view kRestartFailed = "Application restart failed: {}";
constexpr std::string_view kRestartRequested = "Application restart requested through {} with process id {}.";

}  // namespace

platform::Path locate_explorer(platform::Platform& platform) {
    // The system's own Windows directory, never the inherited SystemRoot.
    if (auto windows = platform.windows_directory()) {
        platform::Path candidate = *windows / platform::path_from_utf8(kShellName);
        if (platform.file_type(candidate) == platform::FileType::file) return candidate;
    }
    return platform::Path(platform::native_from_ascii(kShellName));
}

void restart_application(platform::Platform& platform, const platform::Path& app_path,
                         const platform::Path& install_dir, update::Reporter& reporter) {
    if (platform.file_type(app_path) != platform::FileType::file) {
        reporter.append_log_line(kApplicationMissing);
        return;
    }
    const platform::Path shell = locate_explorer(platform);
    const std::vector<Argument> arguments{{platform::path_to_utf16(app_path)}};
    auto process_id = start_detached(platform, shell, arguments, install_dir, SearchPlaces::system_only);
    if (!process_id) {
        reporter.append_log_line(text::format(kRestartFailed, process_id.error().text));
        return;
    }
    reporter.append_log_line(text::format(kRestartRequested, platform::path_to_utf8(shell), *process_id));
}

}  // namespace velmarch::process

// Starting a program through the platform: resolve, compose, create.

#include "process/launcher.h"
#include "platform/path/path.h"

namespace velmarch::process {
namespace {

[[nodiscard]] Result<platform::LaunchRequest> prepare_launch(platform::Platform& platform,
                                                             const platform::Path& program,
                                                             const std::vector<Argument>& arguments,
                                                             const std::optional<platform::Path>& working_directory,
                                                             SearchPlaces places) {
    auto application = resolve_program(program, program_search(platform, places));
    if (!application) return std::unexpected(application.error());
    // The command line names the program as the caller gave it, not the
    // resolved file.
    auto command_line = compose_command_line(platform::path_to_utf16(program), arguments);
    if (!command_line) return std::unexpected(command_line.error());
    return platform::LaunchRequest{
        .application = std::move(*application),
        .command_line = std::move(*command_line),
        .working_directory = working_directory,
    };
}

}  // namespace

Result<std::int32_t> run_and_wait(platform::Platform& platform, const platform::Path& program,
                                  const std::vector<Argument>& arguments,
                                  const std::optional<platform::Path>& working_directory, SearchPlaces places) {
    auto launch = prepare_launch(platform, program, arguments, working_directory, places);
    if (!launch) return std::unexpected(launch.error());
    return platform.run_and_wait(*launch);
}

Result<std::uint32_t> start_detached(platform::Platform& platform, const platform::Path& program,
                                     const std::vector<Argument>& arguments,
                                     const std::optional<platform::Path>& working_directory, SearchPlaces places) {
    auto launch = prepare_launch(platform, program, arguments, working_directory, places);
    if (!launch) return std::unexpected(launch.error());
    return platform.start_detached(*launch);
}

}  // namespace velmarch::process

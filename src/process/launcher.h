#pragma once
// The one process launcher: finds the program file, composes the Windows
// command line every started program parses, and starts the process through
// the platform, either waiting for its exit code or returning its id at once.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace velmarch::process {

// A regular argument is quoted and escaped as the C runtime expects; a raw one
// is copied into the command line exactly as it is.
struct Argument {
    std::u16string text;
    bool raw = false;
};

// Launch-error texts of the launcher's own checks.
inline constexpr std::string_view kProgramNotFound = "program not found";
inline constexpr std::string_view kProgramHasNoFileName = "program path has no file name";
inline constexpr std::string_view kNulInCommandLine = "nul byte found in provided data";
// Batch files would be run by cmd.exe, which splits its command line by rules
// of its own; none of the programs started here is one, so they are refused.
inline constexpr std::string_view kBatchFileRefused = "batch files are not started";

// `"<program>"`, then each argument after one space. The program text is not
// escaped. Fails when the program or any argument holds a NUL.
[[nodiscard]] Result<std::u16string> compose_command_line(std::u16string_view program,
                                                          const std::vector<Argument>& arguments);

// Where a bare program name is looked for, in this order: the system
// directory, then the Windows directory; absent places are skipped. Nothing
// else is ever searched: not PATH, not the updater's own folder (an elevated
// run inherits the user's PATH, and either can be writable by that user).
struct ProgramSearch {
    std::function<bool(const platform::Path&)> exists;
    std::optional<platform::Path> system_directory;
    std::optional<platform::Path> windows_directory;
};

// Which places a caller lets the search for a bare program name use: none (a
// bare name is "program not found"; for programs named by a full path), or
// the system and Windows directories (the system's own programs).
enum class SearchPlaces { none, system_only };

// The search places of this process.
ProgramSearch program_search(platform::Platform& platform, SearchPlaces places);

// The path handed to process creation as the application name.
[[nodiscard]] Result<platform::Path> resolve_program(const platform::Path& program, const ProgramSearch& search);

// Starts the program and waits without limit; returns its exit code.
[[nodiscard]] Result<std::int32_t> run_and_wait(platform::Platform& platform, const platform::Path& program,
                                                const std::vector<Argument>& arguments,
                                                const std::optional<platform::Path>& working_directory,
                                                SearchPlaces places);

// Starts the program and returns its process id without waiting.
[[nodiscard]] Result<std::uint32_t> start_detached(platform::Platform& platform, const platform::Path& program,
                                                   const std::vector<Argument>& arguments,
                                                   const std::optional<platform::Path>& working_directory,
                                                   SearchPlaces places);

}  // namespace velmarch::process

#pragma once
// The file behind a program text, found the way process creation would be
// asked to run it: a bare name only in the places its caller allows.

#include <functional>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace velmarch::process {

// Launch-error texts of the search's own checks.
inline constexpr std::string_view kProgramNotFound = "program not found";
inline constexpr std::string_view kProgramHasNoFileName = "program path has no file name";
// Batch files would be run by cmd.exe, which splits its command line by rules
// of its own; none of the programs started here is one, so they are refused.
inline constexpr std::string_view kBatchFileRefused = "batch files are not started";

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

}  // namespace velmarch::process

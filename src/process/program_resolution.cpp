// Finding the file behind a program text, the way process creation would be
// asked to run it.

#include "process/program_resolution.h"
#include "platform/path/path.h"
#include "text/ascii_case.h"

namespace velmarch::process {
namespace {

using platform::NativeString;
using platform::Path;

using Char = NativeString::value_type;

// `suffix` is lower-case ASCII.
bool ends_with_ignoring_case(const NativeString& text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    const std::size_t start = text.size() - suffix.size();
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (text::ascii_lower(text[start + i]) != Char(suffix[i])) return false;
    return true;
}

bool is_bare_name(const Path& program) { return program.native() == program.filename().native(); }

// Windows drops trailing dots and spaces from a file name, so "run.bat. "
// would still be run as a batch file.
bool is_batch_file(const Path& path) {
    NativeString name = path.filename().native();
    while (!name.empty() && (name.back() == Char('.') || name.back() == Char(' '))) name.pop_back();
    return ends_with_ignoring_case(name, ".bat") || ends_with_ignoring_case(name, ".cmd");
}

std::optional<Path> search_directories(const NativeString& name, const ProgramSearch& search) {
    const bool has_dot = name.find(Char('.')) != NativeString::npos;
    const NativeString searched = has_dot ? name : name + platform::native_from_ascii(".exe");
    for (const auto* place : {&search.system_directory, &search.windows_directory}) {
        if (!*place) continue;
        Path candidate = **place / Path(searched);
        if (search.exists(candidate)) return candidate;
    }
    return std::nullopt;
}

[[nodiscard]] Result<Path> find_program(const Path& program, const ProgramSearch& search) {
    const NativeString& text = program.native();
    if (text.empty() || platform::is_path_separator(text.back()) || !program.has_filename())
        return fail(ErrorKind::refused, std::string(kProgramHasNoFileName));
    if (is_bare_name(program)) {
        if (auto found = search_directories(text, search)) return *found;
        return fail(ErrorKind::program_not_found, std::string(kProgramNotFound));
    }
    if (ends_with_ignoring_case(text, ".exe")) return program;
    Path with_exe(text + platform::native_from_ascii(".exe"));
    if (search.exists(with_exe)) return with_exe;
    return program;
}

}  // namespace

ProgramSearch program_search(platform::Platform& platform, SearchPlaces places) {
    ProgramSearch search{.exists = [&platform](const Path& path) { return platform.exists(path); },
                         .system_directory = std::nullopt,
                         .windows_directory = std::nullopt};
    if (places == SearchPlaces::system_only) {
        search.system_directory = platform.system_directory();
        search.windows_directory = platform.windows_directory();
    }
    return search;
}

Result<Path> resolve_program(const Path& program, const ProgramSearch& search) {
    auto found = find_program(program, search);
    if (found && is_batch_file(*found)) return fail(ErrorKind::refused, std::string(kBatchFileRefused));
    return found;
}

}  // namespace velmarch::process

// Finding the program file: bare names are searched, paths are not.

#include <gtest/gtest.h>

#include <set>

#include "process/launcher.h"
#include "support/process_world.h"
#include "support/case_name.h"

namespace velmarch::process {
namespace {

using testing::PrintTo;  // cases print by name

using platform::NativeString;
using platform::Path;
using testing::as_path;
using testing::test_path;
using testing::test_path_list;

struct ResolveCase {
    const char* name;
    const char* program;
    std::set<std::string> existing;
    std::optional<std::string> path_variable;
    std::string expected;  // a path, or the error text
    bool fails = false;
};

ProgramSearch search_over(const std::set<std::string>& existing, const std::optional<std::string>& path_variable) {
    std::set<NativeString> native;
    for (const auto& e : existing) native.insert(test_path(e).native());
    return ProgramSearch{
        .exists = [native](const Path& p) { return native.contains(p.native()); },
        .own_executable_directory = test_path("/own"),
        .system_directory = test_path("/Windows/System32"),
        .windows_directory = test_path("/Windows/"),
        .path_variable = path_variable ? std::optional(test_path_list(*path_variable)) : std::nullopt,
    };
}

class ResolveProgram : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveProgram, Resolves) {
    const ResolveCase& c = GetParam();
    auto resolved = resolve_program(test_path(c.program), search_over(c.existing, c.path_variable));
    if (c.fails) {
        ASSERT_FALSE(resolved.has_value()) << testing::utf8(*resolved);
        EXPECT_EQ(resolved.error(), c.expected);
    } else {
        ASSERT_TRUE(resolved.has_value()) << resolved.error();
        EXPECT_EQ(testing::utf8(*resolved), testing::utf8(test_path(c.expected)));
    }
}

const ResolveCase kResolveCases[] = {
    {"empty", "", {}, {}, "program path has no file name", true},
    {"trailing_separator", "/opt/app/", {"/opt/app/"}, {}, "program path has no file name", true},
    {"own_directory_first", "tool.exe", {"/own/tool.exe", "/Windows/System32/tool.exe"}, {}, "/own/tool.exe"},
    {"system_directory_second", "msiexec.exe", {"/Windows/System32/msiexec.exe", "/Windows/msiexec.exe"}, {},
     "/Windows/System32/msiexec.exe"},
    {"windows_directory_third", "explorer.exe", {"/Windows/explorer.exe", "/p1/explorer.exe"}, "/p1",
     "/Windows/explorer.exe"},
    {"path_entries_in_order", "tool.exe", {"/p2/tool.exe", "/p3/tool.exe"}, "/p1:/p2:/p3", "/p2/tool.exe"},
    {"empty_path_entries_skipped", "tool.exe", {"/p2/tool.exe", "/own/../tool.exe"}, "::/p2:", "/p2/tool.exe"},
    {"path_entry_with_trailing_separator", "tool.exe", {"/p1/tool.exe"}, "/p1/", "/p1/tool.exe"},
    {"no_dot_searches_exe", "tool", {"/Windows/System32/tool.exe"}, {}, "/Windows/System32/tool.exe"},
    {"no_dot_ignores_file_without_extension", "tool", {"/own/tool"}, {}, "program not found", true},
    {"dotted_name_kept", "data.tool", {"/p1/data.tool"}, "/p1", "/p1/data.tool"},
    {"bare_not_found", "msiexec.exe", {"/elsewhere/msiexec.exe"}, "/p1", "program not found", true},
    {"path_with_exe_used_unchanged", "/opt/app/App.EXE", {"/opt/app/App.EXE.exe"}, {}, "/opt/app/App.EXE"},
    {"path_with_exe_not_required_to_exist", "/opt/app/app.exe", {}, {}, "/opt/app/app.exe"},
    {"path_gets_exe_when_it_exists", "/opt/app/app", {"/opt/app/app.exe", "/opt/app/app"}, {}, "/opt/app/app.exe"},
    {"path_unchanged_without_exe_file", "/opt/app/app", {"/opt/app/app"}, {}, "/opt/app/app"},
    {"relative_path_is_not_searched", "sub/tool.exe", {"/own/sub/tool.exe"}, {}, "sub/tool.exe"},
    {"batch_path_refused", "/opt/app/setup.bat", {"/opt/app/setup.bat"}, {}, "batch files are not started", true},
    {"batch_with_trailing_dot_and_space_refused", "/opt/app/setup.CMD. ", {}, {}, "batch files are not started",
     true},
    {"bare_batch_refused", "setup.cmd", {"/own/setup.cmd"}, {}, "batch files are not started", true},
    {"batch_with_exe_file_runs_the_exe", "/opt/app/setup.bat", {"/opt/app/setup.bat.exe"}, {},
     "/opt/app/setup.bat.exe"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ResolveProgram, ::testing::ValuesIn(kResolveCases),
                         testing::CaseName());

TEST(ResolveProgramSearch, AbsentPlacesAreSkipped) {
    ProgramSearch search = search_over({"/Windows/msiexec.exe", "/own/msiexec.exe"}, std::nullopt);
    search.own_executable_directory.reset();
    search.system_directory.reset();
    auto resolved = resolve_program(as_path("msiexec.exe"), search);
    ASSERT_TRUE(resolved.has_value()) << resolved.error();
    EXPECT_EQ(testing::utf8(*resolved), testing::utf8(test_path("/Windows/msiexec.exe")));
}

TEST(ResolveProgramSearch, LooksInEachPlaceInOrderUntilFound) {
    std::vector<std::string> asked;
    ProgramSearch search = search_over({}, "/p1:/p2");
    search.exists = [&asked](const Path& p) {
        asked.push_back(testing::utf8(p));
        return p == test_path("/p2/tool.exe");
    };
    ASSERT_TRUE(resolve_program(as_path("tool"), search).has_value());
    std::vector<std::string> expected;
    for (const char* e : {"/own/tool.exe", "/Windows/System32/tool.exe", "/Windows/tool.exe", "/p1/tool.exe",
                          "/p2/tool.exe"})
        expected.push_back(testing::utf8(test_path(e)));
    EXPECT_EQ(asked, expected);
}

}  // namespace
}  // namespace velmarch::process

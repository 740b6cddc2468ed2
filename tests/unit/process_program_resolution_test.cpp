// Finding the program file: bare names are searched, paths are not.

#include <gtest/gtest.h>

#include <set>

#include "process/program_resolution.h"
#include "support/case_name.h"
#include "support/process_world.h"

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
    std::string expected;  // a path, or the error text
    bool fails = false;
};

ProgramSearch search_over(const std::set<std::string>& existing) {
    std::set<NativeString> native;
    for (const auto& e : existing) native.insert(test_path(e).native());
    return ProgramSearch{
        .exists = [native](const Path& p) { return native.contains(p.native()); },
        .system_directory = test_path("/Windows/System32"),
        .windows_directory = test_path("/Windows/"),
    };
}

class ResolveProgram : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveProgram, Resolves) {
    const ResolveCase& c = GetParam();
    auto resolved = resolve_program(test_path(c.program), search_over(c.existing));
    if (c.fails) {
        ASSERT_FALSE(resolved.has_value()) << testing::utf8(*resolved);
        EXPECT_EQ(resolved.error().text, c.expected);
    } else {
        ASSERT_TRUE(resolved.has_value()) << resolved.error().text;
        EXPECT_EQ(testing::utf8(*resolved), testing::utf8(test_path(c.expected)));
    }
}

const ResolveCase kResolveCases[] = {
    {"empty", "", {}, "program path has no file name", true},
    {"trailing_separator", "/opt/app/", {"/opt/app/"}, "program path has no file name", true},
    {"system_directory_first",
     "msiexec.exe",
     {"/Windows/System32/msiexec.exe", "/Windows/msiexec.exe"},
     "/Windows/System32/msiexec.exe"},
    {"windows_directory_second", "explorer.exe", {"/Windows/explorer.exe"}, "/Windows/explorer.exe"},
    {"no_dot_searches_exe", "tool", {"/Windows/System32/tool.exe"}, "/Windows/System32/tool.exe"},
    {"no_dot_ignores_file_without_extension", "tool", {"/Windows/System32/tool"}, "program not found", true},
    {"dotted_name_kept", "data.tool", {"/Windows/data.tool"}, "/Windows/data.tool"},
    {"bare_not_found", "msiexec.exe", {"/elsewhere/msiexec.exe"}, "program not found", true},
    {"path_with_exe_used_unchanged", "/opt/app/App.EXE", {"/opt/app/App.EXE.exe"}, "/opt/app/App.EXE"},
    {"path_with_exe_not_required_to_exist", "/opt/app/app.exe", {}, "/opt/app/app.exe"},
    {"path_gets_exe_when_it_exists", "/opt/app/app", {"/opt/app/app.exe", "/opt/app/app"}, "/opt/app/app.exe"},
    {"path_unchanged_without_exe_file", "/opt/app/app", {"/opt/app/app"}, "/opt/app/app"},
    {"relative_path_is_not_searched", "sub/tool.exe", {"/Windows/System32/sub/tool.exe"}, "sub/tool.exe"},
    {"batch_path_refused", "/opt/app/setup.bat", {"/opt/app/setup.bat"}, "batch files are not started", true},
    {"batch_with_trailing_dot_and_space_refused", "/opt/app/setup.CMD. ", {}, "batch files are not started", true},
    {"bare_batch_refused", "setup.cmd", {"/Windows/System32/setup.cmd"}, "batch files are not started", true},
    {"batch_with_exe_file_runs_the_exe", "/opt/app/setup.bat", {"/opt/app/setup.bat.exe"}, "/opt/app/setup.bat.exe"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ResolveProgram, ::testing::ValuesIn(kResolveCases), testing::CaseName());

TEST(ResolveProgramSearch, AbsentPlacesAreSkipped) {
    ProgramSearch search = search_over({"/Windows/msiexec.exe", "/Windows/System32/msiexec.exe"});
    search.system_directory.reset();
    auto resolved = resolve_program(as_path("msiexec.exe"), search);
    ASSERT_TRUE(resolved.has_value()) << resolved.error().text;
    EXPECT_EQ(testing::utf8(*resolved), testing::utf8(test_path("/Windows/msiexec.exe")));

    search.windows_directory.reset();
    resolved = resolve_program(as_path("msiexec.exe"), search);
    ASSERT_FALSE(resolved.has_value());
    EXPECT_EQ(resolved.error().text, "program not found");
}

TEST(ResolveProgramSearch, LooksInEachPlaceInOrderUntilFound) {
    std::vector<std::string> asked;
    ProgramSearch search = search_over({});
    search.exists = [&asked](const Path& p) {
        asked.push_back(testing::utf8(p));
        return p == test_path("/Windows/tool.exe");
    };
    ASSERT_TRUE(resolve_program(as_path("tool"), search).has_value());
    std::vector<std::string> expected;
    for (const char* e : {"/Windows/System32/tool.exe", "/Windows/tool.exe"})
        expected.push_back(testing::utf8(test_path(e)));
    EXPECT_EQ(asked, expected);
}

// What each caller's choice searches on this process: the system's
// directories or nothing, never PATH.
TEST(ProgramSearchOfTheProcess, HoldsOnlyWhatTheCallerChose) {
    testing::FakePlatform fake;
    fake.system_dir = test_path("/Windows/System32");
    fake.windows_dir = test_path("/Windows");
    fake.environment["PATH"] = test_path_list("/home/user/bin");
    fake.add_file(test_path("/home/user/bin/tool.exe"), "");
    fake.add_file(test_path("/Windows/tool.exe"), "");

    const ProgramSearch system = program_search(fake, SearchPlaces::system_only);
    EXPECT_EQ(system.system_directory, fake.system_dir);
    EXPECT_EQ(system.windows_directory, fake.windows_dir);
    auto found = resolve_program(as_path("tool"), system);
    ASSERT_TRUE(found.has_value()) << found.error().text;
    EXPECT_EQ(*found, test_path("/Windows/tool.exe"));

    const ProgramSearch none = program_search(fake, SearchPlaces::none);
    EXPECT_EQ(none.system_directory, std::nullopt);
    EXPECT_EQ(none.windows_directory, std::nullopt);
    EXPECT_FALSE(resolve_program(as_path("tool"), none).has_value());
}

}  // namespace
}  // namespace velmarch::process

// Starting programs through the platform: what process creation is given.

#include <gtest/gtest.h>

#include "platform/path/path.h"
#include "process/launcher.h"
#include "support/process_world.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

using platform::Path;
using testing::as_path;
using testing::fake_os_error;
using testing::Op;
using testing::test_path;
using testing::test_path_list;

class Launcher : public ::testing::Test, public testing::ProcessWorld {};

TEST_F(Launcher, BareNameRunsTheFoundFileButNamesTheGivenText) {
    fake.add_file(test_path("/Windows/System32/tool.exe"), "");
    fake.on_run = [](const platform::LaunchRequest&) -> Result<std::int32_t> { return -5; };
    auto exit_code = run_and_wait(fake, as_path("tool"), {{u"a b"}, {u"X=\"y\"", true}}, test_path("/Logs"),
                                  SearchPlaces::system_only);
    ASSERT_TRUE(exit_code.has_value()) << exit_code.error().text;
    EXPECT_EQ(*exit_code, -5);
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_EQ(fake.runs[0].application, test_path("/Windows/System32/tool.exe"));
    EXPECT_EQ(text::utf16_to_utf8_lossy(fake.runs[0].command_line), "\"tool\" \"a b\" X=\"y\"");
    EXPECT_EQ(fake.runs[0].working_directory, test_path("/Logs"));
}

TEST_F(Launcher, PathProgramGetsExeWhenThatFileExists) {
    fake.add_file(test_path("/opt/tool.exe"), "");
    ASSERT_TRUE(start_detached(fake, test_path("/opt/tool"), {}, std::nullopt, SearchPlaces::none).has_value());
    ASSERT_EQ(fake.detached.size(), 1u);
    EXPECT_EQ(fake.detached[0].application, test_path("/opt/tool.exe"));
    EXPECT_EQ(text::utf16_to_utf8_lossy(fake.detached[0].command_line),
              "\"" + testing::utf8(test_path("/opt/tool")) + "\"");
    EXPECT_EQ(fake.detached[0].working_directory, std::nullopt);
}

// An elevated run inherits the user's PATH; the updater's own folder may be
// one the user can write. Neither is ever searched, whatever the caller asks.
TEST_F(Launcher, NeverSearchesPathOrTheUpdatersFolder) {
    fake.environment["PATH"] = test_path_list("/bin1:/bin2");
    fake.add_file(test_path("/bin2/helper.exe"), "");
    fake.add_file(test_path("/Updater/helper.exe"), "");
    for (const SearchPlaces places : {SearchPlaces::none, SearchPlaces::system_only}) {
        auto waited = run_and_wait(fake, as_path("helper.exe"), {}, std::nullopt, places);
        ASSERT_FALSE(waited.has_value());
        EXPECT_EQ(waited.error().text, "program not found");
        auto started = start_detached(fake, as_path("helper"), {}, std::nullopt, places);
        ASSERT_FALSE(started.has_value());
        EXPECT_EQ(started.error().text, "program not found");
    }
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_TRUE(fake.detached.empty());
}

// A bare name the system directories hold is found only when the caller
// lets the search use them.
TEST_F(Launcher, TheCallerSaysWhetherTheSystemDirectoriesAreSearched) {
    auto refused = run_and_wait(fake, as_path("msiexec.exe"), {}, std::nullopt, SearchPlaces::none);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().text, "program not found");
    EXPECT_EQ(refused.error().kind, ErrorKind::program_not_found);
    ASSERT_TRUE(run_and_wait(fake, as_path("msiexec.exe"), {}, std::nullopt, SearchPlaces::system_only));
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_EQ(fake.runs[0].application, msiexec);
}

TEST_F(Launcher, StartDetachedReturnsTheProcessId) {
    auto id = start_detached(fake, explorer, {{platform::path_to_utf16(app)}}, install_dir, SearchPlaces::none);
    ASSERT_TRUE(id.has_value()) << id.error().text;
    EXPECT_EQ(*id, 7000u);
}

TEST_F(Launcher, OwnChecksFailBeforeAnythingIsStarted) {
    const std::u16string nul(u"a\0b", 3);
    struct Case {
        Path program;
        std::vector<Argument> arguments;
        const char* error;
    };
    for (const Case& c :
         {Case{as_path("nowhere.exe"), {}, "program not found"}, Case{as_path(""), {}, "program path has no file name"},
          Case{test_path("/opt/dir/"), {}, "program path has no file name"},
          Case{msiexec, {{nul}}, "nul byte found in provided data"}}) {
        auto waited = run_and_wait(fake, c.program, c.arguments, std::nullopt, SearchPlaces::system_only);
        ASSERT_FALSE(waited.has_value());
        EXPECT_EQ(waited.error().text, c.error);
        auto started = start_detached(fake, c.program, c.arguments, std::nullopt, SearchPlaces::system_only);
        ASSERT_FALSE(started.has_value());
        EXPECT_EQ(started.error().text, c.error);
    }
    EXPECT_EQ(fake.calls(Op::run_and_wait), 0);
    EXPECT_EQ(fake.calls(Op::start_detached), 0);
}

TEST_F(Launcher, PlatformErrorsArePassedOnUnchanged) {
    fake.fail(Op::run_and_wait, fake_os_error(5));
    fake.fail(Op::start_detached, fake_os_error(2));
    auto waited = run_and_wait(fake, msiexec, {}, std::nullopt, SearchPlaces::none);
    ASSERT_FALSE(waited.has_value());
    EXPECT_EQ(waited.error().text, "Access is denied. (os error 5)");
    auto started = start_detached(fake, explorer, {}, std::nullopt, SearchPlaces::none);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error().text, "The system cannot find the file specified. (os error 2)");
}

}  // namespace
}  // namespace velmarch::process

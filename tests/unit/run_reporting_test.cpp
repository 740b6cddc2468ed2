#include <gtest/gtest.h>

#include "run/reporting.h"
#include "run/result_json.h"
#include "support/fake_platform.h"
#include "text/json_string.h"

namespace velmarch::run {
namespace {

using testing::as_path;
using testing::FakePlatform;
using testing::Op;

TEST(ResultJson, SuccessIsExactly72Bytes) {
    const std::string json = compose_result_json(update::ResultStatus::success, 0, "", "1.2.3");
    EXPECT_EQ(json, R"({"status":"success","exitCode":0,"message":"","expectedVersion":"1.2.3"})");
    EXPECT_EQ(json.size(), 72u);
}

TEST(ResultJson, StatusWordsAndSignedExitCodes) {
    const std::pair<update::ResultStatus, std::string> words[] = {
        {update::ResultStatus::error, "error"},
        {update::ResultStatus::install_verification_failed, "installVerificationFailed"},
        {update::ResultStatus::restart_required, "restartRequired"},
        {update::ResultStatus::restart_initiated, "restartInitiated"},
        {update::ResultStatus::version_conflict, "versionConflict"},
    };
    for (const auto& [status, word] : words)
        EXPECT_EQ(compose_result_json(status, 1603, "m", "v"),
                  R"({"status":")" + word + R"(","exitCode":1603,"message":"m","expectedVersion":"v"})");
    EXPECT_EQ(compose_result_json(update::ResultStatus::error, -1073741819, "", ""),
              R"({"status":"error","exitCode":-1073741819,"message":"","expectedVersion":""})");
}

TEST(ResultJson, EscapesExactlyTheControlCharactersQuoteAndBackslash) {
    const std::pair<std::string, std::string> cases[] = {
        {"say \"hi\"", R"("say \"hi\"")"},
        {"C:\\dir", R"("C:\\dir")"},
        {"a\tb\nc\rd\be\ff", R"("a\tb\nc\rd\be\ff")"},
        {std::string("\x01\x1b\x1f", 3), R"("\u0001\u001b\u001f")"},
        {std::string("\0", 1), R"("\u0000")"},
        {"/ \x7f \u00e9", "\"/ \x7f \u00e9\""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(text::json_string(in), out);
    EXPECT_EQ(compose_result_json(update::ResultStatus::success, 0, "", "2.0 \"beta\""),
              R"({"status":"success","exitCode":0,"message":"","expectedVersion":"2.0 \"beta\""})");
}

class ReportingTest : public ::testing::Test {
protected:
    FakePlatform platform;
    FileReporter reporter{platform, as_path("/Logs/helper.log"), as_path("/Logs/result.json"), "2.4.0"};
};

TEST_F(ReportingTest, LogLinesCarryWholeSecondsAndTheMessageUnchanged) {
    platform.add_directory("/Logs");
    platform.now = 1796605200;
    reporter.append_log_line("Velmarch native updater started.");
    platform.now = 0;
    reporter.append_log_line("two\nlines");
    EXPECT_EQ(platform.file_text("/Logs/helper.log"),
              "[1796605200] Velmarch native updater started.\n[0] two\nlines\n");
}

TEST_F(ReportingTest, LogAndResultFailuresAreSilent) {
    // No /Logs directory: neither file can be written, and nothing is thrown or reported.
    reporter.append_log_line("lost");
    reporter.write_result(update::ResultStatus::error, 1603, "lost");
    EXPECT_FALSE(platform.has_file("/Logs/helper.log"));
    EXPECT_FALSE(platform.has_file("/Logs/result.json"));
}

TEST_F(ReportingTest, DeletedLogIsCreatedAgainByTheNextLine) {
    platform.add_directory("/Logs");
    reporter.append_log_line("first");
    ASSERT_TRUE(platform.delete_file(as_path("/Logs/helper.log")));
    reporter.append_log_line("second");
    EXPECT_EQ(platform.file_text("/Logs/helper.log"), "[1796605200] second\n");
}

TEST_F(ReportingTest, ResultReplacesAnEarlierFileAndAddsTheExpectedVersion) {
    platform.add_file("/Logs/result.json", std::string(500, 'x'));
    reporter.write_result(update::ResultStatus::version_conflict, 1638, "conflict");
    EXPECT_EQ(platform.file_text("/Logs/result.json"),
              R"({"status":"versionConflict","exitCode":1638,"message":"conflict","expectedVersion":"2.4.0"})");
}

TEST(PrepareHelperLog, CreatesMissingDirectoriesAndEmptiesAnExistingLog) {
    FakePlatform platform;
    ASSERT_TRUE(prepare_helper_log(platform, as_path("/a/b/c/helper.log")));
    EXPECT_TRUE(platform.has_directory("/a/b/c"));
    EXPECT_EQ(platform.file_text("/a/b/c/helper.log"), "");

    platform.add_file("/Logs/helper.log", "old run\n");
    ASSERT_TRUE(prepare_helper_log(platform, as_path("/Logs/helper.log")));
    EXPECT_EQ(platform.file_text("/Logs/helper.log"), "");
}

TEST(PrepareHelperLog, ReturnsTheOsErrorTextOfTheFirstFailure) {
    FakePlatform platform;
    platform.fail(Op::create_directories, "Access is denied. (os error 5)");
    auto prepared = prepare_helper_log(platform, as_path("/locked/helper.log"));
    ASSERT_FALSE(prepared);
    EXPECT_EQ(prepared.error().text, "Access is denied. (os error 5)");
    EXPECT_EQ(platform.calls(Op::write_file), 0);

    FakePlatform other;
    other.add_directory("/Logs/helper.log");  // a directory in the way
    auto blocked = prepare_helper_log(other, as_path("/Logs/helper.log"));
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().text, "Access is denied. (os error 5)");
}

TEST(RemoveResultFile, DeletesAndIgnoresAMissingFile) {
    FakePlatform platform;
    platform.add_file("/Logs/result.json", "{}");
    remove_result_file(platform, as_path("/Logs/result.json"));
    EXPECT_FALSE(platform.has_file("/Logs/result.json"));
    remove_result_file(platform, as_path("/Logs/result.json"));
    EXPECT_EQ(platform.calls(Op::delete_file), 2);
}

}  // namespace
}  // namespace velmarch::run

#include <gtest/gtest.h>

#include "run/command_line.h"
#include "support/test_paths.h"

namespace velmarch::run {
namespace {

using testing::as_path;

using Args = std::vector<std::string>;

Args full_arguments() {
    return {"--parent-process-id",
            "42",
            "--msi-path",
            "/d/pkg.msi",
            "--install-dir",
            "/apps/Velmarch",
            "--app-path",
            "/apps/Velmarch/velmarch.exe",
            "--msi-log-path",
            "/logs/msi.log",
            "--helper-log-path",
            "/logs/helper.log",
            "--result-path",
            "/logs/result.json",
            "--expected-sha256",
            "ABCDEF0123",
            "--expected-version",
            " 2.4.0 ",
            "--signature",
            "c2ln",
            "--key-id",
            "velmarch-update-2026-01",
            "--signature-algorithm",
            "ed25519"};
}

Args with(Args args, const std::string& name, const std::string& value) {
    args.push_back(name);
    args.push_back(value);
    return args;
}

Args without(const std::string& name) {
    Args args = full_arguments();
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (args[i] == name) {
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                       args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            break;
        }
    }
    return args;
}

std::string error_of(const Args& args) {
    auto parsed = parse_command_line(args);
    EXPECT_FALSE(parsed.has_value());
    return parsed ? std::string("<parsed>") : parsed.error().text;
}

TEST(ParseCommandLine, FullRequestIsReadAndNormalised) {
    auto request = parse_command_line(full_arguments());
    ASSERT_TRUE(request) << request.error().text;
    EXPECT_EQ(request->parent_process_id, 42u);
    EXPECT_EQ(request->msi_path, as_path("/d/pkg.msi"));
    EXPECT_EQ(request->install_dir, as_path("/apps/Velmarch"));
    EXPECT_EQ(request->app_path, as_path("/apps/Velmarch/velmarch.exe"));
    EXPECT_EQ(request->msi_log_path, as_path("/logs/msi.log"));
    EXPECT_EQ(request->helper_log_path, as_path("/logs/helper.log"));
    EXPECT_EQ(request->result_path, as_path("/logs/result.json"));
    EXPECT_EQ(request->expected_sha256, "abcdef0123");
    EXPECT_EQ(request->expected_version, "2.4.0");
    EXPECT_EQ(request->signature, "c2ln");
    EXPECT_EQ(request->key_id, "velmarch-update-2026-01");
    EXPECT_EQ(request->signature_algorithm, "ed25519");
    EXPECT_FALSE(request->repair_mode);
}

TEST(ParseCommandLine, WalkFailuresComeBeforeMissingOptions) {
    struct Case {
        Args args;
        std::string message;
    } cases[] = {
        {{}, "--parent-process-id is required."},
        {{"--msi-path"}, "Missing value for --msi-path"},
        {{"  --msi-path\t"}, "Missing value for --msi-path"},
        {{"stray"}, "Unexpected argument: stray"},
        {{"--msi-path", "a", "b", "c"}, "Unexpected argument: b"},
        {{"", "x"}, "Unexpected argument: "},
        {{"-", "x"}, "Unexpected argument: -"},
        {{"-msi-path", "x"}, "Unexpected argument: -msi-path"},
        {{" value ", "x"}, "Unexpected argument: value"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.args), c.message);
}

TEST(ParseCommandLine, RequiredOptionsAreReportedInReadingOrder) {
    const char* order[] = {"msi-path",        "install-dir", "app-path",           "msi-log-path",
                           "helper-log-path", "result-path", "expected-sha256",    "expected-version",
                           "signature",       "key-id",      "signature-algorithm"};
    for (const char* name : order) {
        const std::string option = std::string("--") + name;
        EXPECT_EQ(error_of(without(option)), option + " is required.");
        EXPECT_EQ(error_of(with(full_arguments(), option, " \t\u3000")), option + " is required.");
    }
    // With several missing, the first in the reading order is named.
    Args args = {"--signature", "x"};
    EXPECT_EQ(error_of(args), "--parent-process-id is required.");
}

TEST(ParseCommandLine, ProcessIdAcceptsOnlyOptionallySignedDecimal32Bit) {
    const std::pair<std::string, std::uint32_t> accepted[] = {
        {"+42", 42}, {"0042", 42}, {" 42 ", 42}, {"0", 0}, {"4294967295", 4294967295u}};
    for (const auto& [text, value] : accepted) {
        auto request = parse_command_line(with(without("--parent-process-id"), "--parent-process-id", text));
        ASSERT_TRUE(request) << text;
        EXPECT_EQ(request->parent_process_id, value);
    }
    for (const char* text : {"4294967296", "-1", "+", "++42", "4 2", "0x2A", "42a", "99999999999999999999"}) {
        EXPECT_EQ(error_of(with(without("--parent-process-id"), "--parent-process-id", text)),
                  "--parent-process-id must be a process id.")
            << text;
    }
    EXPECT_EQ(error_of(with(without("--parent-process-id"), "--parent-process-id", " ")),
              "--parent-process-id is required.");
}

TEST(ParseCommandLine, LaterValueWinsAndUnknownHyphenatedOrPaddedNamesAreAccepted) {
    // Later values win; unknown options are ignored; extra hyphens are stripped in pairs.
    Args args = with(with(full_arguments(), "--expected-version", "3.0"), "--unknown", "x");
    args = with(args, "----key-id", "other");
    args = with(args, "  --result-path  ", "/r.json");
    auto request = parse_command_line(args);
    ASSERT_TRUE(request) << request.error().text;
    EXPECT_EQ(request->expected_version, "3.0");
    EXPECT_EQ(request->key_id, "other");
    EXPECT_EQ(request->result_path, as_path("/r.json"));

    // A value may itself look like an option.
    request = parse_command_line(with(full_arguments(), "--msi-path", "--install-dir"));
    ASSERT_TRUE(request) << request.error().text;
    EXPECT_EQ(request->msi_path, as_path("--install-dir"));

    // Three hyphens leave "-msi-path", which no option reads.
    EXPECT_EQ(error_of(with(without("--msi-path"), "---msi-path", "/x.msi")), "--msi-path is required.");
}

TEST(ParseCommandLine, RepairModeIsOnOnlyForExactlyTrue) {
    const std::pair<std::string, bool> cases[] = {{"true", true}, {"TRUE", false},  {"yes", false},
                                                  {"1", false},   {" true", false}, {"true ", false}};
    for (const auto& [value, on] : cases) {
        auto request = parse_command_line(with(full_arguments(), "--repair-mode", value));
        ASSERT_TRUE(request);
        EXPECT_EQ(request->repair_mode, on) << value;
    }
}

}  // namespace
}  // namespace velmarch::run

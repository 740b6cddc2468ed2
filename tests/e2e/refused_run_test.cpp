// Runs that end before the installer: bad options, a helper log that cannot
// be prepared, a refused package, a staging failure.

#include <functional>

#include "e2e/stand_in_machine.h"
#include "support/test_signing.h"

namespace velmarch::e2e {
namespace {

using e2e::PrintTo;  // found by argument-dependent lookup for the cases below

// A run that ends before anything is written: the earlier helper log and
// result stay, nothing is staged, installed or restarted, the download stays.
void expect_nothing_touched(const StandInMachine& machine, const UpdaterRun& run, const std::string& message) {
    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(run.standard_error, message + "\n");
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), "earlier result");
    EXPECT_TRUE(holds(fs_path(machine.request.msi_path), machine.package_content()));
    EXPECT_TRUE(machine.temp_directory_untouched());
    EXPECT_TRUE(machine.invocations("msiexec").empty());
    EXPECT_TRUE(machine.invocations("explorer").empty());
}

// --- options that do not parse --------------------------------------------------

struct ParseCase {
    const char* name;
    std::function<std::vector<std::string>(const StandInMachine&)> arguments;
    const char* message;
};

class UnparsableOptions : public StandInParamTest<ParseCase> {};

TEST_P(UnparsableOptions, AbortWithoutTouchingAnything) {
    write_text(fs_path(machine.request.helper_log_path), "earlier log\n");
    write_text(fs_path(machine.request.result_path), "earlier result");

    const UpdaterRun run = machine.run(GetParam().arguments(machine));

    expect_nothing_touched(machine, run, GetParam().message);
    EXPECT_EQ(read_text(fs_path(machine.request.helper_log_path)), "earlier log\n");
}

std::vector<std::string> with_value(std::vector<std::string> arguments, std::string_view option, std::string value) {
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == option) arguments[i + 1] = std::move(value);
    return arguments;
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, UnparsableOptions,
    ::testing::Values(ParseCase{"NoArguments", [](const StandInMachine&) { return std::vector<std::string>{}; },
                                "--parent-process-id is required."},
                      ParseCase{
                          "BlankInstallDirectory",
                          [](const StandInMachine& m) { return with_value(m.arguments(), "--install-dir", " \t "); },
                          "--install-dir is required."},
                      ParseCase{"StrayValue",
                                [](const StandInMachine& m) {
                                    std::vector<std::string> arguments = m.arguments();
                                    arguments.insert(arguments.begin() + 2, "stray");
                                    return arguments;
                                },
                                "Unexpected argument: stray"},
                      ParseCase{"ArgumentThatIsNotUtf8",
                                [](const StandInMachine& m) { return with_value(m.arguments(), "--key-id", "\xff"); },
                                "Argument 22 is not valid UTF-8 text."}),
    CaseName());

// --- a helper log that cannot be prepared ---------------------------------------

struct BlockedLogCase {
    const char* name;
    std::function<fs::path(const fs::path& logs)> block;  // returns the helper log path
    const char* message;
};

class BlockedHelperLog : public StandInParamTest<BlockedLogCase> {};

TEST_P(BlockedHelperLog, AbortsWithTheSystemsTextAndKeepsTheEarlierResult) {
    write_text(fs_path(machine.request.result_path), "earlier result");
    machine.request.helper_log_path = to_path(GetParam().block(fs_path(machine.request.result_path).parent_path()));

    const UpdaterRun run = machine.run();

    expect_nothing_touched(machine, run, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, BlockedHelperLog,
                         ::testing::Values(BlockedLogCase{"DirectoryAtThePath",
                                                          [](const fs::path& logs) {
                                                              fs::create_directory(logs / "helper.log");
                                                              return logs / "helper.log";
                                                          },
                                                          "Is a directory (os error 21)"},
                                           BlockedLogCase{"FileWhereADirectoryMustBe",
                                                          [](const fs::path& logs) {
                                                              write_text(logs / "blocker", "");
                                                              return logs / "blocker" / "more" / "helper.log";
                                                          },
                                                          "Not a directory (os error 20)"}),
                         CaseName());

// --- refused packages and failed staging ---------------------------------------

// A package or staging failure: the download is deleted, the failure logged
// and recorded, the application restarted; nothing was installed.
void expect_refused(const StandInMachine& machine, const UpdaterRun& run, const std::string& log_line,
                    const std::string& message, const std::string& shell_text, bool download_deleted = true) {
    const std::optional<Invocation> shell = machine.wait_for_restart();
    ASSERT_TRUE(shell) << "the application was not restarted";
    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(machine.helper_log_messages(run),
              (std::vector<std::string>{kStarted, log_line, restart_line(shell_text, shell->process_id)}));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("error", 1603, message));
    EXPECT_EQ(shell->arguments, std::vector<std::string>{machine.request.app_path.native()});
    if (download_deleted) {
        EXPECT_FALSE(fs::exists(fs_path(machine.request.msi_path))) << "the refused download was kept";
    } else {
        EXPECT_TRUE(holds(fs_path(machine.request.msi_path), machine.package_content()));
    }
    EXPECT_TRUE(machine.invocations("msiexec").empty());
    EXPECT_TRUE(machine.invocations("application").empty());
}

struct PackageCase {
    const char* name;
    std::function<void(StandInMachine&)> spoil;
    const char* message;
    bool download_deleted = true;
};

class RefusedPackage : public StandInParamTest<PackageCase> {};

TEST_P(RefusedPackage, IsDeletedRecordedAndNeverStaged) {
    write_text(fs_path(machine.request.result_path), "earlier result");
    GetParam().spoil(machine);

    const UpdaterRun run = machine.run();

    expect_refused(machine, run, std::string("Package verification failed: ") + GetParam().message, GetParam().message,
                   machine.shell_path().string(), GetParam().download_deleted);
    EXPECT_TRUE(machine.temp_directory_untouched()) << "a staging directory was created";
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, RefusedPackage,
    ::testing::Values(PackageCase{"WrongDigest",
                                  [](StandInMachine& m) {
                                      m.request.expected_sha256 = testing::sha256_hex("another package");
                                  },
                                  kDigestRefused},
                      PackageCase{"SignatureForAnotherVersion",
                                  [](StandInMachine& m) {
                                      m.request.signature = testing::sign_with_development_key(
                                          "velmarch-update-v1\nkey-id:velmarch-update-2026-01\nversion:2.4.1\nsha256:" +
                                          m.request.expected_sha256 + "\n");
                                  },
                                  kSignatureRefused},
                      PackageCase{"NotAnMsi",
                                  [](StandInMachine& m) {
                                      const fs::path renamed =
                                          fs::path(fs_path(m.request.msi_path)).replace_extension(".exe");
                                      fs::rename(fs_path(m.request.msi_path), renamed);
                                      m.request.msi_path = to_path(renamed);
                                  },
                                  kNotAnMsi,
                                  // A file not named like a package is never deleted: a
                                  // mistyped --msi-path must not cost the user that file.
                                  false}),
    CaseName());

// Rewriting the downloaded package while staging copies it is to end as a
// staging failure with the digest message. The hook for it: write a package of
// several hundred megabytes with write_package, start() the updater, rewrite
// request.msi_path once the staging directory appears under temp_directory(),
// then wait() and check with expect_refused.

struct StagingCase {
    const char* name;
    // Breaks the protected temporary directory; returns the program text the
    // restart line names.
    std::function<std::string(StandInMachine&)> arrange;
};

class StagingFailure : public StandInParamTest<StagingCase> {};

TEST_P(StagingFailure, DeletesTheDownloadRecordsAndRestarts) {
    const std::string shell_text = GetParam().arrange(machine);

    const UpdaterRun run = machine.run();

    const std::string message = kNoTempDirectory;
    expect_refused(machine, run, kStagingFailed + message, message, shell_text);
    EXPECT_TRUE(!fs::is_directory(machine.temp_directory()) || machine.temp_directory_untouched());
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, StagingFailure,
                         ::testing::Values(StagingCase{"TempMissing",
                                                       [](StandInMachine& m) {
                                                           fs::remove(m.temp_directory());
                                                           return m.shell_path().string();
                                                       }},
                                           StagingCase{"TempIsAFile",
                                                       [](StandInMachine& m) {
                                                           fs::remove(m.temp_directory());
                                                           write_text(m.temp_directory(), "");
                                                           return m.shell_path().string();
                                                       }}),
                         CaseName());

// Without a Windows directory (SystemRoot unset on the stand-in) staging has
// nowhere to go, and the bare "explorer.exe" is looked for in the system and
// Windows directories only: a shell placed on the user's PATH never starts.
TEST_F(StandInTest, WithoutAWindowsDirectoryStagingFailsAndNoShellIsTakenFromPath) {
    const fs::path bin = machine.root() / "bin";
    fs::create_directory(bin);
    machine.write_stand_in(bin / "explorer.exe", "explorer");
    machine.environment.erase("SystemRoot");
    machine.environment["PATH"] = bin.string() + ":/usr/bin:/bin";

    const UpdaterRun run = machine.run();

    const std::string message = kNoTempDirectory;
    EXPECT_EQ(run.exit_status, kAbortStatus);
    EXPECT_EQ(machine.helper_log_messages(run),
              (std::vector<std::string>{kStarted, kStagingFailed + message,
                                        "Application restart failed: program not found"}));
    EXPECT_EQ(read_text(fs_path(machine.request.result_path)), expected_result("error", 1603, message));
    EXPECT_TRUE(machine.invocations("explorer").empty()) << "a shell from PATH was started";
    EXPECT_TRUE(machine.invocations("msiexec").empty());
}

}  // namespace
}  // namespace velmarch::e2e

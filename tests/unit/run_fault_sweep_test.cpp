// A full run in which each platform operation fails at each of its call
// sites in turn. Every failure must end as the run's failure tables say, and
// no failure may leak a handle, skip the removal of staging, or hand the
// installer anything but the verified bytes: once staging is done, the
// download is rewritten, and the fake installer reads the package its command
// line names.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "platform/path/path.h"
#include "run/run_update.h"
#include "support/fake_platform.h"
#include "support/machine_layout.h"
#include "support/msiexec_command_line.h"
#include "support/update_machine.h"
#include "text/utf.h"

namespace velmarch::run {
namespace {

using testing::as_path;
using testing::FakePlatform;
using testing::Op;

constexpr std::string_view kInjected = "Injected failure. (os error 1)";
const std::string kPackage(20000, 'p');                      // several copy chunks
const std::string kRewritten(20000, 'x');                    // what the download becomes after it was verified
constexpr std::string_view kInstallerLog = "installer log";  // one read
constexpr std::string_view kOldResult = testing::kEarlierResult;
// What a killed earlier run left: swept by every run that meets no failure
// in the sweep itself.
const std::string kEarlierStaging = "/Windows/Temp/VelmarchUpdate-4242-00112233445566778899aabbccddeeff";

struct Expected {
    std::int32_t exit_code = 0;
    std::string standard_error;          // empty: nothing written
    std::optional<std::string> message;  // result message; nullopt: no result written by this run
    bool keeps_old_result = false;
    bool deletes_download = false;
};

Expected success() { return Expected{0, "", "", false, false}; }
Expected finished(std::int32_t code, std::string message, bool deletes_download = false) {
    return Expected{code, "", std::move(message), false, deletes_download};
}
Expected refused(std::string message) { return finished(1603, std::move(message), true); }
Expected aborted(std::string standard_error, bool keeps_old_result = false) {
    return Expected{1603, std::move(standard_error) + "\n", std::nullopt, keeps_old_result, false};
}

const std::string injected(kInjected);
const std::string kNoWorkingDirectory = "The updater's working directory could not be read: ";

// What each call site's failure must lead to, in the order of a successful run.
const std::map<std::pair<Op, int>, Expected>& expectations() {
    static const std::map<std::pair<Op, int>, Expected> table = {
        {{Op::arguments, 1}, aborted(injected, true)},
        // The working directory, asked for each path that is not absolute:
        // the relative result path, and on Windows every path of the test
        // machine (\Logs\helper.log names no drive).
        {{Op::working_directory_for, 1}, aborted(kNoWorkingDirectory + injected, true)},
#ifdef _WIN32
        {{Op::working_directory_for, 2}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, 3}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, 4}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, 5}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, 6}, aborted(kNoWorkingDirectory + injected, true)},
#endif
        {{Op::create_directories, 1}, aborted(injected, true)},
        // In an elevated run (the fake's default), each operation on a path
        // asks for the volume of every path it is given first; a failing
        // query refuses the path, so it ends as its operation's failure.
        {{Op::volume, 1}, aborted(injected, true)},
        {{Op::write_file, 1}, aborted(injected, true)},
        {{Op::volume, 2}, aborted(injected, true)},
        {{Op::delete_file, 1}, success()},  // removing the old result
        {{Op::volume, 3}, success()},
        {{Op::append_to_file, 1}, success()},
        {{Op::volume, 4}, success()},
        // The sweep of an earlier run's staging: whatever fails, the run goes on.
        {{Op::open_held_directory, 1}, success()},
        {{Op::volume, 5}, success()},
        {{Op::held_names, 1}, success()},
        {{Op::create_security_descriptor, 1}, success()},
        {{Op::held_open_directory, 1}, success()},
        {{Op::held_facts, 1}, success()},
        {{Op::held_access_list, 1}, success()},
        {{Op::held_names, 2}, success()},
        {{Op::take_file, 1}, success()},
        {{Op::held_facts, 2}, success()},
        {{Op::take_file, 2}, success()},
        {{Op::held_facts, 3}, success()},
        {{Op::held_remove, 1}, success()},
        {{Op::held_remove, 2}, success()},
        {{Op::held_remove, 3}, success()},
        {{Op::append_to_file, 2}, success()},
        {{Op::volume, 6}, success()},
        // First verification of the download.
        {{Op::file_type, 1}, refused("The downloaded update package is not a valid MSI file.")},
        {{Op::volume, 7}, refused("The downloaded update package is not a valid MSI file.")},
        {{Op::open_for_reading, 1}, refused(injected)},
        {{Op::volume, 8}, refused(injected)},
        {{Op::read, 1}, refused(injected)},
        {{Op::read, 2}, refused(injected)},
        {{Op::read, 3}, refused(injected)},
        // Reading stops at the length the file had when it was opened: no
        // read of 0 bytes follows, here or in the second verification.
        // Staging.
        {{Op::file_type, 2}, refused("The protected Windows temporary directory was not found.")},
        {{Op::volume, 9}, refused("The protected Windows temporary directory was not found.")},
        {{Op::free_bytes, 1}, refused("The free space for restricted staging could not be read: " + injected)},
        {{Op::volume, 10}, refused("The free space for restricted staging could not be read: " + injected)},
        {{Op::create_security_descriptor, 2},
         refused("The restricted staging security descriptor could not be created: " + injected)},
        {{Op::create_directory, 1},
         refused("The administrator-only staging directory could not be created: " + injected)},
        {{Op::volume, 11}, refused("The administrator-only staging directory could not be created: " + injected)},
        {{Op::open_for_reading, 2}, refused("The verified update package could not be reopened: " + injected)},
        {{Op::volume, 12}, refused("The verified update package could not be reopened: " + injected)},
        {{Op::create_new_file, 1}, refused("The restricted staged MSI could not be created: " + injected)},
        {{Op::volume, 13}, refused("The restricted staged MSI could not be created: " + injected)},
        {{Op::read, 4}, refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::write, 1}, refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::read, 5}, refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::write, 2}, refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::read, 6}, refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::write, 3}, refused("The update package could not be copied to restricted staging: " + injected)},
        // The copy stops at the verified length: no read of 0 bytes follows.
        {{Op::flush, 1}, refused("The restricted staged MSI could not be finalized: " + injected)},
        {{Op::hold_file, 1}, refused("The restricted staged MSI could not be held: " + injected)},
        {{Op::volume, 14}, refused("The restricted staged MSI could not be held: " + injected)},
        // Second verification, of the staged copy.
        {{Op::file_type, 3}, refused("The downloaded update package is not a valid MSI file.")},
        {{Op::volume, 15}, refused("The downloaded update package is not a valid MSI file.")},
        {{Op::open_for_reading, 3}, refused(injected)},
        {{Op::volume, 16}, refused(injected)},
        {{Op::read, 7}, refused(injected)},
        {{Op::read, 8}, refused(injected)},
        {{Op::read, 9}, refused(injected)},
        {{Op::append_to_file, 3}, success()},
        {{Op::volume, 17}, success()},
        // The previous process: one that cannot be opened counts as gone.
        {{Op::open_process_for_wait, 1}, success()},
        {{Op::append_to_file, 4}, success()},
        {{Op::volume, 18}, success()},
        {{Op::wait, 1}, aborted("Waiting for the previous application process failed.")},
        // Installer stage.
        {{Op::file_type, 4}, finished(1603, "Windows Installer was not found.")},
        {{Op::volume, 19}, finished(1603, "Windows Installer was not found.")},
        {{Op::append_to_file, 5}, success()},
        {{Op::volume, 20}, success()},
        {{Op::run_and_wait, 1}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::volume, 21}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::append_to_file, 6}, success()},
        {{Op::volume, 22}, success()},
        // Delivering the installer's log from staging: never fails the run.
        {{Op::open_for_reading, 4}, success()},
        {{Op::volume, 23}, success()},
        {{Op::read, 10}, success()},
        {{Op::write_file, 2}, success()},
        {{Op::volume, 24}, success()},
        {{Op::file_type, 5}, finished(1603, "The installed application executable was not found after the update.")},
        {{Op::volume, 25}, finished(1603, "The installed application executable was not found after the update.")},
        // The version check: the application and its working directory.
        {{Op::run_and_wait, 2}, finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::volume, 26}, finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::volume, 27}, finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::write_file, 3}, Expected{0, "", std::nullopt, false, false}},  // the result is lost silently
        {{Op::volume, 28}, Expected{0, "", std::nullopt, false, false}},
        // Restart: logged only, never changes the outcome.
        {{Op::file_type, 6}, success()},
        {{Op::volume, 29}, success()},
        {{Op::file_type, 7}, success()},
        {{Op::volume, 30}, success()},
        {{Op::start_detached, 1}, success()},
        {{Op::volume, 31}, success()},
        {{Op::volume, 32}, success()},
        {{Op::append_to_file, 7}, success()},
        {{Op::volume, 33}, success()},
        // Removing staging (the installer's log, the package, the tree):
        // failures are ignored.
        {{Op::delete_file, 2}, success()},
        {{Op::volume, 34}, success()},
        {{Op::delete_file, 3}, success()},
        {{Op::volume, 35}, success()},
        {{Op::remove_directory_tree, 1}, success()},
        {{Op::volume, 36}, success()},
    };
    return table;
}

bool is_sweep_call(Op op, int n) {
    switch (op) {
        case Op::open_held_directory:
        case Op::held_facts:
        case Op::held_access_list:
        case Op::held_names:
        case Op::held_open_directory:
        case Op::take_file:
        case Op::held_remove: return true;
        case Op::create_security_descriptor: return n == 1;
        default: return false;
    }
}

// The operation a call site belongs to in `sequence` (a clean run's): a
// volume query belongs to the operation made just before it.
std::pair<Op, int> operation_of(std::pair<Op, int> site, const std::vector<std::pair<Op, int>>& sequence) {
    if (site.first != Op::volume) return site;
    std::pair<Op, int> last{Op::arguments, 0};
    for (const auto& step : sequence) {
        if (step == site) return last;
        if (step.first != Op::volume) last = step;
    }
    return site;
}

// Entries of the Temp folder, the folder itself included, apart from what
// the earlier run left.
std::size_t temp_entries_apart_from_earlier_staging(const FakePlatform& p) {
    std::size_t count = 0;
    for (const auto& entry : p.entries_below("/Windows/Temp"))
        if (!platform::path_to_utf8(entry).starts_with(kEarlierStaging)) ++count;
    return count;
}

class FaultSweep {
public:
    FaultSweep() {
        testing::set_up_update_machine(platform, kPackage);
        platform.add_file(kEarlierStaging + "/velmarch-update.msi", "an earlier package");
        platform.add_file(kEarlierStaging + "/velmarch-installer.log", "an earlier log");
        platform.running_processes = {77};
        platform.max_read_chunk = 8192;
        platform.on_run = [this](const platform::LaunchRequest& launch) -> Result<std::int32_t> {
            if (launch.application.filename() == as_path("msiexec.exe")) {
                const auto arguments = testing::split_msiexec_command_line(launch.command_line).arguments;
                for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
                    const platform::Path next = platform::path_from_utf8(text::utf16_to_utf8_lossy(arguments[i + 1]));
                    if (arguments[i] == u"/i") installed_bytes = platform.file_text(next);
                    if (arguments[i] == u"/L*v") platform.add_file(next, kInstallerLog);
                }
                if (busy_answers > 0) {
                    --busy_answers;
                    return 1618;
                }
            }
            return 0;
        };
        platform.before_call = [this](Op op, int n) {
            sequence.emplace_back(op, n);
            if (std::pair(op, n) == rewrite_download_at && platform.has_file("/Downloads/velmarch-2.4.0.msi"))
                platform.add_file("/Downloads/velmarch-2.4.0.msi", kRewritten);
        };
        platform.args = testing::update_arguments(kPackage);
        // Read against the working directory, "/Logs/result.json".
        platform.working_directory = testing::test_path("/Logs");
        for (std::size_t i = 0; i + 1 < platform.args.size(); i += 2)
            if (platform.args[i] == "--result-path") platform.args[i + 1] = "result.json";
    }

    FakePlatform platform;
    std::vector<std::pair<Op, int>> sequence;
    std::optional<std::string> installed_bytes;
    // By default the first step after staging: the wait for the previous process.
    std::pair<Op, int> rewrite_download_at{Op::open_process_for_wait, 1};
    int busy_answers = 0;  // runs of the installer that answer 1618 first
};

// The call sites a busy installer adds, after the first installer run of the
// table above (from that run's volume query on): its exit line, the delivery of its log, the wait's line, the
// second run, its exit line and the delivery that adds its log. What each
// failure there leads to, and the call sites after it, shifted.
const std::map<std::pair<Op, int>, Expected>& busy_expectations() {
    static const std::map<std::pair<Op, int>, Expected> table = {
        {{Op::volume, 21}, aborted("Windows Installer could not be started: " + injected)},  // the first run's
        {{Op::append_to_file, 6}, success()},
        {{Op::volume, 22}, success()},
        {{Op::open_for_reading, 4}, success()},
        {{Op::volume, 23}, success()},
        {{Op::read, 10}, success()},
        {{Op::write_file, 2}, success()},
        {{Op::volume, 24}, success()},
        {{Op::delete_file, 2}, success()},  // the busy run's log, once delivered
        {{Op::volume, 25}, success()},
        {{Op::append_to_file, 7}, success()},  // "Windows Installer is busy ..."
        {{Op::volume, 26}, success()},
        {{Op::run_and_wait, 2}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::volume, 27}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::append_to_file, 8}, success()},
        {{Op::volume, 28}, success()},
        {{Op::open_for_reading, 5}, success()},
        {{Op::volume, 29}, success()},
        {{Op::read, 11}, success()},
        {{Op::append_to_file, 9}, success()},  // the second run's log, added
        {{Op::volume, 30}, success()},
        {{Op::file_type, 5}, finished(1603, "The installed application executable was not found after the update.")},
        {{Op::volume, 31}, finished(1603, "The installed application executable was not found after the update.")},
        {{Op::run_and_wait, 3}, finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::volume, 32}, finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::volume, 33}, finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::write_file, 3}, Expected{0, "", std::nullopt, false, false}},
        {{Op::volume, 34}, Expected{0, "", std::nullopt, false, false}},
        {{Op::file_type, 6}, success()},
        {{Op::volume, 35}, success()},
        {{Op::file_type, 7}, success()},
        {{Op::volume, 36}, success()},
        {{Op::start_detached, 1}, success()},
        {{Op::volume, 37}, success()},
        {{Op::volume, 38}, success()},
        {{Op::append_to_file, 10}, success()},
        {{Op::volume, 39}, success()},
        {{Op::delete_file, 3}, success()},
        {{Op::volume, 40}, success()},
        {{Op::delete_file, 4}, success()},
        {{Op::volume, 41}, success()},
        {{Op::remove_directory_tree, 1}, success()},
        {{Op::volume, 42}, success()},
    };
    return table;
}

TEST(RunFaultSweep, EveryCallSiteOfASuccessfulRunIsCovered) {
    FaultSweep clean;
    ASSERT_EQ(run_updater_process(clean.platform), 0);
    for (const auto& site : clean.sequence)
        EXPECT_TRUE(expectations().contains(site))
            << "no expectation for " << testing::op_name(site.first) << " #" << site.second;
    EXPECT_EQ(clean.sequence.size(), expectations().size());
}

// Once busy, then installed: every call site from the first installer run on
// is the one the table names, each failure ends as its row says, and none
// leaks a handle or skips the removal of staging. The caller's installer log
// holds both runs' logs when nothing failed.
TEST(RunFaultSweep, EveryCallSiteOfABusyInstallerIsCoveredAndEndsAsItsRowSays) {
    FaultSweep clean;
    clean.busy_answers = 1;
    ASSERT_EQ(run_updater_process(clean.platform), 0);
    EXPECT_EQ(clean.platform.sleeps, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(clean.platform.file_text("/Logs/msiexec.log"), std::string(kInstallerLog) + std::string(kInstallerLog));
    const auto first_run = std::find(clean.sequence.begin(), clean.sequence.end(), std::pair(Op::run_and_wait, 1));
    ASSERT_NE(first_run, clean.sequence.end());
    const std::vector<std::pair<Op, int>> after(first_run + 1, clean.sequence.end());
    for (const auto& site : after)
        EXPECT_TRUE(busy_expectations().contains(site))
            << "no expectation for " << testing::op_name(site.first) << " #" << site.second;
    EXPECT_EQ(after.size(), busy_expectations().size());

    for (const auto& [site, expected] : busy_expectations()) {
        const auto& [op, n] = site;
        SCOPED_TRACE(std::string(testing::op_name(op)) + " #" + std::to_string(n));
        FaultSweep sweep;
        sweep.busy_answers = 1;
        sweep.platform.fail(op, std::string(kInjected), n);
        FakePlatform& p = sweep.platform;
        EXPECT_EQ(run_updater_process(p), expected.exit_code);
        EXPECT_EQ(p.standard_error, expected.standard_error);
        const std::string result = p.file_text("/Logs/result.json");
        if (!expected.message) {
            EXPECT_FALSE(p.has_file("/Logs/result.json")) << result;
        } else {
            EXPECT_NE(result.find("\"message\":\"" + *expected.message + "\""), std::string::npos) << result;
        }
        EXPECT_EQ(p.files_opened, p.files_closed);
        EXPECT_EQ(p.calls(Op::remove_directory_tree), 1);
        if (operation_of(site, clean.sequence).first != Op::remove_directory_tree) {
            EXPECT_EQ(p.entries_below("/Windows/Temp").size(), 1u);
        }
    }
}

TEST(RunFaultSweep, TheInstallerGetsTheStagedCopyNotTheRewrittenDownload) {
    FaultSweep sweep;
    ASSERT_EQ(run_updater_process(sweep.platform), 0);
    EXPECT_EQ(sweep.platform.file_text("/Downloads/velmarch-2.4.0.msi"), kRewritten);
    ASSERT_TRUE(sweep.installed_bytes.has_value());
    EXPECT_EQ(*sweep.installed_bytes, kPackage);
}

// Rewritten between the first verification and the copy: the staged copy
// fails its own verification and the installer never runs.
TEST(RunFaultSweep, ADownloadRewrittenBeforeTheCopyIsRefusedByTheSecondVerification) {
    FaultSweep sweep;
    sweep.rewrite_download_at = {Op::file_type, 2};  // staging's first step
    EXPECT_EQ(run_updater_process(sweep.platform), 1603);
    EXPECT_NE(sweep.platform.file_text("/Logs/result.json").find("Update package SHA-256 verification failed."),
              std::string::npos);
    EXPECT_FALSE(sweep.installed_bytes.has_value());
    EXPECT_FALSE(sweep.platform.has_file("/Downloads/velmarch-2.4.0.msi"));
}

// A FIFO, pipe or device at a caller-named path, there from the start or
// planted while the installer runs, ends the run as that operation's failure
// does: nothing waits on it, and staging is removed once it was created.
TEST(RunFaultSweep, AFifoAtACallerNamedPathEndsTheRunAsThatFailureDoes) {
    const std::string not_regular(platform::kNotARegularFile);
    struct Case {
        std::string_view name;
        std::string path;
        std::pair<Op, int> planted_at;
        Expected expected;
    } cases[] = {
        {"helper log", "/Logs/helper.log", {Op::arguments, 1}, aborted(not_regular, true)},
        {"download",
         "/Downloads/velmarch-2.4.0.msi",
         {Op::arguments, 1},
         refused("The downloaded update package is not a valid MSI file.")},
        // Nothing opens the installer log before the copy after the install,
        // which refuses it: the run goes on and the log is not delivered.
        {"installer log", "/Logs/msiexec.log", {Op::arguments, 1}, success()},
        {"installer log, during the install", "/Logs/msiexec.log", {Op::run_and_wait, 1}, success()},
        {"result, during the install", "/Logs/result.json", {Op::run_and_wait, 1}, Expected{0, "", std::nullopt}},
        {"helper log, during the install", "/Logs/helper.log", {Op::run_and_wait, 1}, success()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultSweep sweep;
        FakePlatform& p = sweep.platform;
        p.before_call = [&](Op op, int n) {
            if (std::pair(op, n) != c.planted_at) return;
            p.files_.erase(c.path);
            p.add_special(c.path);
        };
        EXPECT_EQ(run_updater_process(p), c.expected.exit_code);
        EXPECT_EQ(p.standard_error, c.expected.standard_error);
        const std::string result = p.file_text("/Logs/result.json");
        if (c.expected.keeps_old_result) {
            EXPECT_EQ(result, kOldResult);
        } else if (c.expected.message) {
            EXPECT_NE(result.find("\"message\":\"" + *c.expected.message + "\""), std::string::npos) << result;
        } else {
            EXPECT_FALSE(p.has_file("/Logs/result.json")) << result;
        }
        EXPECT_EQ(p.files_opened, p.files_closed);
        EXPECT_EQ(p.calls(Op::remove_directory_tree), p.directory_attempts.empty() ? 0 : 1);
        EXPECT_EQ(temp_entries_apart_from_earlier_staging(p), 1u);
    }
}

// What each call site's volume query belongs to in an elevated run: the
// operation made just before it.
std::vector<std::pair<Op, int>> volume_query_owners(const std::vector<std::pair<Op, int>>& sequence) {
    std::vector<std::pair<Op, int>> owners;
    std::pair<Op, int> last{Op::arguments, 0};
    for (const auto& site : sequence) {
        if (site.first == Op::volume)
            owners.push_back(last);
        else
            last = site;
    }
    return owners;
}

// An elevated run asks for the volume of every path each operation is given;
// a query that fails refuses that path, so the run ends as that operation's
// own failure does (the rows above).
TEST(RunFaultSweep, InAnElevatedRunEachFailingVolumeQueryEndsAsItsOperationsFailure) {
    FaultSweep clean;
    clean.platform.is_elevated = true;
    ASSERT_EQ(run_updater_process(clean.platform), 0);
    const auto owners = volume_query_owners(clean.sequence);
    const auto operations = std::count_if(expectations().begin(), expectations().end(),
                                          [](const auto& row) { return row.first.first != Op::volume; });
    ASSERT_GE(owners.size(), static_cast<std::size_t>(operations) / 2)
        << "the run asks for far fewer volumes than it has paths";
    for (std::size_t i = 0; i < owners.size(); ++i) {
        const auto& [op, n] = owners[i];
        SCOPED_TRACE("volume #" + std::to_string(i + 1) + " of " + testing::op_name(op) + " #" + std::to_string(n));
        ASSERT_TRUE(expectations().contains(owners[i]));
        const Expected& expected = expectations().at(owners[i]);
        FaultSweep sweep;
        FakePlatform& p = sweep.platform;
        p.is_elevated = true;
        p.fail(Op::volume, std::string(kInjected), static_cast<int>(i + 1));

        EXPECT_EQ(run_updater_process(p), expected.exit_code);
        EXPECT_EQ(p.standard_error, expected.standard_error);
        const std::string result = p.file_text("/Logs/result.json");
        if (expected.keeps_old_result) {
            EXPECT_EQ(result, kOldResult);
        } else if (!expected.message) {
            EXPECT_FALSE(p.has_file("/Logs/result.json")) << result;
        } else {
            EXPECT_NE(result.find("\"message\":\"" + *expected.message + "\""), std::string::npos) << result;
        }
        if (sweep.installed_bytes) {
            EXPECT_EQ(*sweep.installed_bytes, kPackage);
        }
        EXPECT_EQ(p.files_opened, p.files_closed);
        EXPECT_EQ(p.processes_opened, p.processes_closed);
    }
}

// Every caller-named path on a remote volume (a mapped network drive; a
// network mount on the stand-in), given directly or reached through a link,
// ends an elevated run as a refused link at that path does; a run that is not
// elevated uses it.
TEST(RunFaultSweep, AnElevatedRunRefusesEachCallerNamedPathOnARemoteVolume) {
    const std::string refused_volume(platform::kNotOnALocalVolume);
    struct Case {
        std::string_view name;
        std::string option;
        std::string path;   // on the remote volume, or a link to it
        std::string file;   // what must be there for the run to use it ("" none)
        Expected elevated;  // how the elevated run ends
    } cases[] = {
        {"helper log", "--helper-log-path", "/Share/Logs/helper.log", "", aborted(refused_volume, true)},
        {"result", "--result-path", "/Share/Logs/result.json", "", Expected{0, "", std::nullopt, true}},
        {"result through a link", "--result-path", "/Logs/shared-result.json", "", Expected{0, "", std::nullopt, true}},
        {"download", "--msi-path", "/Share/Downloads/velmarch-2.4.0.msi", "/Share/Downloads/velmarch-2.4.0.msi",
         finished(1603, "The downloaded update package is not a valid MSI file.")},
        {"application", "--app-path", "/Share/Velmarch/Velmarch.exe", "/Share/Velmarch/Velmarch.exe",
         finished(1603, "The installed application executable was not found after the update.")},
        {"install directory", "--install-dir", "/Share/Velmarch", "/Share/Velmarch/Velmarch.exe",
         finished(1603, "The installed application version could not be verified: " + refused_volume)},
        // The installer writes its log into staging; only the delivery to
        // the caller's path is refused, which never fails the run.
        {"installer log", "--msi-log-path", "/Share/Logs/msiexec.log", "", success()},
    };
    for (const Case& c : cases) {
        for (const bool elevated : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (elevated ? ", elevated" : ", not elevated"));
            FaultSweep sweep;
            FakePlatform& p = sweep.platform;
            p.is_elevated = elevated;
            p.remote_volumes = {testing::test_path("/Share")};
            p.add_directory("/Share/Logs");
            p.add_link("/Logs/shared-result.json", "/Share/Logs/result.json");
            if (!c.file.empty()) p.add_file(c.file, c.option == "--msi-path" ? kPackage : "app");
            for (std::size_t i = 0; i + 1 < p.args.size(); i += 2)
                if (p.args[i] == c.option) p.args[i + 1] = testing::utf8(testing::test_path(c.path));
            const Expected expected = elevated ? c.elevated : success();

            EXPECT_EQ(run_updater_process(p), expected.exit_code);
            EXPECT_EQ(p.standard_error, expected.standard_error);
            const std::string result_path = c.option == "--result-path" ? c.path : "/Logs/result.json";
            const std::string result = p.file_text(result_path);
            if (expected.keeps_old_result) {
                EXPECT_EQ(p.file_text("/Logs/result.json"), kOldResult);
            } else if (expected.message) {
                EXPECT_NE(result.find("\"message\":\"" + *expected.message + "\""), std::string::npos) << result;
            }
            // Nothing was written on the remote volume by an elevated run;
            // a refused download is kept.
            if (elevated) {
                std::set<std::string> set_up{"/Share", "/Share/Logs"};
                if (!c.file.empty()) set_up.insert({c.file, c.file.substr(0, c.file.rfind('/'))});
                for (const auto& entry : p.entries_below("/Share"))
                    EXPECT_TRUE(set_up.contains(testing::generic_utf8(entry)))
                        << "written on the remote volume: " << entry;
                if (c.option == "--msi-path") {
                    EXPECT_TRUE(p.has_file(c.file));
                }
                if (c.option == "--app-path" || c.option == "--install-dir") {
                    EXPECT_EQ(p.next_detached_id, 7000u) << "the application was restarted";
                }
            } else {
                EXPECT_EQ(p.calls(Op::volume), 0);
            }
            if (c.option == "--msi-log-path") {
                EXPECT_EQ(sweep.installed_bytes, kPackage) << "the installer did not run";
                EXPECT_EQ(p.has_file(c.path), !elevated) << "the installer's log";
            }
            EXPECT_EQ(p.files_opened, p.files_closed);
            EXPECT_EQ(temp_entries_apart_from_earlier_staging(p), 1u);
        }
    }
}

#ifdef _WIN32
// Shares and device paths are refused by their text in an elevated run, in
// every form the system accepts; a run that is not elevated uses them.
TEST(RunFaultSweep, AnElevatedRunRefusesEverySharePathByItsText) {
    for (const char* path :
         {"\\\\server\\share\\result.json", "//server/share/result.json", "\\\\?\\UNC\\server\\share\\result.json",
          "\\??\\UNC\\server\\share\\result.json", "\\\\localhost\\pipe\\result",
          "\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\result.json", "\\\\.\\C:\\Logs\\result.json"}) {
        for (const bool elevated : {true, false}) {
            SCOPED_TRACE(std::string(path) + (elevated ? ", elevated" : ", not elevated"));
            FaultSweep sweep;
            FakePlatform& p = sweep.platform;
            p.is_elevated = elevated;
            for (std::size_t i = 0; i + 1 < p.args.size(); i += 2)
                if (p.args[i] == "--result-path") p.args[i + 1] = path;
            EXPECT_EQ(run_updater_process(p), 0);
            EXPECT_EQ(p.standard_error, "");
            // Elevated: the result is dropped (the write is refused before
            // anything is opened); otherwise the result is written there.
            EXPECT_EQ(p.calls(Op::volume) > 0, elevated);
            EXPECT_EQ(p.file_text("/Logs/result.json"), kOldResult);
        }
    }
}
#endif

TEST(RunFaultSweep, EachInjectedFailureEndsAsItsRowSaysAndLeavesNothingBehind) {
    FaultSweep clean;
    ASSERT_EQ(run_updater_process(clean.platform), 0);
    for (const auto& [site, expected] : expectations()) {
        const auto& [op, n] = site;
        // What a volume query's failure refuses is its operation's path.
        const auto [operation, operation_n] = operation_of(site, clean.sequence);
        SCOPED_TRACE(std::string(testing::op_name(op)) + " #" + std::to_string(n));
        FaultSweep sweep;
        sweep.platform.fail(op, std::string(kInjected), n);
        FakePlatform& p = sweep.platform;

        EXPECT_EQ(run_updater_process(p), expected.exit_code);
        EXPECT_EQ(p.standard_error, expected.standard_error);

        const std::string result = p.file_text("/Logs/result.json");
        if (expected.keeps_old_result) {
            EXPECT_EQ(result, kOldResult);
        } else if (!expected.message) {
            EXPECT_FALSE(p.has_file("/Logs/result.json")) << result;
        } else {
            EXPECT_NE(result.find("\"message\":\"" + *expected.message + "\""), std::string::npos) << result;
            EXPECT_NE(result.find("\"exitCode\":" + std::to_string(expected.exit_code) + ","), std::string::npos);
        }
        const bool delete_fails = op == Op::delete_file && n == 2;
        EXPECT_EQ(p.has_file("/Downloads/velmarch-2.4.0.msi"), !expected.deletes_download || delete_fails);

        // The installer only ever sees the verified bytes.
        if (sweep.installed_bytes) {
            EXPECT_EQ(*sweep.installed_bytes, kPackage);
        }

        // Handles and descriptors are all released; staging is removed exactly
        // once when it was created.
        EXPECT_EQ(p.files_opened, p.files_closed);
        EXPECT_EQ(p.processes_opened, p.processes_closed);
        EXPECT_EQ(p.descriptors_created, p.descriptors_freed);
        EXPECT_EQ(p.held_opened, p.held_closed);
        // The earlier run's staging goes unless the sweep itself met the
        // failure or the run ended before its log was ready.
        const bool swept = !is_sweep_call(operation, operation_n) && !expected.keeps_old_result;
        EXPECT_EQ(p.has_directory(kEarlierStaging), !swept);
        if (swept && !(operation == Op::append_to_file && operation_n == 2)) {
            EXPECT_NE(p.file_text("/Logs/helper.log").find("Removed 1 staging directories left by earlier runs."),
                      std::string::npos);
        }
        const bool staging_created = p.directory_attempts.size() == 1 && operation != Op::create_directory;
        EXPECT_EQ(p.calls(Op::remove_directory_tree), staging_created ? 1 : 0);
        if (operation != Op::remove_directory_tree) {
            EXPECT_EQ(temp_entries_apart_from_earlier_staging(p), 1u);
        }
    }
}

}  // namespace
}  // namespace velmarch::run

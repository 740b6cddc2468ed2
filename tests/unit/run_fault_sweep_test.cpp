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
#include "run/update_request.h"
#include "support/fake_platform.h"
#include "support/machine_layout.h"
#include "support/msiexec_command_line.h"
#include "support/staging_names.h"
#include "support/update_machine.h"
#include "text/utf.h"

namespace velmarch::run {
namespace {

using testing::as_path;
using testing::FakePlatform;
using testing::CallSite;
using testing::Op;
using testing::site_name;

constexpr std::string_view kInjected = "Injected failure. (os error 1)";
const std::string kPackage(20000, 'p');                      // several copy chunks
const std::string kRewritten(20000, 'x');                    // what the download becomes after it was verified
constexpr std::string_view kInstallerLog = "installer log";  // one read
constexpr std::string_view kOldResult = testing::kEarlierResult;
// What a killed earlier run left: swept by every run that meets no failure
// in the sweep itself.
const std::string kEarlierStaging = "/Windows/Temp/" + testing::staging_name(4242);

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
const std::map<CallSite, Expected>& expectations() {
    static const std::map<CallSite, Expected> table = {
        {{Op::arguments, ""}, aborted(injected, true)},
        // The working directory, asked for each path that is not absolute:
        // the relative result path, and on Windows every path of the test
        // machine (\Logs\helper.log names no drive).
        {{Op::working_directory_for, "result.json"}, aborted(kNoWorkingDirectory + injected, true)},
#ifdef _WIN32
        {{Op::working_directory_for, "download"}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, "install directory"}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, "application"}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, "installer log"}, aborted(kNoWorkingDirectory + injected, true)},
        {{Op::working_directory_for, "helper log"}, aborted(kNoWorkingDirectory + injected, true)},
#endif
        {{Op::create_directories, "log folder"}, aborted(injected, true)},
        // In an elevated run (the fake's default), each operation on a path
        // asks for the volume of every path it is given first; a failing
        // query refuses the path, so it ends as its operation's failure.
        {{Op::create_directories, "log folder", 1, "log folder"}, aborted(injected, true)},
        {{Op::write_file, "helper log"}, aborted(injected, true)},
        {{Op::write_file, "helper log", 1, "helper log"}, aborted(injected, true)},
        {{Op::delete_file, "result"}, success()},  // removing the old result
        {{Op::delete_file, "result", 1, "result"}, success()},
        {{Op::append_to_file, "helper log: Velmarch native updater started."}, success()},
        {{Op::append_to_file, "helper log: Velmarch native updater started.", 1, "helper log"}, success()},
        // The sweep of an earlier run's staging: whatever fails, the run goes on.
        {{Op::open_held_directory, "temp"}, success()},
        {{Op::open_held_directory, "temp", 1, "temp"}, success()},
        {{Op::held_names, "temp"}, success()},
        {{Op::create_security_descriptor, ""}, success()},
        {{Op::held_open_directory, "earlier staging"}, success()},
        {{Op::held_facts, "earlier staging"}, success()},
        {{Op::held_access_list, "earlier staging"}, success()},
        {{Op::held_names, "earlier staging"}, success()},
        {{Op::take_file, "earlier staging/velmarch-installer.log"}, success()},
        {{Op::held_facts, "earlier staging/velmarch-installer.log"}, success()},
        {{Op::take_file, "earlier staging/velmarch-update.msi"}, success()},
        {{Op::held_facts, "earlier staging/velmarch-update.msi"}, success()},
        {{Op::held_remove, "earlier staging/velmarch-installer.log"}, success()},
        {{Op::held_remove, "earlier staging/velmarch-update.msi"}, success()},
        {{Op::held_remove, "earlier staging"}, success()},
        {{Op::append_to_file, "helper log: Removed 1 staging directories left by earlier runs."}, success()},
        {{Op::append_to_file, "helper log: Removed 1 staging directories left by earlier runs.", 1, "helper log"},
         success()},
        // First verification of the download.
        {{Op::file_type, "download"}, refused("The downloaded update package is not a valid MSI file.")},
        {{Op::file_type, "download", 1, "download"}, refused("The downloaded update package is not a valid MSI file.")},
        {{Op::open_for_reading, "download"}, refused(injected)},
        {{Op::open_for_reading, "download", 1, "download"}, refused(injected)},
        {{Op::read, "download, open #1"}, refused(injected)},
        {{Op::read, "download, open #1", 2}, refused(injected)},
        {{Op::read, "download, open #1", 3}, refused(injected)},
        // Reading stops at the length the file had when it was opened: no
        // read of 0 bytes follows, here or in the second verification.
        // Staging.
        {{Op::file_type, "temp"}, refused("The protected Windows temporary directory was not found.")},
        {{Op::file_type, "temp", 1, "temp"}, refused("The protected Windows temporary directory was not found.")},
        {{Op::free_bytes, "temp"}, refused("The free space for restricted staging could not be read: " + injected)},
        {{Op::free_bytes, "temp", 1, "temp"},
         refused("The free space for restricted staging could not be read: " + injected)},
        {{Op::create_security_descriptor, "", 2},
         refused("The restricted staging security descriptor could not be created: " + injected)},
        {{Op::create_directory, "staging"},
         refused("The administrator-only staging directory could not be created: " + injected)},
        {{Op::create_directory, "staging", 1, "staging"},
         refused("The administrator-only staging directory could not be created: " + injected)},
        {{Op::open_for_reading, "download", 2},
         refused("The verified update package could not be reopened: " + injected)},
        {{Op::open_for_reading, "download", 2, "download"},
         refused("The verified update package could not be reopened: " + injected)},
        {{Op::create_new_file, "staging/velmarch-update.msi"},
         refused("The restricted staged MSI could not be created: " + injected)},
        {{Op::create_new_file, "staging/velmarch-update.msi", 1, "staging/velmarch-update.msi"},
         refused("The restricted staged MSI could not be created: " + injected)},
        {{Op::read, "download, open #2"},
         refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::write, "staging/velmarch-update.msi, open #1"},
         refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::read, "download, open #2", 2},
         refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::write, "staging/velmarch-update.msi, open #1", 2},
         refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::read, "download, open #2", 3},
         refused("The update package could not be copied to restricted staging: " + injected)},
        {{Op::write, "staging/velmarch-update.msi, open #1", 3},
         refused("The update package could not be copied to restricted staging: " + injected)},
        // The copy stops at the verified length: no read of 0 bytes follows.
        {{Op::flush, "staging/velmarch-update.msi, open #1"},
         refused("The restricted staged MSI could not be finalized: " + injected)},
        {{Op::hold_file, "staging/velmarch-update.msi"},
         refused("The restricted staged MSI could not be held: " + injected)},
        {{Op::hold_file, "staging/velmarch-update.msi", 1, "staging/velmarch-update.msi"},
         refused("The restricted staged MSI could not be held: " + injected)},
        // Second verification, of the staged copy.
        {{Op::file_type, "staging/velmarch-update.msi"},
         refused("The downloaded update package is not a valid MSI file.")},
        {{Op::file_type, "staging/velmarch-update.msi", 1, "staging/velmarch-update.msi"},
         refused("The downloaded update package is not a valid MSI file.")},
        {{Op::open_for_reading, "staging/velmarch-update.msi"}, refused(injected)},
        {{Op::open_for_reading, "staging/velmarch-update.msi", 1, "staging/velmarch-update.msi"}, refused(injected)},
        {{Op::read, "staging/velmarch-update.msi, open #1"}, refused(injected)},
        {{Op::read, "staging/velmarch-update.msi, open #1", 2}, refused(injected)},
        {{Op::read, "staging/velmarch-update.msi, open #1", 3}, refused(injected)},
        {{Op::append_to_file, "helper log: The update package was copied to restricted staging and verified again."},
         success()},
        {{Op::append_to_file, "helper log: The update package was copied to restricted staging and verified again.", 1,
          "helper log"},
         success()},
        // The previous process: one that cannot be opened counts as gone.
        {{Op::open_process_for_wait, "process 77"}, success()},
        {{Op::append_to_file, "helper log: Waiting for process 77 to exit."}, success()},
        {{Op::append_to_file, "helper log: Waiting for process 77 to exit.", 1, "helper log"}, success()},
        {{Op::wait, "process 77"}, aborted("Waiting for the previous application process failed.")},
        // Installer stage.
        {{Op::file_type, "msiexec"}, finished(1603, "Windows Installer was not found.")},
        {{Op::file_type, "msiexec", 1, "msiexec"}, finished(1603, "Windows Installer was not found.")},
        {{Op::append_to_file, "helper log: Starting Windows Installer."}, success()},
        {{Op::append_to_file, "helper log: Starting Windows Installer.", 1, "helper log"}, success()},
        {{Op::run_and_wait, "msiexec"}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::run_and_wait, "msiexec", 1, "msiexec"}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::append_to_file, "helper log: Windows Installer exited with code 0."}, success()},
        {{Op::append_to_file, "helper log: Windows Installer exited with code 0.", 1, "helper log"}, success()},
        // Delivering the installer's log from staging: never fails the run.
        {{Op::open_for_reading, "staging/velmarch-installer.log"}, success()},
        {{Op::open_for_reading, "staging/velmarch-installer.log", 1, "staging/velmarch-installer.log"}, success()},
        {{Op::read, "staging/velmarch-installer.log, open #1"}, success()},
        {{Op::write_file, "installer log"}, success()},
        {{Op::write_file, "installer log", 1, "installer log"}, success()},
        {{Op::file_type, "application"},
         finished(1603, "The installed application executable was not found after the update.")},
        {{Op::file_type, "application", 1, "application"},
         finished(1603, "The installed application executable was not found after the update.")},
        // The version check: the application and its working directory.
        {{Op::run_and_wait, "application"},
         finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::run_and_wait, "application", 1, "application"},
         finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::run_and_wait, "application", 1, "install directory"},
         finished(1603, "The installed application version could not be verified: " + injected)},
        {{Op::write_file, "result"}, Expected{0, "", std::nullopt, false, false}},  // the result is lost silently
        {{Op::write_file, "result", 1, "result"}, Expected{0, "", std::nullopt, false, false}},
        // Restart: logged only, never changes the outcome.
        {{Op::file_type, "application", 2}, success()},
        {{Op::file_type, "application", 2, "application"}, success()},
        {{Op::file_type, "explorer"}, success()},
        {{Op::file_type, "explorer", 1, "explorer"}, success()},
        {{Op::start_detached, "explorer"}, success()},
        {{Op::start_detached, "explorer", 1, "explorer"}, success()},
        {{Op::start_detached, "explorer", 1, "install directory"}, success()},
        {{Op::append_to_file,
          "helper log: Application restart requested through /Windows/explorer.exe with process id 7000."},
         success()},
        {{Op::append_to_file,
          "helper log: Application restart requested through /Windows/explorer.exe with process id 7000.", 1,
          "helper log"},
         success()},
        // Removing staging (the installer's log, the package, the tree):
        // failures are ignored.
        {{Op::delete_file, "staging/velmarch-installer.log"}, success()},
        {{Op::delete_file, "staging/velmarch-installer.log", 1, "staging/velmarch-installer.log"}, success()},
        {{Op::delete_file, "staging/velmarch-update.msi"}, success()},
        {{Op::delete_file, "staging/velmarch-update.msi", 1, "staging/velmarch-update.msi"}, success()},
        {{Op::remove_directory_tree, "staging"}, success()},
        {{Op::remove_directory_tree, "staging", 1, "staging"}, success()},
    };
    return table;
}

// The sweep of earlier runs' staging (a volume query is its call's).
bool is_sweep_call(const CallSite& site) {
    switch (site.op) {
        case Op::open_held_directory:
        case Op::held_facts:
        case Op::held_access_list:
        case Op::held_names:
        case Op::held_open_directory:
        case Op::take_file:
        case Op::held_remove: return true;
        case Op::create_security_descriptor: return site.nth == 1;
        default: return false;
    }
}

// The call itself, when `site` is one of its volume queries.
CallSite call_of(CallSite site) {
    site.volume_of.clear();
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

// What each call acts on, in the rows' words: the caller's paths by their
// option, staging and its files by name, a helper log line by its text.
std::string subject_of(const std::string& key, std::string_view written) {
    static const std::map<std::string, std::string, std::less<>> named = {
        {"/Logs", "log folder"},
        {"/Logs/helper.log", "helper log"},
        {"/Logs/result.json", "result"},
        {"/Logs/msiexec.log", "installer log"},
        {"/Downloads/velmarch-2.4.0.msi", "download"},
        {"/Program Files/Velmarch", "install directory"},
        {"/Program Files/Velmarch/Velmarch.exe", "application"},
        {"/Windows/Temp", "temp"},
        {"/Windows/System32/msiexec.exe", "msiexec"},
        {"/Windows/explorer.exe", "explorer"},
    };
    for (const auto& [prefix, name] : {std::pair<std::string, std::string>{kEarlierStaging, "earlier staging"},
                                       {"/Windows/Temp/VelmarchUpdate-5120-", "staging"}}) {
        if (!key.starts_with(prefix)) continue;
        const auto slash = key.find('/', prefix.size());
        return slash == std::string::npos ? name : name + key.substr(slash);
    }
    const auto it = named.find(key);
    if (it == named.end()) return key;
    if (it->second != "helper log" || written.empty()) return it->second;
    // "[1796605200] Velmarch native updater started.\n": the line's text.
    const auto text = written.find("] ");
    std::string line(written.substr(text + 2, written.size() - text - 3));
    std::replace(line.begin(), line.end(), '\\', '/');  // the paths it names, as on every system
    return "helper log: " + line;
}

class FaultSweep {
public:
    FaultSweep() {
        platform.subject_name = subject_of;
        testing::set_up_update_machine(platform, kPackage);
        platform.add_file(kEarlierStaging + "/" + testing::kStagedPackage, "an earlier package");
        platform.add_file(kEarlierStaging + "/" + testing::kStagedLog, "an earlier log");
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
        platform.before_site = [this](const CallSite& site) {
            if (site == rewrite_download_at && platform.has_file("/Downloads/velmarch-2.4.0.msi"))
                platform.add_file("/Downloads/velmarch-2.4.0.msi", kRewritten);
        };
        platform.args = testing::update_arguments(kPackage);
        // Read against the working directory, "/Logs/result.json".
        platform.working_directory = testing::test_path("/Logs");
        for (std::size_t i = 0; i + 1 < platform.args.size(); i += 2)
            if (platform.args[i] == "--result-path") platform.args[i + 1] = "result.json";
    }

    FakePlatform platform;
    std::optional<std::string> installed_bytes;
    // By default the first step after staging: the wait for the previous process.
    CallSite rewrite_download_at{Op::open_process_for_wait, "process 77"};
    int busy_answers = 0;  // runs of the installer that answer 1618 first
};

// The call sites a busy installer adds to those of the table above: the
// first run's exit line, the delivery of its log and its removal, the wait's
// line, the second run and the delivery that adds its log. Every other call
// of such a run is at a site of the table above and ends as its row says.
const std::map<CallSite, Expected>& busy_expectations() {
    const std::string busy_line =
        "helper log: Windows Installer is busy with another installation; trying again in 5 seconds.";
    const std::string first_exit_line = "helper log: Windows Installer exited with code 1618.";
    const std::string staged_log = "staging/velmarch-installer.log";
    static const std::map<CallSite, Expected> table = {
        {{Op::append_to_file, first_exit_line}, success()},
        {{Op::append_to_file, first_exit_line, 1, "helper log"}, success()},
        {{Op::delete_file, staged_log, 2}, success()},  // the busy run's log, once delivered
        {{Op::delete_file, staged_log, 2, staged_log}, success()},
        {{Op::append_to_file, busy_line}, success()},
        {{Op::append_to_file, busy_line, 1, "helper log"}, success()},
        {{Op::run_and_wait, "msiexec", 2}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::run_and_wait, "msiexec", 2, "msiexec"}, aborted("Windows Installer could not be started: " + injected)},
        {{Op::open_for_reading, staged_log, 2}, success()},
        {{Op::open_for_reading, staged_log, 2, staged_log}, success()},
        {{Op::read, staged_log + ", open #2"}, success()},
        {{Op::append_to_file, "installer log"}, success()},  // the second run's log, added
        {{Op::append_to_file, "installer log", 1, "installer log"}, success()},
    };
    return table;
}

// How a failure at `site` of a run with a busy installer ends.
const Expected& busy_expectation(const CallSite& site) {
    const auto busy = busy_expectations().find(site);
    return busy != busy_expectations().end() ? busy->second : expectations().at(site);
}

TEST(RunFaultSweep, EveryCallSiteOfASuccessfulRunIsCovered) {
    FaultSweep clean;
    ASSERT_EQ(run_updater_process(clean.platform), 0);
    for (const CallSite& site : clean.platform.sites)
        EXPECT_TRUE(expectations().contains(site)) << "no expectation for " << site_name(site);
    EXPECT_EQ(clean.platform.sites.size(), expectations().size());
}

// Once busy, then installed: every call site is one the two tables name and
// every site the busy installer adds is met; from the first installer run on,
// each failure ends as its row says, and none leaks a handle or skips the
// removal of staging. The caller's installer log holds both runs' logs when
// nothing failed.
TEST(RunFaultSweep, EveryCallSiteOfABusyInstallerIsCoveredAndEndsAsItsRowSays) {
    FaultSweep clean;
    clean.busy_answers = 1;
    ASSERT_EQ(run_updater_process(clean.platform), 0);
    EXPECT_EQ(clean.platform.sleeps, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(clean.platform.file_text("/Logs/msiexec.log"), std::string(kInstallerLog) + std::string(kInstallerLog));
    const std::vector<CallSite>& sites = clean.platform.sites;
    for (const CallSite& site : sites)
        EXPECT_TRUE(busy_expectations().contains(site) || expectations().contains(site))
            << "no expectation for " << site_name(site);
    for (const auto& [site, expected] : busy_expectations())
        EXPECT_EQ(std::count(sites.begin(), sites.end(), site), 1) << site_name(site);
    const auto first_run = std::find(sites.begin(), sites.end(), CallSite{Op::run_and_wait, "msiexec"});
    ASSERT_NE(first_run, sites.end());

    for (auto site = first_run + 1; site != sites.end(); ++site) {
        SCOPED_TRACE(site_name(*site));
        const Expected& expected = busy_expectation(*site);
        FaultSweep sweep;
        sweep.busy_answers = 1;
        sweep.platform.fail_at(*site, std::string(kInjected));
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
        if (site->op != Op::remove_directory_tree) {
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
    sweep.rewrite_download_at = {Op::file_type, "temp"};  // staging's first step
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
        CallSite planted_at;
        Expected expected;
    } cases[] = {
        {"helper log", "/Logs/helper.log", {Op::arguments}, aborted(not_regular, true)},
        {"download",
         "/Downloads/velmarch-2.4.0.msi",
         {Op::arguments},
         refused("The downloaded update package is not a valid MSI file.")},
        // Nothing opens the installer log before the copy after the install,
        // which refuses it: the run goes on and the log is not delivered.
        {"installer log", "/Logs/msiexec.log", {Op::arguments}, success()},
        {"installer log, during the install", "/Logs/msiexec.log", {Op::run_and_wait, "msiexec"}, success()},
        {"result, during the install",
         "/Logs/result.json",
         {Op::run_and_wait, "msiexec"},
         Expected{0, "", std::nullopt}},
        {"helper log, during the install", "/Logs/helper.log", {Op::run_and_wait, "msiexec"}, success()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultSweep sweep;
        FakePlatform& p = sweep.platform;
        p.before_site = [&](const CallSite& site) {
            if (site != c.planted_at) return;
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

// An elevated run asks for the volume of every path each operation is given;
// a query that fails refuses that path, so the run ends as that operation's
// own failure does (the rows above).
TEST(RunFaultSweep, InAnElevatedRunEachFailingVolumeQueryEndsAsItsOperationsFailure) {
    FaultSweep clean;
    clean.platform.is_elevated = true;
    ASSERT_EQ(run_updater_process(clean.platform), 0);
    std::vector<CallSite> queries;
    std::copy_if(clean.platform.sites.begin(), clean.platform.sites.end(), std::back_inserter(queries),
                 [](const CallSite& site) { return !site.volume_of.empty(); });
    ASSERT_GE(queries.size(), (clean.platform.sites.size() - queries.size()) / 2)
        << "the run asks for far fewer volumes than it has paths";
    for (const CallSite& query : queries) {
        SCOPED_TRACE(site_name(query));
        ASSERT_TRUE(expectations().contains(call_of(query)));
        const Expected& expected = expectations().at(call_of(query));
        FaultSweep sweep;
        FakePlatform& p = sweep.platform;
        p.is_elevated = true;
        p.fail_at(query, std::string(kInjected));

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
    // Every path option an elevated run walks has its case.
    for (const run::PathOption& option : run::kPathOptions) {
        if (!option.walked_when_elevated) continue;
        const std::string name = "--" + std::string(option.name);
        EXPECT_TRUE(std::ranges::any_of(cases, [&](const Case& c) { return c.option == name; }))
            << name << " has no case";
    }
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
    const std::string swept_line = "Removed 1 staging directories left by earlier runs.";
    for (const auto& [site, expected] : expectations()) {
        SCOPED_TRACE(site_name(site));
        FaultSweep sweep;
        sweep.platform.fail_at(site, std::string(kInjected));
        FakePlatform& p = sweep.platform;

        EXPECT_EQ(run_updater_process(p), expected.exit_code);
        EXPECT_EQ(p.standard_error, expected.standard_error);
        EXPECT_NE(std::find(p.sites.begin(), p.sites.end(), site), p.sites.end()) << "the failure was never met";

        const std::string result = p.file_text("/Logs/result.json");
        if (expected.keeps_old_result) {
            EXPECT_EQ(result, kOldResult);
        } else if (!expected.message) {
            EXPECT_FALSE(p.has_file("/Logs/result.json")) << result;
        } else {
            EXPECT_NE(result.find("\"message\":\"" + *expected.message + "\""), std::string::npos) << result;
            EXPECT_NE(result.find("\"exitCode\":" + std::to_string(expected.exit_code) + ","), std::string::npos);
        }
        EXPECT_EQ(p.has_file("/Downloads/velmarch-2.4.0.msi"), !expected.deletes_download);

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
        // (A volume query's failure refuses its call's path: `site.op` is the
        // operation either way.)
        const bool swept = !is_sweep_call(site) && !expected.keeps_old_result;
        EXPECT_EQ(p.has_directory(kEarlierStaging), !swept);
        if (swept && call_of(site) != CallSite{Op::append_to_file, "helper log: " + swept_line}) {
            EXPECT_NE(p.file_text("/Logs/helper.log").find(swept_line), std::string::npos);
        }
        const bool staging_created = p.directory_attempts.size() == 1 && site.op != Op::create_directory;
        EXPECT_EQ(p.calls(Op::remove_directory_tree), staging_created ? 1 : 0);
        if (site.op != Op::remove_directory_tree) {
            EXPECT_EQ(temp_entries_apart_from_earlier_staging(p), 1u);
        }
    }
}

}  // namespace
}  // namespace velmarch::run

#include <cstdio>
#include <string>

#include "checks.h"
#include "kit_process.h"
#include "platform/win32/os_error.h"

#include <winioctl.h>

namespace velmarch::kit {

using platform::win32::last_os_error_text;
using HandleOwner = platform::win32::UniqueHandle;

namespace {

std::wstring own_executable() {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return self;
}

}  // namespace

int probe_redirection_guard() {
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY wanted{};
    wanted.EnforceRedirectionTrust = 1;
    if (!SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &wanted, sizeof(wanted))) {
        std::printf("SetProcessMitigationPolicy refuses it: %s", last_os_error_text().c_str());
        return 1;
    }
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY read{};
    if (!GetProcessMitigationPolicy(GetCurrentProcess(), ProcessRedirectionTrustPolicy, &read, sizeof(read))) {
        std::printf("GetProcessMitigationPolicy cannot read it: %s", last_os_error_text().c_str());
        return 1;
    }
    if (read.EnforceRedirectionTrust == 0) {
        std::printf("it reads back as off after SetProcessMitigationPolicy turned it on");
        return 1;
    }
    return 0;
}

int probe_redirection_guard_open(const std::wstring& path) {
    if (probe_redirection_guard() != 0) return 1;
    const HandleOwner opened(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (opened.valid()) return 0;
    if (GetLastError() == 448) return 2;
    std::printf("the open failed otherwise: %s", last_os_error_text().c_str());
    return 1;
}

Result<std::string> redirection_guard_answer(const Kit& kit, const std::filesystem::path& path) {
    const auto probe_output = kit.work / L"redirection-guard-open.txt";
    auto probe = start_process(own_executable(), {L"--probe-redirection-guard-open", path.native()}, probe_output);
    if (!probe) return fail(ErrorKind::general, "the RedirectionGuard probe did not start: " + probe.error().text);
    auto code = finish_within(*probe, 30000, "the RedirectionGuard probe");
    if (!code) return std::unexpected(code.error());
    if (*code == 2) return std::string("RedirectionGuard alone would have refused it (error 448)");
    if (*code == 0) return std::string("RedirectionGuard alone would NOT have refused it (it followed the junction)");
    return fail(ErrorKind::general,
                "the RedirectionGuard probe could not answer: " + read_text(probe_output).value_or("(no output)"));
}

Result<std::optional<std::string>> redirection_guard_missing(const Kit& kit) {
    const auto probe_output = kit.work / L"redirection-guard-probe.txt";
    auto probe = start_process(own_executable(), {L"--probe-redirection-guard"}, probe_output);
    if (!probe) return fail(ErrorKind::general, "the RedirectionGuard probe did not start: " + probe.error().text);
    auto probe_code = finish_within(*probe, 30000, "the RedirectionGuard probe");
    if (!probe_code) return std::unexpected(probe_code.error());
    if (*probe_code != 0)
        return "this system does not keep the RedirectionGuard policy: " +
               read_text(probe_output).value_or("(no output)");
    return std::optional<std::string>();
}

CheckOutcome check_redirection_guard(const Kit& kit, const Result<std::optional<std::string>>& missing) {
    if (!missing) return failed(missing.error().text);
    if (*missing) return skipped(**missing);

    // The run is held at its first open of the helper log by an oplock;
    // RedirectionGuard must be on by then. The install directory carries a
    // double quote, so that the run then ends before Windows Installer.
    auto update = prepare_case(kit, L"redirection-guard");
    if (!update) return failed(update.error().text);
    update->install_dir += L"\"refused";
    if (!write_text(update->helper_log, "")) return failed("cannot create the helper log");
    const HandleOwner event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HandleOwner log(CreateFileW(update->helper_log.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
    if (!log.valid()) return failed("cannot open the helper log: " + last_os_error_text());
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    if (DeviceIoControl(log.get(), FSCTL_REQUEST_OPLOCK_LEVEL_1, nullptr, 0, nullptr, 0, nullptr, &overlapped) ||
        GetLastError() != ERROR_IO_PENDING)
        return skipped("the file system grants no oplock on the helper log: " + last_os_error_text());

    auto started = start_process(kit.updater, updater_arguments(kit, *update, 0), std::nullopt, update->standard_error);
    if (!started) return failed(started.error().text);
    const HANDLE waits[] = {event.get(), started->process.get()};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, 120000);
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    std::string query_error;
    if (woken == WAIT_OBJECT_0 &&
        !GetProcessMitigationPolicy(started->process.get(), ProcessRedirectionTrustPolicy, &policy, sizeof(policy)))
        query_error = last_os_error_text();
    log = HandleOwner();  // acknowledges the break: the updater goes on
    auto code = finish_within(*started, 600000, "the updater");

    if (woken == WAIT_OBJECT_0 + 1)
        return failed("the updater ended (exit code " + (code ? std::to_string(*code) : code.error().text) +
                      ") without opening its helper log");
    if (woken != WAIT_OBJECT_0) return failed("the updater did not open its helper log within 120 s");
    if (!query_error.empty()) return failed("the updater's mitigation policy cannot be read: " + query_error);
    if (policy.EnforceRedirectionTrust == 0)
        return failed("RedirectionGuard is off when the updater first opens its helper log (policy flags " +
                      std::to_string(policy.Flags) + ")");
    if (!code) return failed(code.error().text);
    if (*code != 1603)
        return failed("RedirectionGuard is on, but the run then ended with " + std::to_string(*code) +
                      " instead of 1603 at the refused install directory");
    return passed(
        "EnforceRedirectionTrust is on when the updater first opens its helper log; the run then ended "
        "with 1603 as arranged");
}

}  // namespace velmarch::kit

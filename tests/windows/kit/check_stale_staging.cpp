// A staging directory that an earlier run left behind (as a killed run
// would) is removed by the next elevated run, which logs it.

#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "kit_security.h"
#include "platform/win32/os_error.h"

namespace velmarch::kit {
namespace {

using platform::win32::last_os_error_text;
using HandleOwner = platform::win32::UniqueHandle;

// Sets the last-write time of a file or directory an hour back.
[[nodiscard]] Result<void> make_old(const std::filesystem::path& path) {
    const HandleOwner handle(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid())
        return fail(ErrorKind::os_error,
                    "cannot open " + test_helpers::to_utf8(path.native()) + ": " + last_os_error_text());
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{};
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart -= 3600ULL * 10'000'000ULL;
    FILETIME old{time.LowPart, time.HighPart};
    if (!SetFileTime(handle.get(), nullptr, nullptr, &old))
        return fail(ErrorKind::os_error,
                    "cannot set the time of " + test_helpers::to_utf8(path.native()) + ": " + last_os_error_text());
    return {};
}

}  // namespace

CheckOutcome check_stale_staging(const Kit& kit, bool elevated) {
    if (!elevated) return skipped("the sweep runs in elevated runs only; this kit runs without elevation");
    const auto leftover = windows_temp() / L"VelmarchUpdate-1-0123456789abcdef0123456789abcdef";
    std::error_code ignored;
    std::filesystem::remove_all(leftover, ignored);
    if (auto made = create_directory_with_descriptor(leftover, kStagingDescriptor); !made)
        return failed("cannot create the leftover staging directory: " + made.error().text);
    if (!write_text(leftover / L"velmarch-update.msi", "an earlier package") ||
        !write_text(leftover / L"velmarch-installer.log", "an earlier log")) {
        std::filesystem::remove_all(leftover, ignored);
        return failed("cannot write into the leftover staging directory");
    }
    if (auto protection = expect_staging_protection(leftover); !protection) {
        std::filesystem::remove_all(leftover, ignored);
        return skipped(
            "this system does not keep the staging access list as it was given, so nothing here "
            "passes for an earlier run's staging (Wine does not keep access lists): " +
            protection.error().text);
    }
    for (const auto& path : {leftover / L"velmarch-update.msi", leftover / L"velmarch-installer.log", leftover}) {
        if (auto aged = make_old(path); !aged) {
            std::filesystem::remove_all(leftover, ignored);
            return failed(aged.error().text);
        }
    }

    // The run ends before Windows Installer (a double quote in the install
    // directory); the sweep comes before that.
    auto update = prepare_case(kit, L"stale-staging");
    if (!update) return failed(update.error().text);
    update->install_dir += L"\"refused";
    auto started = start_process(kit.updater, updater_arguments(kit, *update, 0), std::nullopt, update->standard_error);
    if (!started) return failed(started.error().text);
    auto code = finish_within(*started, 120000, "the updater");
    if (!code) return failed(code.error().text);
    const bool gone = !std::filesystem::exists(leftover, ignored);
    const std::string log = read_text(update->helper_log).value_or("");
    std::filesystem::remove_all(leftover, ignored);
    if (!gone)
        return failed("the earlier run's staging directory is still there after the run (exit code " +
                      std::to_string(*code) + ")");
    if (log.find("staging directories left by earlier runs.") == std::string::npos)
        return failed("the staging directory went, but the helper log does not say so: " + log);
    return passed(
        "an hour-old staging directory with the staging access list, a package and a log was removed by "
        "the next elevated run, which logged it");
}

}  // namespace velmarch::kit

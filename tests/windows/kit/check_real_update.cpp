#include <algorithm>
#include <chrono>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "kit_security.h"

namespace velmarch::kit {

using test_helpers::to_utf8;

namespace {

std::wstring lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// The staging directories of the updater process `id` that exist now.
std::vector<std::filesystem::path> staging_directories(DWORD id) {
    std::vector<std::filesystem::path> found;
    const auto temp = windows_temp();
    const std::wstring pattern = (temp / (L"VelmarchUpdate-" + std::to_wstring(id) + L"-*")).native();
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do found.push_back(temp / data.cFileName);
    while (FindNextFileW(search, &data));
    FindClose(search);
    return found;
}

// Whether this system keeps the access list a directory is created with,
// tried on a folder of our own next to where the updater stages.
std::optional<std::string> access_lists_unavailable() {
    const auto probe = windows_temp() / (L"velmarch-checks-probe-" + std::to_wstring(GetCurrentProcessId()));
    auto created = create_directory_with_descriptor(probe, kStagingDescriptor);
    if (!created) return "a probe folder with that access list could not be made: " + created.error().text;
    std::optional<std::string> reason;
    if (auto kept = expect_staging_protection(probe); !kept) {
        const auto text = descriptor_text(probe);
        reason = "this system does not keep the access list a folder is created with (a probe folder reads back " +
                 (text ? *text : text.error().text) + ")";
    }
    RemoveDirectoryW(probe.c_str());
    return reason;
}

}  // namespace

RealUpdateOutcomes check_real_update(const Kit& kit, bool elevated) {
    if (!elevated) {
        const std::string reason =
            "not elevated: the updater runs elevated, and its staging folder, owned by Administrators, can only be "
            "made by an elevated process";
        return {skipped(reason), skipped(reason)};
    }
    const auto access_list_reason = access_lists_unavailable();

    auto update = prepare_case(kit, L"real-update");
    if (!update) return {failed(update.error().text), failed("the update could not be prepared")};
    auto started = start_process(kit.updater, updater_arguments(kit, *update, 0), std::nullopt, update->standard_error);
    if (!started) return {failed(started.error().text), failed("the updater did not start")};

    // Watch the Windows Temp folder while the updater runs.
    std::optional<std::filesystem::path> staging;
    std::optional<Result<void>> directory_protection;
    std::string directory_text;
    std::optional<Result<void>> package_protection;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    std::optional<std::int32_t> code;
    while (!(code = wait_for_exit(started->process.get(), 5))) {
        if (std::chrono::steady_clock::now() > deadline) {
            TerminateProcess(started->process.get(), 1);
            return {failed("the update did not end within 10 minutes"), failed("the update did not end")};
        }
        if (!staging) {
            const auto found = staging_directories(started->id);
            if (found.empty()) continue;
            staging = found.front();
            directory_protection = expect_staging_protection(*staging);
            const auto text = descriptor_text(*staging);
            directory_text = text ? *text : text.error().text;
        }
        if (!package_protection) {
            const auto package = *staging / L"velmarch-update.msi";
            if (GetFileAttributesW(package.c_str()) != INVALID_FILE_ATTRIBUTES)
                package_protection = expect_administrators_only(package);
        }
    }

    const std::string& version = kit.signature.version;
    std::vector<std::string> problems;
    if (*code != 0) problems.push_back("exit code " + std::to_string(*code) + ", expected 0");
    const auto result = read_text(update->result);
    if (result != success_result(version))
        problems.push_back("result file " + (result ? "\"" + *result + "\"" : std::string("missing")));
    const std::filesystem::path install(update->install_dir);
    auto installed = read_text(install / L"version.txt").value_or("(missing)");
    while (!installed.empty() && (installed.back() == '\n' || installed.back() == '\r')) installed.pop_back();
    if (installed != version) problems.push_back("installed version.txt holds " + installed);
    const std::wstring record = lower(widen(read_text(install / L"test-app.record").value_or("")));
    const std::wstring confirmation = lower(widen("verify " + version + " in ") + install.native());
    if (record.find(confirmation) == std::wstring::npos)
        problems.push_back("the installed application did not confirm its version in the install directory");
    const auto log = read_text(update->helper_log).value_or("");
    if (log.find("] Windows Installer exited with code 0.\n") == std::string::npos)
        problems.push_back("the helper log has no \"Windows Installer exited with code 0.\"");
    if (const auto left = staging_directories(started->id); !left.empty())
        problems.push_back("staging left behind: " + to_utf8(left.front().native()));
    if (!staging) problems.push_back("no staging folder was seen in " + to_utf8(windows_temp().native()));
    if (const auto errors = read_text(update->standard_error); errors && !errors->empty())
        problems.push_back("standard error: " + *errors);

    RealUpdateOutcomes outcomes{
        problems.empty()
            ? passed("exit code 0, result \"success\", version " + version + " installed and confirmed in " +
                     to_utf8(install.native()) + ", staging " + to_utf8(staging->filename().native()) + " removed")
            : failed(join(problems) + " (files in " + to_utf8(update->root.native()) + ")"),
        skipped("")};

    if (access_list_reason) {
        outcomes.access_list = skipped(*access_list_reason);
    } else if (!staging) {
        outcomes.access_list = failed("the staging folder VelmarchUpdate-" + std::to_string(started->id) +
                                      "-* was never seen while the updater ran");
    } else if (!*directory_protection) {
        outcomes.access_list = failed(directory_protection->error().text + " (read back: " + directory_text + ")");
    } else if (package_protection && !*package_protection) {
        outcomes.access_list = failed("the staged package: " + package_protection->error().text);
    } else {
        outcomes.access_list = passed(to_utf8(staging->filename().native()) + " reads back " + directory_text +
                                      (package_protection ? "; the staged package allows SYSTEM and Administrators only"
                                                          : "; the staged package itself was not seen"));
    }
    return outcomes;
}

std::string uninstall_sample(const Kit& kit) {
    std::wstring windows(MAX_PATH + 1, L'\0');
    windows.resize(GetWindowsDirectoryW(windows.data(), static_cast<UINT>(windows.size())));
    const auto msiexec = std::filesystem::path(windows) / L"System32" / L"msiexec.exe";
    auto started = start_process(msiexec, {L"/x", kit.sample_package.native(), L"/qn", L"/norestart"});
    if (!started) return "the sample product could not be removed: " + started.error().text;
    auto code = finish_within(*started, 300000, "msiexec /x");
    if (!code) return "the sample product could not be removed: " + code.error().text;
    return "msiexec /x of the sample product exited with " + std::to_string(*code);
}

}  // namespace velmarch::kit

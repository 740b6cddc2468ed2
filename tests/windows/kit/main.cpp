// velmarch-windows-checks: the checks of the Windows test kit, for a real
// Windows 10 or 11 machine, run elevated or not. Each check prints one line,
// PASS, FAIL or SKIP (with the reason it could not be done on this system);
// the last line is "N passed, N failed, N skipped". Exit code 1 when a check
// failed, 2 when the kit itself is incomplete.
//
//   velmarch-windows-checks.exe [--work-dir DIR] [--keep]
//
// The work folder (default: %TEMP%\velmarch-windows-checks-<process id>) is
// removed at the end unless --keep is given or a check failed.

#include <cstdio>
#include <string>
#include <vector>

#include "checks.h"
#include "kit_security.h"

using namespace velmarch::kit;
using velmarch::test_helpers::to_utf8;

namespace {

struct Tally {
    int passed = 0;
    int failed = 0;
    int skipped = 0;

    void report(const char* name, const CheckOutcome& outcome) {
        const char* word = "PASS";
        if (outcome.verdict == Verdict::passed) ++passed;
        if (outcome.verdict == Verdict::failed) ++failed, word = "FAIL";
        if (outcome.verdict == Verdict::skipped) ++skipped, word = "SKIP";
        std::printf("%s %s: %s\n", word, name, outcome.detail.c_str());
        std::fflush(stdout);
    }
};

std::string system_description() {
    std::string text = "Windows";
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto get_version =
        reinterpret_cast<GetVersion>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (get_version != nullptr && get_version(&version) == 0)
        text.append(" ")
            .append(std::to_string(version.dwMajorVersion))
            .append(".")
            .append(std::to_string(version.dwMinorVersion))
            .append(".")
            .append(std::to_string(version.dwBuildNumber));
    using WineVersion = const char*(__cdecl*)();
    const auto wine_version =
        reinterpret_cast<WineVersion>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")));
    if (wine_version != nullptr) text.append(" (Wine ").append(wine_version()).append(")");
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && arguments[0] == L"--probe-redirection-guard") return probe_redirection_guard();
    if (arguments.size() == 2 && arguments[0] == L"--probe-redirection-guard-open")
        return probe_redirection_guard_open(arguments[1]);

    std::filesystem::path work;
    bool keep = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == L"--keep") {
            keep = true;
        } else if (arguments[i] == L"--work-dir" && i + 1 < arguments.size()) {
            work = arguments[++i];
        } else {
            std::fputs("usage: velmarch-windows-checks.exe [--work-dir DIR] [--keep]\n", stderr);
            return 2;
        }
    }
    std::error_code error;
    if (work.empty()) {
        // A fresh folder: what an earlier run left behind must not count.
        std::wstring temp(32768, L'\0');
        temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
        std::wstring long_form(32768, L'\0');
        long_form.resize(GetLongPathNameW(temp.c_str(), long_form.data(), static_cast<DWORD>(long_form.size())));
        const std::filesystem::path base(long_form.empty() ? temp : long_form);
        const std::wstring name = L"velmarch-windows-checks-" + std::to_wstring(GetCurrentProcessId());
        work = base / name;
        for (int attempt = 2; std::filesystem::exists(work, error); ++attempt)
            work = base / (name + L"-" + std::to_wstring(attempt));
    } else if (std::filesystem::exists(work, error) && !std::filesystem::is_empty(work, error)) {
        std::fputs("velmarch-windows-checks: the work folder must be new or empty\n", stderr);
        return 2;
    }
    std::filesystem::create_directories(work, error);
    work = std::filesystem::absolute(work, error);

    SetConsoleOutputCP(CP_UTF8);  // paths and messages are printed as UTF-8
    const bool elevated = running_elevated();
    std::printf("velmarch-windows-checks on %s, %s\n", system_description().c_str(),
                elevated ? "elevated" : "not elevated");
    auto kit = load_kit(velmarch::test_helpers::own_directory(), work);
    if (!kit) {
        std::printf("The kit is incomplete: %s\n0 passed, 1 failed, 0 skipped\n", kit.error().text.c_str());
        return 2;
    }
    std::printf("kit %s, sample version %s, work folder %s\n", to_utf8(kit->directory.native()).c_str(),
                kit->signature.version.c_str(), to_utf8(work.native()).c_str());
    std::fflush(stdout);

    Tally tally;
    const auto update = check_real_update(*kit, elevated);
    tally.report("real-update", update.update);
    tally.report("staging-access-list", update.access_list);
    const auto guard_missing = redirection_guard_missing(*kit);
    const auto junction = check_planted_junction(*kit, elevated, guard_missing && !*guard_missing);
    tally.report("planted-junction", junction);
    tally.report("share-junction", check_share_junction(*kit, elevated));
    const auto created_folder = check_created_folder_junction(*kit, elevated, guard_missing && !*guard_missing);
    tally.report("created-folder-junction", created_folder);
    tally.report("swapped-log-folder", check_swapped_log_folder(*kit, elevated));
    const auto symbolic_link = check_user_symbolic_link(*kit, elevated, guard_missing && !*guard_missing);
    tally.report("user-symbolic-link", symbolic_link);
    tally.report("redirection-guard", check_redirection_guard(*kit, guard_missing));
    tally.report("stale-staging", check_stale_staging(*kit, elevated));
    tally.report("unit-tests", check_unit_suite(*kit));

    const bool sample_may_be_installed = update.update.verdict != Verdict::skipped ||
                                         junction.verdict != Verdict::skipped ||
                                         symbolic_link.verdict != Verdict::skipped;
    if (sample_may_be_installed) std::printf("cleanup: %s\n", uninstall_sample(*kit).c_str());
    if (keep || tally.failed > 0) {
        std::printf("work folder kept: %s\n", to_utf8(work.native()).c_str());
    } else {
        std::filesystem::remove_all(work, error);
    }
    std::printf("%d passed, %d failed, %d skipped\n", tally.passed, tally.failed, tally.skipped);
    std::fflush(stdout);
    return tally.failed > 0 ? 1 : 0;
}

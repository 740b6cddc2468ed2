// The log folder swapped for a user's junction, again and again, while
// elevated runs write their helper log and result in it: the walk holds the
// folder it writes in, so no run writes into the administrators-only folder
// the junction leads to, with RedirectionGuard or without.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "kit_security.h"

namespace velmarch::kit {

namespace {

constexpr wchar_t kProtectedFolder[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kUserFolder[] = L"D:P(A;OICI;FA;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr int kRuns = 15;
// A digest no package has: each run refuses the package before staging,
// after writing its helper log lines, and writes its result.
constexpr wchar_t kWrongDigest[] = L"0000000000000000000000000000000000000000000000000000000000000000";

std::vector<std::wstring> names_in(const std::filesystem::path& folder) {
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename());
    return names;
}

}  // namespace

CheckOutcome check_swapped_log_folder(const Kit& kit, bool elevated) {
    if (!elevated)
        return skipped("not elevated: only an elevated run promises to refuse links an ordinary user planted");
    std::string origin;
    auto token = ordinary_user_token(origin);
    if (!token) return skipped("no ordinary user's token to swap the folder with: " + token.error().text);

    const auto root = kit.work / L"swapped-folder";
    const auto protected_folder = root / L"protected";
    const auto user_folder = root / L"user-writable";
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (auto made = create_directory_with_descriptor(protected_folder, kProtectedFolder); !made)
        return failed(made.error().text);
    if (!write_text(protected_folder / L"helper.log", kProtectedContent))
        return failed("cannot write the protected file");
    if (auto made = create_directory_with_descriptor(user_folder, kUserFolder); !made) return failed(made.error().text);
    const auto logs = user_folder / L"Logs";
    const auto aside = user_folder / L"Logs-aside";
    std::filesystem::create_directories(logs, error);
    if (auto probe = swap_in_junction_as(token->get(), logs, aside, protected_folder); !probe)
        return skipped("this system cannot swap a folder for a junction as an ordinary user: " + probe.error().text);
    if (auto back = swap_back_as(token->get(), logs, aside); !back) return failed(back.error().text);

    auto update = prepare_case(kit, L"swapped-folder\\run");
    if (!update) return failed(update.error().text);
    update->helper_log = logs / L"helper.log";
    update->result = logs / L"result.json";
    std::vector<std::wstring> arguments = updater_arguments(kit, *update, 0);
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == L"--expected-sha256") arguments[i + 1] = kWrongDigest;

    std::atomic<bool> stop{false};
    std::atomic<long> swaps{0};
    std::atomic<long> blocked{0};
    std::string stuck;
    std::thread swapper([&] {
        while (!stop) {
            if (!swap_in_junction_as(token->get(), logs, aside, protected_folder)) {
                ++blocked;  // held by a run, or the run's log open in it
                Sleep(1);
                continue;
            }
            ++swaps;
            Sleep(2);
            for (int tries = 0; !swap_back_as(token->get(), logs, aside); ++tries) {
                if (tries == 20000) {
                    stuck = "the junction could not be swapped back";
                    return;
                }
                Sleep(1);
            }
        }
    });
    std::vector<std::string> problems;
    for (int run = 0; run < kRuns && problems.empty(); ++run) {
        auto started = start_process(kit.updater, arguments, std::nullopt, update->standard_error);
        if (!started) {
            problems.push_back(started.error().text);
        } else if (auto code = finish_within(*started, 120000, "the updater"); !code) {
            problems.push_back(code.error().text);
        } else if (*code != 1603) {
            problems.push_back("run " + std::to_string(run) + ": exit code " + std::to_string(*code) +
                               ", expected 1603");
        }
    }
    stop = true;
    swapper.join();
    if (!stuck.empty()) problems.push_back(stuck);

    const auto content = read_text(protected_folder / L"helper.log");
    if (content != kProtectedContent)
        problems.push_back("the protected file behind the junction was changed to \"" + content.value_or("(deleted)") +
                           "\"");
    if (names_in(protected_folder).size() != 1) problems.push_back("a run created a file in the protected folder");
    if (!problems.empty()) return failed(join(problems));
    if (swaps == 0) return skipped("the ordinary user never managed to swap the folder during the runs");
    return passed(std::to_string(kRuns) + " elevated runs, the folder swapped for a junction " +
                  std::to_string(swaps.load()) + " times by " + origin + " (" + std::to_string(blocked.load()) +
                  " attempts refused while held); the protected folder untouched");
}

}  // namespace velmarch::kit

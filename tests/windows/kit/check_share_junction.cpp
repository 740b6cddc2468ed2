#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "planted_junction.h"

namespace velmarch::kit {

using test_helpers::to_utf8;

namespace {

// "C:\x\y" as the administrative share of this machine: "\\localhost\C$\x\y".
std::filesystem::path on_the_local_share(const std::filesystem::path& path) {
    const std::wstring text = path.native();
    return std::filesystem::path(L"\\\\localhost\\" + text.substr(0, 1) + L"$" + text.substr(2));
}

}  // namespace

CheckOutcome check_share_junction(const Kit& kit, bool elevated) {
    if (!elevated) return skipped("not elevated: a run that is not elevated uses network paths like any program");

    const auto root = kit.work / L"share-junction";
    const auto share_root = on_the_local_share(root);
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (GetFileAttributesW(share_root.c_str()) == INVALID_FILE_ATTRIBUTES)
        return skipped("the administrative share " + to_utf8(share_root.native()) + " is not reachable here (error " +
                       std::to_string(GetLastError()) + ")");

    auto made = plant_user_junction(root);
    if (const auto* ended = std::get_if<CheckOutcome>(&made)) return *ended;
    const auto& planted = std::get<PlantedJunction>(made);
    // Through the share the file server follows the junction itself, beyond
    // this process's reach: this is what the updater must never open.
    const auto helper_log = on_the_local_share(planted.link / L"helper.log");
    if (read_text(helper_log) != kProtectedContent) {
        RemoveDirectoryW(planted.link.c_str());
        return failed("the planted junction does not lead to the protected folder through " +
                      to_utf8(helper_log.native()));
    }

    auto [problems, errors] = run_expecting_refusal(kit, L"share-junction\\run", helper_log, planted);
    if (errors != "not on a local volume\n")
        problems.push_back("standard error is not \"not on a local volume\": \"" + errors + "\"");
    if (!problems.empty()) return failed(join(problems));
    return passed(
        "junction planted with " + planted.origin + " and named through " + to_utf8(helper_log.native()) +
        "; exit code 1603, the protected file untouched, no result file, standard error: not on a local volume");
}

}  // namespace velmarch::kit

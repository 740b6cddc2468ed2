#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "kit_security.h"

namespace velmarch::kit {

using test_helpers::to_utf8;

namespace {

constexpr char kProtectedContent[] = "Only administrators may change this file.\r\n";

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

    std::string origin;
    auto token = ordinary_user_token(origin);
    if (!token) return skipped("no ordinary user's token to plant the junction with: " + token.error());
    const auto protected_folder = root / L"protected";
    const auto user_folder = root / L"user-writable";
    if (auto made = create_directory_with_descriptor(protected_folder, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"); !made)
        return failed(made.error());
    if (!write_text(protected_folder / L"helper.log", kProtectedContent))
        return failed("cannot write the protected file");
    if (auto made = create_directory_with_descriptor(user_folder, L"D:P(A;OICI;FA;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
        !made)
        return failed(made.error());
    const auto link = user_folder / L"Logs";
    if (auto planted = plant_junction_as(token->get(), link, protected_folder); !planted) {
        RemoveDirectoryW(link.c_str());
        return skipped("this system cannot plant a junction as an ordinary user: " + planted.error());
    }
    // Through the share the file server follows the junction itself, beyond
    // this process's reach: this is what the updater must never open.
    const auto helper_log = on_the_local_share(link / L"helper.log");
    if (read_text(helper_log) != kProtectedContent) {
        RemoveDirectoryW(link.c_str());
        return failed("the planted junction does not lead to the protected folder through " +
                      to_utf8(helper_log.native()));
    }

    auto update = prepare_case(kit, L"share-junction\\run");
    if (!update) return failed(update.error());
    update->helper_log = helper_log;
    std::vector<std::string> problems;
    auto started = start_process(kit.updater, updater_arguments(kit, *update, 0), std::nullopt, update->standard_error);
    if (!started) {
        problems.push_back(started.error());
    } else if (auto code = finish_within(*started, 600000, "the updater"); !code) {
        problems.push_back(code.error());
    } else if (*code != 1603) {
        problems.push_back("exit code " + std::to_string(*code) + ", expected 1603");
    }
    const auto errors = read_text(update->standard_error).value_or("");
    const auto content = read_text(protected_folder / L"helper.log");
    RemoveDirectoryW(link.c_str());
    if (content != kProtectedContent)
        problems.push_back("the protected file behind the junction was changed to \"" + content.value_or("(deleted)") +
                           "\"");
    if (errors != "not on a local volume\n")
        problems.push_back("standard error is not \"not on a local volume\": \"" + errors + "\"");
    if (read_text(update->result)) problems.push_back("a result file was written");
    std::string joined;
    for (const auto& problem : problems) joined += (joined.empty() ? "" : "; ") + problem;
    if (!problems.empty()) return failed(joined);
    return passed("junction planted with " + origin + " and named through " + to_utf8(helper_log.native()) +
                  "; exit code 1603, the protected file untouched, no result file, standard error: not on a local volume");
}

}  // namespace velmarch::kit

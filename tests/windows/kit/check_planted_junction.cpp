#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "kit_security.h"

namespace velmarch::kit {

using test_helpers::to_utf8;

namespace {

constexpr char kProtectedContent[] = "Only administrators may change this file.\r\n";

std::string join(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

}  // namespace

CheckOutcome check_planted_junction(const Kit& kit, bool elevated, bool redirection_guard) {
    if (!elevated) return skipped("not elevated: only an elevated run promises to refuse links an ordinary user planted");

    std::string origin;
    auto token = ordinary_user_token(origin);
    if (!token) return skipped("no ordinary user's token to plant the junction with: " + token.error());

    // An administrators-only folder holding the file the junction aims at, and
    // a folder every signed-in user may write to, where the junction goes.
    const auto root = kit.work / L"junction";
    const auto protected_folder = root / L"protected";
    const auto user_folder = root / L"user-writable";
    std::error_code error;
    std::filesystem::create_directories(root, error);
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
    // This process has no RedirectionGuard: it follows the junction, which
    // shows that the junction itself works.
    if (read_text(link / L"helper.log") != kProtectedContent) {
        RemoveDirectoryW(link.c_str());
        return failed("the planted junction does not lead to the protected folder");
    }

    auto update = prepare_case(kit, L"junction\\run");
    if (!update) return failed(update.error());
    update->helper_log = link / L"helper.log";
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
    if (errors.empty() || errors.back() != '\n' || errors.find('\n') != errors.size() - 1)
        problems.push_back("standard error is not one line: \"" + errors + "\"");
    else if (redirection_guard && !errors.ends_with(" (os error 448)\n"))
        problems.push_back("with RedirectionGuard the system refuses the junction, but standard error does not "
                           "carry error 448 (an untrusted mount point): \"" + errors.substr(0, errors.size() - 1) +
                           "\"");
    if (read_text(update->result)) problems.push_back("a result file was written");
    if (!problems.empty()) return failed(join(problems));
    return passed("junction planted with " + origin + "; exit code 1603, the protected file untouched, no result file, "
                  "standard error: " + errors.substr(0, errors.size() - 1));
}

}  // namespace velmarch::kit

#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "planted_junction.h"

namespace velmarch::kit {

CheckOutcome check_planted_junction(const Kit& kit, bool elevated, bool redirection_guard) {
    if (!elevated)
        return skipped("not elevated: only an elevated run promises to refuse links an ordinary user planted");

    // An administrators-only folder holding the file the junction aims at, and
    // a folder every signed-in user may write to, where the junction goes.
    auto made = plant_user_junction(kit.work / L"junction");
    if (const auto* ended = std::get_if<CheckOutcome>(&made)) return *ended;
    const auto& planted = std::get<PlantedJunction>(made);
    // This process has no RedirectionGuard: it follows the junction, which
    // shows that the junction itself works.
    if (read_text(planted.link / L"helper.log") != kProtectedContent) {
        RemoveDirectoryW(planted.link.c_str());
        return failed("the planted junction does not lead to the protected folder");
    }

    auto [problems, errors] = run_expecting_refusal(kit, L"junction\\run", planted.link / L"helper.log", planted);
    if (errors.empty() || errors.back() != '\n' || errors.find('\n') != errors.size() - 1)
        problems.push_back("standard error is not one line: \"" + errors + "\"");
    else if (redirection_guard && !errors.ends_with(" (os error 448)\n"))
        problems.push_back(
            "with RedirectionGuard the system refuses the junction, but standard error does not "
            "carry error 448 (an untrusted mount point): \"" +
            errors.substr(0, errors.size() - 1) + "\"");
    if (!problems.empty()) return failed(join(problems));
    return passed("junction planted with " + planted.origin +
                  "; exit code 1603, the protected file untouched, no result file, standard error: " +
                  errors.substr(0, errors.size() - 1));
}

}  // namespace velmarch::kit

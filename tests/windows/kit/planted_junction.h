#pragma once
// The set-up and the run two checks share: an ordinary user's junction to an
// administrators-only folder, and an elevated run that must refuse to write
// its helper log through it.

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "check_outcome.h"
#include "kit_context.h"

namespace velmarch::kit {

// Below `root`: `protected` (administrators only, holding helper.log with
// kProtectedContent) and `user-writable` (every signed-in user may change it),
// in which an ordinary user's token planted the junction `Logs` to the
// protected folder. `origin` says whose token that was.
struct PlantedJunction {
    std::filesystem::path protected_folder;
    std::filesystem::path link;
    std::string origin;
};

// The junction, or the outcome that ends the check (skipped when this system
// has no ordinary user's token or cannot plant a junction as one; failed when
// a folder cannot be made).
std::variant<PlantedJunction, CheckOutcome> plant_user_junction(const std::filesystem::path& root);

// What an elevated run named with `helper_log` did: every way it differs from
// a refusal (exit code 1603, the protected file unchanged, no result file),
// and its standard error. The junction is removed before this returns.
struct RefusedRun {
    std::vector<std::string> problems;
    std::string standard_error;
};
[[nodiscard]] RefusedRun run_expecting_refusal(const Kit& kit, const std::wstring& case_name,
                                               const std::filesystem::path& helper_log, const PlantedJunction& planted);

}  // namespace velmarch::kit

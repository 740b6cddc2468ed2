#include "planted_junction.h"

#include "kit_process.h"
#include "kit_security.h"

namespace velmarch::kit {

std::variant<PlantedJunction, CheckOutcome> plant_user_junction(const std::filesystem::path& root) {
    PlantedJunction planted;
    auto token = ordinary_user_token(planted.origin);
    if (!token) return skipped("no ordinary user's token to plant the junction with: " + token.error().text);

    planted.protected_folder = root / L"protected";
    const auto user_folder = root / L"user-writable";
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (auto made =
            create_directory_with_descriptor(planted.protected_folder, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
        !made)
        return failed(made.error().text);
    if (!write_text(planted.protected_folder / L"helper.log", kProtectedContent))
        return failed("cannot write the protected file");
    if (auto made =
            create_directory_with_descriptor(user_folder, L"D:P(A;OICI;FA;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
        !made)
        return failed(made.error().text);
    planted.link = user_folder / L"Logs";
    if (auto made = plant_junction_as(token->get(), planted.link, planted.protected_folder); !made) {
        RemoveDirectoryW(planted.link.c_str());
        return skipped("this system cannot plant a junction as an ordinary user: " + made.error().text);
    }
    return planted;
}

RefusedRun run_expecting_refusal(const Kit& kit, const std::wstring& case_name, const std::filesystem::path& helper_log,
                                 const PlantedJunction& planted) {
    RefusedRun run;
    auto update = prepare_case(kit, case_name);
    if (!update) {
        RemoveDirectoryW(planted.link.c_str());
        run.problems.push_back(update.error().text);
        return run;
    }
    update->helper_log = helper_log;
    auto started = start_process(kit.updater, updater_arguments(kit, *update, 0), std::nullopt, update->standard_error);
    if (!started) {
        run.problems.push_back(started.error().text);
    } else if (auto code = finish_within(*started, 600000, "the updater"); !code) {
        run.problems.push_back(code.error().text);
    } else if (*code != 1603) {
        run.problems.push_back("exit code " + std::to_string(*code) + ", expected 1603");
    }
    run.standard_error = read_text(update->standard_error).value_or("");
    const auto content = read_text(planted.protected_folder / L"helper.log");
    RemoveDirectoryW(planted.link.c_str());
    if (content != kProtectedContent)
        run.problems.push_back("the protected file behind the junction was changed to \"" +
                               content.value_or("(deleted)") + "\"");
    if (read_text(update->result)) run.problems.push_back("a result file was written");
    return run;
}

}  // namespace velmarch::kit

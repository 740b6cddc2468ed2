// Links an ordinary user could have made what they are: a folder an elevated
// run created in the user's space and the user then turned into a junction,
// and a user's symbolic link at the helper log (Developer Mode).
#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"
#include "kit_security.h"

namespace velmarch::kit {

namespace {

// Administrators and SYSTEM only, like a folder of the system's.
constexpr wchar_t kProtectedFolder[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Every signed-in user has full control, as in a user's profile.
constexpr wchar_t kUserFolder[] = L"D:P(A;OICI;FA;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

struct Arena {
    std::filesystem::path protected_file;
    std::filesystem::path user_folder;
};

// <work>\<name>\protected\helper.log (administrators only) and
// <work>\<name>\user-writable.
[[nodiscard]] Result<Arena> make_arena(const Kit& kit, const wchar_t* name) {
    const auto root = kit.work / name;
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (error)
        return fail(ErrorKind::general,
                    "cannot create " + test_helpers::to_utf8(root.native()) + ": " + error.message());
    Arena arena{root / L"protected" / L"helper.log", root / L"user-writable"};
    if (auto made = create_directory_with_descriptor(arena.protected_file.parent_path(), kProtectedFolder); !made)
        return std::unexpected(made.error());
    if (!write_text(arena.protected_file, kProtectedContent))
        return fail(ErrorKind::general, "cannot write the protected file");
    if (auto made = create_directory_with_descriptor(arena.user_folder, kUserFolder); !made)
        return std::unexpected(made.error());
    return arena;
}

// One elevated updater run whose helper log lies behind a link the user made:
// it must end with 1603 and one line on standard error carrying error 448 (the
// system's and the updater's own refusal both), leave the protected file as it
// was and write no result. The problems found, none when it refused.
std::vector<std::string> refused_run(const Kit& kit, const UpdateCase& update, const Arena& arena,
                                     std::string& errors) {
    std::vector<std::string> problems;
    auto started = start_process(kit.updater, updater_arguments(kit, update, 0), std::nullopt, update.standard_error);
    if (!started) {
        problems.push_back(started.error().text);
    } else if (auto code = finish_within(*started, 600000, "the updater"); !code) {
        problems.push_back(code.error().text);
    } else if (*code != 1603) {
        problems.push_back("exit code " + std::to_string(*code) + ", expected 1603");
    }
    errors = read_text(update.standard_error).value_or("");
    const auto content = read_text(arena.protected_file);
    if (content != kProtectedContent)
        problems.push_back("the protected file behind the link was changed to \"" + content.value_or("(deleted)") +
                           "\"");
    if (errors.empty() || errors.back() != '\n' || errors.find('\n') != errors.size() - 1)
        problems.push_back("standard error is not one line: \"" + errors + "\"");
    else if (!errors.ends_with(" (os error 448)\n"))
        problems.push_back("standard error does not carry error 448 (an untrusted mount point): \"" +
                           errors.substr(0, errors.size() - 1) + "\"");
    if (read_text(update.result)) problems.push_back("a result file was written");
    if (!errors.empty() && errors.back() == '\n') errors.pop_back();
    return problems;
}

}  // namespace

CheckOutcome check_created_folder_junction(const Kit& kit, bool elevated, bool redirection_guard) {
    if (!elevated) return skipped("not elevated: only an elevated run creates folders the user could turn into links");
    auto arena = make_arena(kit, L"created-folder");
    if (!arena) return failed(arena.error().text);

    // The first run creates the missing Velmarch\Logs above its helper log;
    // the double quote in the install directory ends it before Windows
    // Installer.
    auto update = prepare_case(kit, L"created-folder\\run");
    if (!update) return failed(update.error().text);
    const auto velmarch = arena->user_folder / L"Velmarch";
    const auto logs = velmarch / L"Logs";
    update->helper_log = logs / L"helper.log";
    update->install_dir += L"\"refused";
    auto first = start_process(kit.updater, updater_arguments(kit, *update, 0), std::nullopt, update->standard_error);
    if (!first) return failed(first.error().text);
    if (auto code = finish_within(*first, 600000, "the updater"); !code) return failed(code.error().text);
    std::error_code error;
    if (!std::filesystem::is_directory(logs, error))
        return failed("the first elevated run did not create " + test_helpers::to_utf8(logs.native()));
    const std::string owner = owner_name(logs).value_or("(unreadable)");
    const std::string created_list = descriptor_text(logs).value_or("(unreadable)");

    std::string origin;
    auto token = ordinary_user_token(origin);
    if (!token) {
        return skipped("the first run created the log folder (owner " + owner +
                       "), but there is no ordinary user's token to change it with: " + token.error().text);
    }

    if (auto turned = turn_into_junction_as(token->get(), logs, arena->protected_file.parent_path()); !turned) {
        RemoveDirectoryW(logs.c_str());
        return skipped("the ordinary user cannot turn the folder the run created (owner " + owner + ", " +
                       created_list + ") into a junction here: " + turned.error().text);
    }
    // This process has no RedirectionGuard: it follows the junction, which
    // shows that the junction itself works.
    if (read_text(update->helper_log) != kProtectedContent) {
        RemoveDirectoryW(logs.c_str());
        return failed("the junction the user made does not lead to the protected folder");
    }
    // The lock-down: protected lists that leave every ordinary user out, on
    // the junction and on the folder it is in, both made by the run. Refused
    // (no WRITE_DAC) is what the run's access lists are for.
    std::string lock_down;
    for (const auto& path : {logs, velmarch}) {
        auto locked = lock_down_as(token->get(), path);
        lock_down += (lock_down.empty() ? "" : "; ") +
                     (locked ? "locked down " + test_helpers::to_utf8(path.filename().native()) : locked.error().text);
    }

    std::string guard_answer =
        "RedirectionGuard is not available here, so whether it alone would refuse this "
        "junction stays open";
    if (redirection_guard) {
        auto answer = redirection_guard_answer(kit, update->helper_log);
        guard_answer = answer ? *answer : answer.error().text;
    }

    std::filesystem::remove(update->standard_error, error);
    std::string errors;
    auto problems = refused_run(kit, *update, *arena, errors);
    RemoveDirectoryW(logs.c_str());
    if (!problems.empty())
        return failed(join(problems) + " (the lock-down: " + lock_down +
                      "; the created folder's list: " + created_list + ")");
    return passed("the run created Velmarch\\Logs (owner " + owner + ", " + created_list + "), " + origin +
                  " emptied Logs and made it a junction to an administrators-only folder, then tried the lock-down: " +
                  lock_down + "; " + guard_answer +
                  "; the next elevated run ended with 1603, the protected file untouched, no result file, standard "
                  "error: " +
                  errors);
}

CheckOutcome check_user_symbolic_link(const Kit& kit, bool elevated, bool redirection_guard) {
    if (!elevated) return skipped("not elevated: only an elevated run promises to refuse links an ordinary user made");
    std::string origin;
    auto token = ordinary_user_token(origin);
    if (!token) return skipped("no ordinary user's token to make the symbolic link with: " + token.error().text);
    auto arena = make_arena(kit, L"user-symlink");
    if (!arena) return failed(arena.error().text);

    const auto link = arena->user_folder / L"helper.log";
    if (auto made = create_symbolic_link_as(token->get(), link, arena->protected_file); !made)
        return skipped("an ordinary user cannot make a symbolic link here: " + made.error().text);
    if (read_text(link) != kProtectedContent) {
        DeleteFileW(link.c_str());
        return failed("the user's symbolic link does not lead to the protected file");
    }

    auto update = prepare_case(kit, L"user-symlink\\run");
    if (!update) return failed(update.error().text);
    update->helper_log = link;
    std::string errors;
    auto problems = refused_run(kit, *update, *arena, errors);
    DeleteFileW(link.c_str());
    if (!problems.empty()) return failed(join(problems));
    return passed(std::string("symbolic link made with ") + origin +
                  (redirection_guard ? " while RedirectionGuard is in force (the updater's own check refused it)"
                                     : " without RedirectionGuard") +
                  "; exit code 1603, the protected file untouched, no result file, standard error: " + errors);
}

}  // namespace velmarch::kit

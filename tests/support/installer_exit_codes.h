#pragma once
// What a run makes of each exit code of Windows Installer (and, after a 0,
// of the installed application's version check), for expected version 2.4.0:
// the cases for the tests of the mapping, of the installer stage and of a
// whole run. The codes and what they decide come from the run's own table
// (process/installer_exit_codes.h: every code it does not start again, then
// codes it does not list); the result messages are written here.
// process_installer_exit_codes_test.cpp checks the table itself.

#include <cstdint>
#include <string>
#include <vector>

#include "process/installer_exit_codes.h"
#include "update/result_status.h"

namespace velmarch::testing {

using update::ResultStatus;

struct InstallerExitCodeRow {
    std::string name;
    std::int32_t installer_exit_code;
    std::int32_t application_exit_code;  // the version check's, run only after a 0
    ResultStatus status;
    std::int32_t result_exit_code;  // in the result file
    std::string message;
    bool version_checked;
    bool restart;  // the application is restarted through the shell
    std::int32_t process_exit_code;
};

// The result message of `status` for the installer's `code`.
inline std::string installer_result_message(ResultStatus status, std::int32_t code) {
    switch (status) {
        case ResultStatus::success: return "";
        case ResultStatus::version_conflict:
            return "Windows Installer reported that version 2.4.0 conflicts with the product already registered on "
                   "this computer.";
        case ResultStatus::restart_required: return "Windows restart is required to finish the update.";
        case ResultStatus::restart_initiated: return "Windows has started a restart to finish the update.";
        default: return "Windows Installer exited with code " + std::to_string(code) + ".";
    }
}

inline InstallerExitCodeRow installer_exit_code_row(std::string name, std::int32_t code,
                                                    const process::InstallerExitCodeMeaning& meaning) {
    return {std::move(name),
            code,
            0,
            meaning.status,
            code,
            installer_result_message(meaning.status, code),
            meaning.verify_version,
            meaning.restart,
            meaning.updater_exits_with_code ? code : 0};
}

inline std::vector<InstallerExitCodeRow> installer_exit_code_rows() {
    std::vector<InstallerExitCodeRow> rows;
    for (const process::InstallerExitCode& listed : process::kInstallerExitCodes)
        if (listed.meaning.retry == nullptr)
            rows.push_back(installer_exit_code_row(std::string(listed.name), listed.code, listed.meaning));
    rows.push_back({"VersionNotConfirmed", 0, 1, ResultStatus::install_verification_failed, 1603,
                    "The installed application did not report expected version 2.4.0 after Windows Installer "
                    "completed.",
                    true, true, 1603});
    const struct {
        const char* name;
        std::int32_t code;
    } unlisted[] = {
        {"UserCancelled1602", 1602},
        {"Failed1603", 1603},
        {"One", 1},
        {"MinusOne", -1},
        // An NTSTATUS crash code read as the signed value it is.
        {"CrashIsSigned", static_cast<std::int32_t>(0xC0000005u)},
    };
    for (const auto& [name, code] : unlisted)
        rows.push_back(installer_exit_code_row(name, code, process::kUnlistedInstallerExitCode));
    return rows;
}

}  // namespace velmarch::testing

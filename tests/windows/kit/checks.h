#pragma once
// The named checks of velmarch-windows-checks.exe.

#include <filesystem>
#include <optional>
#include <string>

#include "check_outcome.h"
#include "kit_context.h"

namespace velmarch::kit {

// A real update through the system's Windows Installer, and, read while it
// runs, the staging directory's access list.
struct RealUpdateOutcomes {
    CheckOutcome update;
    CheckOutcome access_list;
};
RealUpdateOutcomes check_real_update(const Kit& kit, bool elevated);

// Why this system cannot keep RedirectionGuard on for a process; nothing
// when it can (this program, started in its probe role, tries it); an error
// when the probe itself could not run.
[[nodiscard]] Result<std::optional<std::string>> redirection_guard_missing(const Kit& kit);

// An elevated run refuses a junction that an ordinary user planted above its
// helper log; with RedirectionGuard the system itself refuses it (error 448).
CheckOutcome check_planted_junction(const Kit& kit, bool elevated, bool redirection_guard);

// An elevated run refuses a helper log named through the administrative share
// (\\localhost\C$\...) behind an ordinary user's junction, which the file
// server, not the updater, would resolve: "not on a local volume".
CheckOutcome check_share_junction(const Kit& kit, bool elevated);

// An elevated run creates the missing folders Velmarch\Logs in a folder the
// user controls; the user empties Logs, makes it a junction and tries to
// lock both down (protected access lists that leave every ordinary user
// out); the next elevated run refuses it (error 448). Where RedirectionGuard
// is available, the outcome also answers whether it alone would have refused
// that junction (documented only for junctions "created by non-admin users";
// this folder an administrator created).
CheckOutcome check_created_folder_junction(const Kit& kit, bool elevated, bool redirection_guard);

// An ordinary user keeps swapping the log folder for a junction to an
// administrators-only folder while elevated runs write their helper log and
// result in it: nothing is written behind the junction.
CheckOutcome check_swapped_log_folder(const Kit& kit, bool elevated);

// Where Developer Mode lets an ordinary user make symbolic links, an elevated
// run refuses one the user put at its helper log, with RedirectionGuard in
// force or not (error 448).
CheckOutcome check_user_symbolic_link(const Kit& kit, bool elevated, bool redirection_guard);

// The role in which this program turns RedirectionGuard on for itself and
// opens `path` for reading: exit code 0 when it opened, 2 when the system
// refused with error 448 (an untrusted mount point), 1 otherwise (the reason
// on standard output).
int probe_redirection_guard_open(const std::wstring& path);

// Whether RedirectionGuard, turned on in a process of this program, refuses
// to open `path` (through a junction): the answer as a sentence.
[[nodiscard]] Result<std::string> redirection_guard_answer(const Kit& kit, const std::filesystem::path& path);

// RedirectionGuard is on by the time the updater first opens a file.
CheckOutcome check_redirection_guard(const Kit& kit, const Result<std::optional<std::string>>& missing);

// The role in which this program turns RedirectionGuard on for itself and
// reads it back: exit code 0 when the system keeps the policy.
int probe_redirection_guard();

// A staging directory an earlier run left (an hour old, with the staging
// access list, a package and a log) is removed by the next elevated run.
CheckOutcome check_stale_staging(const Kit& kit, bool elevated);

// The unit test executable, run from the kit.
CheckOutcome check_unit_suite(const Kit& kit);

// Removes the sample product after a real update; a note for the report.
std::string uninstall_sample(const Kit& kit);

}  // namespace velmarch::kit

#pragma once
// The named checks of velmarch-windows-checks.exe.

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

// An elevated run creates the missing log folder in a folder the user
// controls; the user empties it and makes it a junction; the next elevated
// run refuses it (error 448).
CheckOutcome check_created_folder_junction(const Kit& kit, bool elevated);

// An ordinary user keeps swapping the log folder for a junction to an
// administrators-only folder while elevated runs write their helper log and
// result in it: nothing is written behind the junction.
CheckOutcome check_swapped_log_folder(const Kit& kit, bool elevated);

// Where Developer Mode lets an ordinary user make symbolic links, an elevated
// run refuses one the user put at its helper log, with RedirectionGuard in
// force or not (error 448).
CheckOutcome check_user_symbolic_link(const Kit& kit, bool elevated, bool redirection_guard);

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

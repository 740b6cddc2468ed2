#include "run/run_update.h"

#include "process/installer_stage.h"
#include "process/previous_process.h"
#include "run/command_line.h"
#include "run/finish_run.h"
#include "run/package_acceptance.h"
#include "run/reporting.h"
#include "run/request_paths.h"
#include "run/stage_inputs.h"
#include "staging/sweep.h"
#include "text/format.h"

namespace velmarch::run {
namespace {

constexpr std::string_view kStarted = "Velmarch native updater started.";
constexpr std::string_view kStagedAndVerified =
    "The update package was copied to restricted staging and verified again.";
constexpr std::string_view kSwept = "Removed {} staging directories left by earlier runs.";
constexpr std::string_view kSweepStopped =
    "The sweep of earlier runs' staging stopped at its limit of {}; the rest is left for a later run.";

// The bound that ended the sweep, as kSweepStopped names it.
std::string sweep_limit_text(staging::SweepLimit limit) {
    switch (limit) {
        case staging::SweepLimit::names: return text::format("{} names", staging::kSweepNameLimit);
        case staging::SweepLimit::candidates: return text::format("{} candidates", staging::kSweepCandidateLimit);
        case staging::SweepLimit::seconds: return text::format("{} seconds", staging::kSweepSecondLimit);
        case staging::SweepLimit::none: break;
    }
    return {};
}

}  // namespace

RunOutcome run_update(platform::Platform& platform, const std::vector<std::string>& arguments) {
    auto parsed = parse_command_line(arguments);
    if (!parsed) return update::abort_run(parsed.error());
    if (auto made_full = make_request_paths_full(platform, *parsed); !made_full)
        return update::abort_run(made_full.error());
    const UpdateRequest& request = *parsed;

    FileReporter reporter(platform, request.helper_log_path, request.result_path, request.expected_version);
    if (auto prepared = prepare_helper_log(platform, request.helper_log_path); !prepared)
        return update::abort_run(prepared.error());
    remove_result_file(platform, request.result_path);
    reporter.append_log_line(kStarted);
    // Before this run's own staging exists, so that only earlier runs' goes.
    staging::SweepLimit sweep_stopped_at = staging::SweepLimit::none;
    if (const std::size_t swept = staging::sweep_stale_staging(platform, &sweep_stopped_at); swept > 0)
        reporter.append_log_line(text::format(kSwept, swept));
    if (sweep_stopped_at != staging::SweepLimit::none)
        reporter.append_log_line(text::format(kSweepStopped, sweep_limit_text(sweep_stopped_at)));

    auto staged = accept_package(platform, request);
    if (!staged) return finish_refused_package(platform, request, reporter, staged.error());
    reporter.append_log_line(kStagedAndVerified);

    // From here on every path returns through `staged`'s destructor, which
    // removes the staged package and the staging directory.
    if (auto waited = process::wait_for_previous_process(platform, request.parent_process_id, reporter); !waited)
        return update::abort_run(waited.error());

    const process::StagedInstall staged_install{staged->package_path(), staged->installer_log_path()};
    auto stage = process::run_installer_stage(platform, installer_inputs(request), staged_install, reporter);
    if (!stage) return std::unexpected(stage.error());
    return finish_run(platform, reporter, stage->log_line, stage->ending, request.app_path, request.install_dir);
}

std::int32_t run_updater_process(platform::Platform& platform) {
    auto arguments = platform.arguments();
    const RunOutcome outcome = arguments ? run_update(platform, *arguments) : update::abort_run(arguments.error());
    if (outcome) return *outcome;
    platform.write_standard_error(text::format("{}\n", outcome.error().message));
    return update::kInstallFailureExitCode;
}

}  // namespace velmarch::run

#include "staging/sweep.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "platform/path/path.h"
#include "staging/staging.h"
#include "staging/staging_name.h"

namespace velmarch::staging {
namespace {

bool is_quiet(std::uint64_t modified, std::uint64_t now) {
    return modified <= now && now - modified >= kSweepQuietSeconds;
}

// A directory of the staging name that a user cannot have made: a real
// directory owned by Administrators or LocalSystem (the stand-in: root) with
// the staging access list. Only these count toward kSweepCandidateLimit.
struct Candidate {
    std::unique_ptr<platform::HeldDirectory> directory;
    platform::HeldFacts facts;
};

std::optional<Candidate> open_candidate(platform::HeldDirectory& temp, std::string_view name,
                                        const platform::SecurityDescriptor& staging_access) {
    auto directory = temp.open_directory(name);
    if (!directory) return std::nullopt;
    auto facts = (*directory)->facts();
    if (!facts || facts->kind != platform::HeldKind::directory || !facts->trusted_owner) return std::nullopt;
    auto access = (*directory)->has_access_list(staging_access);
    if (!access || !*access) return std::nullopt;
    return Candidate{std::move(*directory), *facts};
}

// Removes one candidate when every check lets it go; false otherwise.
bool remove_if_stale(platform::Platform& platform, platform::HeldDirectory& directory,
                     const platform::HeldFacts& facts) {
    if (!staging_directory_may_go(facts, platform.unix_time_seconds())) return false;
    // One name more than a run puts there shows anything else.
    auto inside = directory.names("", kStagedFileNames.size() + 1);
    if (!inside || !holds_only_run_files(*inside)) return false;

    // Every file is taken before any is deleted: a live run's held package
    // keeps the whole directory.
    std::vector<std::unique_ptr<platform::TakenFile>> taken;
    for (const std::string& entry : *inside) {
        auto file = directory.take_file(entry);
        if (!file) return false;
        auto file_facts = (*file)->facts();
        if (!file_facts || !staged_file_may_go(*file_facts, platform.unix_time_seconds())) return false;
        taken.push_back(std::move(*file));
    }
    for (const auto& file : taken)
        if (!file->remove()) return false;
    // Closed first: Windows deletes a file by handle when its last handle
    // closes, and only then is the directory empty.
    taken.clear();
    return directory.remove().has_value();
}

}  // namespace

bool staging_directory_may_go(const platform::HeldFacts& facts, std::uint64_t now) {
    return facts.kind == platform::HeldKind::directory && facts.trusted_owner &&
           is_quiet(facts.modified_unix_seconds, now);
}

bool staged_file_may_go(const platform::HeldFacts& facts, std::uint64_t now) {
    return facts.kind == platform::HeldKind::regular_file && facts.trusted_owner &&
           is_quiet(facts.modified_unix_seconds, now);
}

bool holds_only_run_files(const std::vector<std::string>& names) {
    if (names.size() > kStagedFileNames.size()) return false;
    return std::ranges::all_of(names, [](const std::string& name) {
        return std::ranges::find(kStagedFileNames, std::string_view(name)) != kStagedFileNames.end();
    });
}

std::size_t sweep_stale_staging(platform::Platform& platform, SweepLimit* stopped_at) {
    SweepLimit stopped = SweepLimit::none;
    if (stopped_at != nullptr) *stopped_at = stopped;
    if (!platform.elevated()) return 0;
    // The system's own Windows directory, never the inherited SystemRoot.
    const auto windows = platform.windows_directory();
    if (!windows) return 0;
    auto temp = platform.open_held_directory(*windows / platform::path_from_utf8("Temp"));
    if (!temp) return 0;
    // One name more than the limit tells that there were more.
    auto names = (*temp)->names(kStagingNamePrefix, kSweepNameLimit + 1);
    if (!names) return 0;
    if (names->size() > kSweepNameLimit) {
        names->resize(kSweepNameLimit);
        stopped = SweepLimit::names;
    }

    const std::uint64_t started = platform.unix_time_seconds();
    std::unique_ptr<platform::SecurityDescriptor> staging_access;  // made for the first name of the form
    std::size_t examined = 0;
    std::size_t removed = 0;
    for (const std::string& name : *names) {
        if (!is_staging_directory_name(name)) continue;
        const std::uint64_t now = platform.unix_time_seconds();
        if (now >= started && now - started >= kSweepSecondLimit) {
            stopped = SweepLimit::seconds;
            break;
        }
        if (!staging_access) {
            auto descriptor = platform.create_security_descriptor(kStagingSecurityDescriptor);
            if (!descriptor) break;
            staging_access = std::move(*descriptor);
        }
        std::optional<Candidate> candidate = open_candidate(**temp, name, *staging_access);
        if (!candidate) continue;
        if (examined == kSweepCandidateLimit) {
            stopped = SweepLimit::candidates;
            break;
        }
        ++examined;
        if (remove_if_stale(platform, *candidate->directory, candidate->facts)) ++removed;
    }
    if (stopped_at != nullptr) *stopped_at = stopped;
    return removed;
}

}  // namespace velmarch::staging

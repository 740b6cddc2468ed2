#include "staging/sweep.h"

#include <algorithm>
#include <array>
#include <memory>

#include "platform/path/path.h"
#include "staging/staging.h"
#include "staging/staging_name.h"

namespace velmarch::staging {
namespace {

constexpr std::array<std::string_view, 2> kRunFileNames = {kStagedPackageName, kStagedInstallerLogName};

bool is_quiet(std::uint64_t modified, std::uint64_t now) {
    return modified <= now && now - modified >= kSweepQuietSeconds;
}

// Removes one candidate when every check lets it go; false otherwise.
bool remove_if_stale(platform::Platform& platform, platform::HeldDirectory& temp, std::string_view name,
                     const platform::SecurityDescriptor& staging_access) {
    auto directory = temp.open_directory(name);
    if (!directory) return false;
    auto facts = (*directory)->facts();
    if (!facts || !staging_directory_may_go(*facts, platform.unix_time_seconds())) return false;
    auto access = (*directory)->has_access_list(staging_access);
    if (!access || !*access) return false;
    // One name more than a run puts there shows anything else.
    auto inside = (*directory)->names("", kRunFileNames.size() + 1);
    if (!inside || !holds_only_run_files(*inside)) return false;

    // Every file is taken before any is deleted: a live run's held package
    // keeps the whole directory.
    std::vector<std::unique_ptr<platform::TakenFile>> taken;
    for (const std::string& entry : *inside) {
        auto file = (*directory)->take_file(entry);
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
    return (*directory)->remove().has_value();
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
    if (names.size() > kRunFileNames.size()) return false;
    return std::ranges::all_of(names, [](const std::string& name) {
        return std::ranges::find(kRunFileNames, std::string_view(name)) != kRunFileNames.end();
    });
}

std::size_t sweep_stale_staging(platform::Platform& platform) {
    if (!platform.elevated()) return 0;
    // The system's own Windows directory, never the inherited SystemRoot.
    const auto windows = platform.windows_directory();
    if (!windows) return 0;
    auto temp = platform.open_held_directory(*windows / platform::path_from_utf8("Temp"));
    if (!temp) return 0;
    auto names = (*temp)->names(kStagingNamePrefix, kSweepNameLimit);
    if (!names) return 0;

    const std::uint64_t started = platform.unix_time_seconds();
    std::unique_ptr<platform::SecurityDescriptor> staging_access;  // made for the first candidate
    std::size_t examined = 0;
    std::size_t removed = 0;
    for (const std::string& name : *names) {
        if (!is_staging_directory_name(name)) continue;
        const std::uint64_t now = platform.unix_time_seconds();
        if (examined == kSweepCandidateLimit || (now >= started && now - started >= kSweepSecondLimit)) break;
        ++examined;
        if (!staging_access) {
            auto descriptor = platform.create_security_descriptor(kStagingSecurityDescriptor);
            if (!descriptor) break;
            staging_access = std::move(*descriptor);
        }
        if (remove_if_stale(platform, **temp, name, *staging_access)) ++removed;
    }
    return removed;
}

}  // namespace velmarch::staging

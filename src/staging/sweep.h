#pragma once
// The sweep of staging directories that earlier runs left behind (a run that
// was killed, or whose removal met a file held for longer than its retries).
//
// The protected Temp folder lets every user create entries, so everything in
// it is a user's input. Only a directory whose name has exactly the staging
// form, that is a real directory (never a link or any reparse point), owned
// by Administrators or LocalSystem (the stand-in: root), carrying the staging
// access list (the stand-in: mode 0700), unchanged for five minutes, and
// holding nothing but regular files of the names a run puts there, each of
// them unchanged for five minutes and not held by a live run, is removed.
// Every entry is opened relative to the held Temp folder without following a
// link, and what was checked is what is deleted. Anything else is left alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace velmarch::staging {

// Names of the Temp folder that begin like a staging directory's read at
// most (other names are passed over); candidates examined at most, counting
// only directories a user cannot make (owned by Administrators or
// LocalSystem, the stand-in: root, with the staging access list), so that no
// number of look-alikes a user makes keeps the sweep from an earlier run's
// staging; seconds after which no further name is examined. A Temp folder
// full of look-alikes costs the run no more than these.
inline constexpr std::size_t kSweepNameLimit = 4096;
inline constexpr std::size_t kSweepCandidateLimit = 32;
inline constexpr std::uint64_t kSweepSecondLimit = 2;
// Anything changed within this many seconds may belong to a run that is
// still staging, and is left alone.
inline constexpr std::uint64_t kSweepQuietSeconds = 300;

// Whether `facts`, read at `now`, let a candidate directory or a file inside
// it go.
bool staging_directory_may_go(const platform::HeldFacts& facts, std::uint64_t now);
bool staged_file_may_go(const platform::HeldFacts& facts, std::uint64_t now);
// Whether a staging directory's entries are all files a run puts there.
bool holds_only_run_files(const std::vector<std::string>& names);

// Which of the bounds above ended a sweep before it had looked at every name
// of the staging form.
enum class SweepLimit { none, names, candidates, seconds };

// Removes what earlier runs left behind in an elevated run (nothing for any
// other run); returns how many staging directories went, and sets
// `*stopped_at` (when given) to the bound that ended it. Never fails: what
// cannot be examined or removed is left for a later run.
std::size_t sweep_stale_staging(platform::Platform& platform, SweepLimit* stopped_at = nullptr);

}  // namespace velmarch::staging

#pragma once
// Deletions that another program refuses for a moment. A virus scanner or the
// search indexer opens a new file soon after it is written and holds it
// briefly, so deleting it right away can fail with a sharing violation or
// access denied. Such a failure (ErrorKind::held, see Platform::delete_file) is tried again
// after a short pause, within one budget for all the deletions of one step:
// 13 tries in all, 50 ms before the second and 250 ms before each later one
// (2.8 s of pauses at most). What still cannot be deleted is left where it is
// (the next elevated run's sweep removes a staging directory); nothing is
// scheduled for a restart, which would make Windows report a pending restart
// that blocks other installers.

#include <cstdint>

#include "platform/platform.h"

namespace velmarch::platform {

inline constexpr int kHeldRemovalTries = 13;
inline constexpr std::uint32_t kFirstHeldPauseMilliseconds = 50;
inline constexpr std::uint32_t kLaterHeldPauseMilliseconds = 250;

class HeldRemovalRetry {
public:
    explicit HeldRemovalRetry(Platform& platform) : platform_(platform) {}

    [[nodiscard]] Result<void> delete_file(const Path& path);
    [[nodiscard]] Result<void> remove_directory_tree(const Path& path);

private:
    template <class Remove>
    [[nodiscard]] Result<void> with_retries(Remove remove);

    Platform& platform_;
    int pauses_taken_ = 0;
};

}  // namespace velmarch::platform

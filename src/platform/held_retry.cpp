#include "platform/held_retry.h"

namespace velmarch::platform {

template <class Remove>
Result<void> HeldRemovalRetry::with_retries(Remove remove) {
    for (;;) {
        Result<void> removed = remove();
        if (removed || removed.error().kind != ErrorKind::held || pauses_taken_ >= kHeldRemovalTries - 1)
            return removed;
        platform_.sleep_milliseconds(pauses_taken_ == 0 ? kFirstHeldPauseMilliseconds : kLaterHeldPauseMilliseconds);
        ++pauses_taken_;
    }
}

Result<void> HeldRemovalRetry::delete_file(const Path& path) {
    return with_retries([&] { return platform_.delete_file(path); });
}

Result<void> HeldRemovalRetry::remove_directory_tree(const Path& path) {
    return with_retries([&] { return platform_.remove_directory_tree(path); });
}

}  // namespace velmarch::platform

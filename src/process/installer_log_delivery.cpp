#include "process/installer_log_delivery.h"

#include <algorithm>
#include <memory>

namespace velmarch::process {
namespace {

constexpr std::size_t kCopyBufferSize = std::size_t{256} * 1024;

}  // namespace

void deliver_installer_log(platform::Platform& platform, const platform::Path& staged_log,
                           const platform::Path& caller_log, LogDelivery delivery) {
    auto source = platform.open_for_reading(staged_log);
    if (!source) return;
    auto size = (*source)->size();
    if (!size) return;

    const auto buffer = std::make_unique<std::byte[]>(kCopyBufferSize);
    const std::span<std::byte> chunk(buffer.get(), kCopyBufferSize);
    bool replace = delivery == LogDelivery::replace;
    std::uint64_t copied = 0;
    // An empty log still replaces the caller's file: it is this run's log.
    while (copied < *size || replace) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), *size - copied));
        std::size_t count = 0;
        if (wanted > 0) {
            auto read = (*source)->read(chunk.first(wanted));
            if (!read) return;
            count = *read;
        }
        if (count == 0 && !replace) return;
        // Each write goes through the same checked open as a helper log line.
        const std::span<const std::byte> bytes = chunk.first(count);
        auto written = replace ? platform.write_file(caller_log, bytes) : platform.append_to_file(caller_log, bytes);
        if (!written) return;
        replace = false;
        if (count == 0) return;
        copied += count;
    }
}

}  // namespace velmarch::process

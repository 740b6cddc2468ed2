#include "platform/write_all.h"

namespace velmarch::platform {

Result<void> write_all(File& file, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const Result<std::size_t> written = file.write(bytes);
        if (!written) return std::unexpected(written.error());
        if (*written == 0) return fail(ErrorKind::general, std::string(kShortWriteFailure));
        bytes = bytes.subspan(*written);
    }
    return {};
}

}  // namespace velmarch::platform

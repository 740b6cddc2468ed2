#include "trust/file_digest.h"

#include <algorithm>
#include <memory>

#include "text/hex.h"
#include "trust/sha256.h"

namespace velmarch::trust {
namespace {
constexpr std::size_t kReadBufferSize = 65536;
}

Result<FileDigest> compute_sha256(platform::File& file) {
    auto size = file.size();
    if (!size) return std::unexpected(std::move(size.error()));
    auto sha256 = trust::Sha256::start();
    if (!sha256) return std::unexpected(std::move(sha256.error()));

    // make_unique<T[]> value-initialises: the buffer is zero-filled once.
    const auto buffer = std::make_unique<std::byte[]>(kReadBufferSize);
    const std::span<std::byte> chunk(buffer.get(), kReadBufferSize);
    std::uint64_t length = 0;
    while (length < *size) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), *size - length));
        auto count = file.read(chunk.first(wanted));
        if (!count) return std::unexpected(std::move(count.error()));
        if (*count == 0) break;
        if (auto fed = sha256->update(chunk.first(*count)); !fed) return std::unexpected(std::move(fed.error()));
        length += *count;
    }

    auto digest = sha256->finish();
    if (!digest) return std::unexpected(std::move(digest.error()));
    return FileDigest{text::encode_hex_lower(*digest), length};
}

Result<std::string> compute_file_sha256(platform::Platform& platform, const platform::Path& path) {
    auto file = platform.open_for_reading(path);
    if (!file) return std::unexpected(std::move(file.error()));
    auto digest = compute_sha256(**file);
    if (!digest) return std::unexpected(std::move(digest.error()));
    return std::move(digest->sha256);
}

}  // namespace velmarch::trust

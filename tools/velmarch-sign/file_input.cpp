#include "file_input.h"

#include <array>
#include <fstream>
#include <iterator>
#include <memory>

#include "text/format.h"
#include "trust/file_digest.h"

namespace velmarch::sign_tool {
namespace {

[[nodiscard]] Result<void> require_existing_file(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return fail(ErrorKind::general,
                    text::format("The file {} does not exist, or is not a regular file.", path.string()));
    }
    return {};
}

[[nodiscard]] Result<std::ifstream> open_existing_file(const std::filesystem::path& path) {
    if (auto existing = require_existing_file(path); !existing) return std::unexpected(std::move(existing.error()));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(ErrorKind::general, text::format("The file {} could not be opened for reading.", path.string()));
    return in;
}

std::string read_failed(const std::filesystem::path& path) {
    return text::format("The file {} could not be read.", path.string());
}

}  // namespace

Result<std::vector<std::uint8_t>> read_file_bytes(const std::filesystem::path& path) {
    auto in = open_existing_file(path);
    if (!in) return std::unexpected(std::move(in.error()));
    std::vector<std::uint8_t> bytes;
    std::array<char, 65536> chunk{};
    while (*in) {
        in->read(chunk.data(), chunk.size());
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + in->gcount());
    }
    if (in->bad()) return fail(ErrorKind::general, read_failed(path));
    return bytes;
}

Result<std::string> file_sha256_hex(const std::filesystem::path& path) {
    if (auto existing = require_existing_file(path); !existing) return std::unexpected(std::move(existing.error()));
    // The updater's own digest, over the same platform layer, so that the
    // signed digest is computed exactly as it will be checked.
    const std::unique_ptr<platform::Platform> native = platform::make_native_platform(0, nullptr);
    auto digest = trust::compute_file_sha256(*native, platform::Path(path.native()));
    if (!digest) return fail(with_context(digest.error(), "The file {} could not be read: {}", path.string()));
    return digest;
}

}  // namespace velmarch::sign_tool

#include "file_input.h"

#include <array>
#include <fstream>
#include <iterator>

#include "text/format.h"
#include "trust/hex.h"
#include "trust/sha256.h"

namespace velmarch::sign_tool {
namespace {

platform::Result<std::ifstream> open_existing_file(const platform::Path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::unexpected(text::format("{} is not an existing file.", path.string()));
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::unexpected(text::format("{} could not be opened for reading.", path.string()));
    return in;
}

std::string read_failed(const platform::Path& path) { return text::format("{} could not be read.", path.string()); }

}  // namespace

platform::Result<std::vector<std::uint8_t>> read_file_bytes(const platform::Path& path) {
    auto in = open_existing_file(path);
    if (!in) return std::unexpected(std::move(in.error()));
    std::vector<std::uint8_t> bytes;
    std::array<char, 65536> chunk{};
    while (*in) {
        in->read(chunk.data(), chunk.size());
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + in->gcount());
    }
    if (in->bad()) return std::unexpected(read_failed(path));
    return bytes;
}

platform::Result<std::string> file_sha256_hex(const platform::Path& path) {
    auto in = open_existing_file(path);
    if (!in) return std::unexpected(std::move(in.error()));
    auto sha256 = trust::Sha256::start();
    if (!sha256) return std::unexpected(std::move(sha256.error()));
    std::array<char, 65536> chunk{};
    while (*in) {
        in->read(chunk.data(), chunk.size());
        const auto count = static_cast<std::size_t>(in->gcount());
        if (auto fed = sha256->update(std::as_bytes(std::span(chunk.data(), count))); !fed) {
            return std::unexpected(std::move(fed.error()));
        }
    }
    if (in->bad()) return std::unexpected(read_failed(path));
    auto digest = sha256->finish();
    if (!digest) return std::unexpected(std::move(digest.error()));
    return encode_hex_lower(*digest);
}

}  // namespace velmarch::sign_tool

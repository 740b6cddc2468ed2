#include "trust/sha256.h"

#include <utility>

namespace velmarch::trust {
namespace {

constexpr std::string_view kDigestFailed = "The SHA-256 digest could not be computed.";

std::unexpected<Error> digest_failed() { return fail(ErrorKind::general, std::string(kDigestFailed)); }

}  // namespace

Result<Sha256> Sha256::start() {
    const OpenSslErrorQueueGuard errors;
    DigestContextOwner context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return digest_failed();
    return Sha256(std::move(context));
}

Result<void> Sha256::update(std::span<const std::byte> bytes) {
    const OpenSslErrorQueueGuard errors;
    if (!context_ || EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 1) {
        return digest_failed();
    }
    return {};
}

Result<std::array<std::uint8_t, 32>> Sha256::finish() {
    const OpenSslErrorQueueGuard errors;
    std::array<std::uint8_t, 32> digest{};
    unsigned int length = 0;
    if (!context_ || EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1 || length != digest.size()) {
        return digest_failed();
    }
    context_.reset();
    return digest;
}

}  // namespace velmarch::trust

#pragma once
// An incremental SHA-256 computation (OpenSSL EVP digest).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "text/result.h"
#include "trust/openssl_owners.h"

namespace velmarch::trust {

class Sha256 {
public:
    [[nodiscard]] static Result<Sha256> start();

    [[nodiscard]] Result<void> update(std::span<const std::byte> bytes);
    // Ends the computation; the object is spent afterwards.
    [[nodiscard]] Result<std::array<std::uint8_t, 32>> finish();

private:
    explicit Sha256(DigestContextOwner context) : context_(std::move(context)) {}
    DigestContextOwner context_;
};

}  // namespace velmarch::trust

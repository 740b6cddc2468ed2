#pragma once
// The publisher's Ed25519 private key, kept as a PKCS#8 PEM file: encrypted
// with a passphrase (scrypt and AES-256-CBC) unless asked otherwise.

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "passphrase.h"
#include "text/result.h"
#include "trust/openssl_owners.h"

namespace velmarch::sign_tool {

class SigningKey {
public:
    [[nodiscard]] static Result<SigningKey> generate();
    // An encrypted key asks `passphrase` for its passphrase; a plain one does not.
    [[nodiscard]] static Result<SigningKey> load(const std::filesystem::path& pem_file,
                                                 const PassphraseSource& passphrase);

    // Writes a new file readable by its owner only, encrypted with
    // `passphrase` when one is given; an existing file is never replaced.
    [[nodiscard]] Result<void> save(const std::filesystem::path& pem_file, const Passphrase* passphrase) const;

    [[nodiscard]] Result<std::array<std::uint8_t, 32>> public_key() const;
    [[nodiscard]] Result<std::array<std::uint8_t, 64>> sign(std::span<const std::uint8_t> message) const;

private:
    explicit SigningKey(trust::KeyOwner key) : key_(std::move(key)) {}
    trust::KeyOwner key_;
};

}  // namespace velmarch::sign_tool

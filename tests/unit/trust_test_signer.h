#pragma once
// An Ed25519 signer for the trust tests, made from a fixed seed so that every
// run signs with the same key and no key file is needed.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/result.h"

namespace velmarch::trust_test {

class TestSigner {
public:
    TestSigner();

    // 64 lower-case hex digits followed by CR LF, as the embedded key is stored.
    std::string public_key_text() const { return public_key_hex_ + "\r\n"; }
    std::array<std::uint8_t, 64> sign(std::string_view message) const;
    std::string sign_base64(std::string_view message) const;

private:
    std::array<std::uint8_t, 32> seed_{};
    std::string public_key_hex_;
};

// Base64 signature of `message` by the development private key in the
// repository, or nullopt when this build embeds another public key.
std::optional<std::string> sign_for_embedded_key(std::string_view message);

// "accepted", or the refusal message.
template <class T>
std::string outcome_text(const velmarch::Result<T>& outcome) {
    return outcome ? std::string("accepted") : outcome.error().text;
}

std::span<const std::uint8_t> bytes_of(std::string_view text);
std::vector<std::uint8_t> bytes_from_hex(std::string_view hex);
std::string sha256_hex_of(std::string_view content);

}  // namespace velmarch::trust_test

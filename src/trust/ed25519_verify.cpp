#include <algorithm>
#include <array>

#include "trust/ed25519.h"
#include "trust/openssl_owners.h"

namespace velmarch::trust {
namespace {

// L = 2^252 + 27742317777372353535851937790883648493, little-endian.
constexpr std::array<std::uint8_t, 32> kGroupOrder = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
};

// S < L, compared from the most significant byte down. OpenSSL tests this as
// well; it is repeated here so that the refusal of a non-reduced S does not
// depend on the library version the updater is linked with.
bool scalar_is_reduced(std::span<const std::uint8_t, 32> s) {
    return std::lexicographical_compare(s.rbegin(), s.rend(), kGroupOrder.rbegin(), kGroupOrder.rend());
}

}  // namespace

bool ed25519_verify(std::span<const std::uint8_t, kEd25519PublicKeySize> public_key,
                    std::span<const std::uint8_t, kEd25519SignatureSize> signature,
                    std::span<const std::uint8_t> message) {
    if (!scalar_is_reduced(signature.subspan<32, 32>())) return false;

    const OpenSslErrorQueueGuard errors;
    const KeyOwner key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key.data(), public_key.size()));
    if (!key) return false;
    const DigestContextOwner context(EVP_MD_CTX_new());
    if (!context) return false;
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    // Some providers refuse a null message pointer even for zero bytes.
    static constexpr unsigned char kNoBytes = 0;
    const unsigned char* const message_bytes = message.empty() ? &kNoBytes : message.data();
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), message_bytes, message.size()) == 1;
}

}  // namespace velmarch::trust

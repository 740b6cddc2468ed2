#include "trust_test_signer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>

#include "support/test_signing.h"
#include "text/hex.h"
#include "trust/base64.h"
#include "trust/embedded_update_key.h"

namespace velmarch::trust_test {
namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;

Key private_key(const std::array<std::uint8_t, 32>& seed) {
    Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
    EXPECT_TRUE(key) << "OpenSSL refused the test seed";
    return key;
}

std::array<std::uint8_t, 64> sign_with(EVP_PKEY* key, std::string_view message) {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
    std::array<std::uint8_t, 64> signature{};
    std::size_t size = signature.size();
    EXPECT_EQ(EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key), 1);
    EXPECT_EQ(EVP_DigestSign(context.get(), signature.data(), &size,
                             reinterpret_cast<const unsigned char*>(message.data()), message.size()),
              1);
    return signature;
}

std::string public_key_hex(EVP_PKEY* key) {
    std::array<std::uint8_t, 32> public_key{};
    std::size_t size = public_key.size();
    EXPECT_EQ(EVP_PKEY_get_raw_public_key(key, public_key.data(), &size), 1);
    return text::encode_hex_lower(public_key);
}

}  // namespace

TestSigner::TestSigner() {
    for (std::size_t i = 0; i < seed_.size(); ++i) seed_[i] = static_cast<std::uint8_t>(0xA0 + i);
    public_key_hex_ = public_key_hex(private_key(seed_).get());
}

std::array<std::uint8_t, 64> TestSigner::sign(std::string_view message) const {
    return sign_with(private_key(seed_).get(), message);
}

std::string TestSigner::sign_base64(std::string_view message) const { return trust::base64_encode(sign(message)); }

std::optional<std::string> sign_for_embedded_key(std::string_view message) {
    const std::shared_ptr<EVP_PKEY> key = testing::read_development_private_key();
    EXPECT_TRUE(key) << "the development private key cannot be read";
    if (!key || public_key_hex(key.get()) + "\r\n" != trust::embedded_update_public_key()) return std::nullopt;
    return trust::base64_encode(sign_with(key.get(), message));
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<std::uint8_t> bytes_from_hex(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string sha256_hex_of(std::string_view content) {
    std::array<std::uint8_t, 32> digest{};
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(content.data(), content.size(), digest.data(), &size, EVP_sha256(), nullptr), 1);
    return text::encode_hex_lower(digest);
}

}  // namespace velmarch::trust_test

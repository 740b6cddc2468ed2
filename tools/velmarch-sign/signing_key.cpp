#include "signing_key.h"

#include <memory>

#include <openssl/bio.h>
#include <openssl/pem.h>

#include "private_file.h"
#include "text/format.h"

namespace velmarch::sign_tool {
namespace {

using BioOwner = std::unique_ptr<BIO, trust::OpenSslDeleter<BIO_free_all>>;
using KeyContextOwner = std::unique_ptr<EVP_PKEY_CTX, trust::OpenSslDeleter<EVP_PKEY_CTX_free>>;

}  // namespace

Result<SigningKey> SigningKey::generate() {
    const trust::OpenSslErrorQueueGuard errors;
    const KeyContextOwner context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &raw) != 1) {
        return std::unexpected(std::string("A new Ed25519 key could not be generated."));
    }
    return SigningKey(trust::KeyOwner(raw));
}

Result<SigningKey> SigningKey::load(const std::filesystem::path& pem_file) {
    const trust::OpenSslErrorQueueGuard errors;
    const BioOwner bio(BIO_new_file(pem_file.c_str(), "rb"));
    if (!bio) return std::unexpected(text::format("The key file {} could not be opened.", pem_file.string()));
    trust::KeyOwner key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        return std::unexpected(
            text::format("The key file {} does not hold an Ed25519 private key in PEM form.", pem_file.string()));
    }
    return SigningKey(std::move(key));
}

Result<void> SigningKey::save(const std::filesystem::path& pem_file) const {
    const trust::OpenSslErrorQueueGuard errors;
    const BioOwner memory(BIO_new(BIO_s_mem()));
    if (!memory ||
        PEM_write_bio_PKCS8PrivateKey(memory.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return std::unexpected(std::string("The private key could not be encoded as PEM."));
    }
    char* pem = nullptr;
    const long pem_size = BIO_get_mem_data(memory.get(), &pem);
    if (pem_size <= 0 || pem == nullptr) {
        return std::unexpected(std::string("The private key could not be encoded as PEM."));
    }

    return write_private_file(pem_file, std::as_bytes(std::span(pem, static_cast<std::size_t>(pem_size))));
}

Result<std::array<std::uint8_t, 32>> SigningKey::public_key() const {
    const trust::OpenSslErrorQueueGuard errors;
    std::array<std::uint8_t, 32> bytes{};
    std::size_t size = bytes.size();
    if (EVP_PKEY_get_raw_public_key(key_.get(), bytes.data(), &size) != 1 || size != bytes.size()) {
        return std::unexpected(std::string("The public key could not be derived from the private key."));
    }
    return bytes;
}

Result<std::array<std::uint8_t, 64>> SigningKey::sign(std::span<const std::uint8_t> message) const {
    const trust::OpenSslErrorQueueGuard errors;
    const trust::DigestContextOwner context(EVP_MD_CTX_new());
    std::array<std::uint8_t, 64> signature{};
    std::size_t size = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &size, message.data(), message.size()) != 1 ||
        size != signature.size()) {
        return std::unexpected(std::string("The signature could not be made."));
    }
    return signature;
}

}  // namespace velmarch::sign_tool

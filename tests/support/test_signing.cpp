#include "support/test_signing.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "support/source_path.h"
#include "text/hex.h"

namespace velmarch::testing {
namespace {

std::string base64(const unsigned char* data, std::size_t size) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < size; i += 3) {
        const unsigned v = (unsigned(data[i]) << 16) | (i + 1 < size ? unsigned(data[i + 1]) << 8 : 0u) |
                           (i + 2 < size ? unsigned(data[i + 2]) : 0u);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < size ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < size ? kAlphabet[v & 63] : '=';
    }
    return out;
}

std::shared_ptr<EVP_PKEY> development_key() {
    static std::shared_ptr<EVP_PKEY> key = [] {
        std::shared_ptr<EVP_PKEY> read = read_development_private_key();
        if (!read) throw std::runtime_error("cannot read the development private key");
        return read;
    }();
    return key;
}

}  // namespace

std::shared_ptr<EVP_PKEY> read_development_private_key() {
    const std::string path = testing::source_path("keys/development/update-signing-key.pem");
    std::ifstream in(path, std::ios::binary);
    const std::string pem(std::istreambuf_iterator<char>(in), {});
    if (!in.good() && !in.eof()) return nullptr;
    const std::unique_ptr<BIO, int (*)(BIO*)> memory(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                     &BIO_free);
    if (!memory) return nullptr;
    EVP_PKEY* raw = PEM_read_bio_PrivateKey(memory.get(), nullptr, nullptr, nullptr);
    if (raw == nullptr) return nullptr;
    return std::shared_ptr<EVP_PKEY>(raw, &EVP_PKEY_free);
}

std::string sha256_hex(std::string_view content) {
    unsigned char digest[32];
    unsigned int size = 0;
    EVP_Digest(content.data(), content.size(), digest, &size, EVP_sha256(), nullptr);
    return text::encode_hex_lower(digest);
}

std::string sign_with_development_key(std::string_view message) {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char signature[64];
    std::size_t size = sizeof signature;
    if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, development_key().get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &size, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1)
        throw std::runtime_error("signing failed");
    return base64(signature, size);
}

void sign_request(run::UpdateRequest& request, std::string_view content, std::string_view version) {
    request.expected_sha256 = sha256_hex(content);
    request.expected_version = std::string(version);
    request.key_id = "velmarch-update-2026-01";
    request.signature_algorithm = "ed25519";
    request.signature = sign_with_development_key(
        "velmarch-update-v1\nkey-id:velmarch-update-2026-01\nversion:" + request.expected_version +
        "\nsha256:" + request.expected_sha256 + "\n");
}

}  // namespace velmarch::testing

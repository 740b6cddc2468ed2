#include "trust/update_signature.h"

#include <algorithm>

#include "text/ascii_case.h"
#include "text/format.h"
#include "text/trim.h"
#include "trust/base64.h"
#include "trust/ed25519.h"
#include "trust/embedded_update_key.h"

namespace velmarch::trust {
namespace {

constexpr std::string_view kUnsupportedAlgorithm = "Unsupported update signature algorithm.";
constexpr std::string_view kInvalidMetadata = "Update signature metadata is invalid.";
constexpr std::string_view kInvalidPublicKey = "The embedded update public key is invalid.";
constexpr std::string_view kNotBase64 = "Update signature is not valid Base64.";
constexpr std::string_view kInvalidLength = "Update signature has an invalid length.";
constexpr std::string_view kVerificationFailed = "Update signature verification failed.";

constexpr std::string_view kSignedMetadataTemplate = "velmarch-update-v1\nkey-id:{}\nversion:{}\nsha256:{}\n";
constexpr std::size_t kDigestLength = 64;

bool is_digest_text(std::string_view digest) {
    return digest.size() == kDigestLength && std::ranges::all_of(digest, text::is_hex_digit);
}

}  // namespace

std::string compose_signed_metadata(std::string_view key_id, std::string_view version, std::string_view sha256) {
    return text::format(kSignedMetadataTemplate, key_id, version, sha256);
}

Result<void> verify_update_signature(std::string_view version, std::string_view sha256, std::string_view signature,
                                     std::string_view key_id, std::string_view algorithm) {
    return verify_update_signature_with_key(embedded_update_public_key(), version, sha256, signature, key_id,
                                            algorithm);
}

Result<void> verify_update_signature_with_key(std::string_view public_key_text, std::string_view version,
                                              std::string_view sha256, std::string_view signature,
                                              std::string_view key_id, std::string_view algorithm) {
    if (!text::ascii_iequals(text::trim(algorithm), kAcceptedSignatureAlgorithm)) {
        return fail(ErrorKind::refused, std::string(kUnsupportedAlgorithm));
    }

    const std::string_view trimmed_version = text::trim(version);
    const std::string digest = text::ascii_lower(text::trim(sha256));
    const std::string_view trimmed_key_id = text::trim(key_id);
    if (trimmed_version.empty() || !is_digest_text(digest) || trimmed_key_id != kAcceptedKeyId) {
        return fail(ErrorKind::refused, std::string(kInvalidMetadata));
    }

    const std::string metadata = compose_signed_metadata(trimmed_key_id, trimmed_version, digest);
    const auto* const metadata_bytes = reinterpret_cast<const std::uint8_t*>(metadata.data());
    return verify_signed_message(public_key_text, std::span(metadata_bytes, metadata.size()), signature);
}

Result<void> verify_signed_message(std::string_view public_key_text, std::span<const std::uint8_t> message,
                                   std::string_view signature_base64) {
    const auto public_key = text::decode_hex_32_bytes(public_key_text);
    if (!public_key || !trust::is_ed25519_point(*public_key))
        return fail(ErrorKind::refused, std::string(kInvalidPublicKey));

    const auto signature = trust::base64_decode_strict(text::trim(signature_base64));
    if (!signature) return fail(ErrorKind::refused, std::string(kNotBase64));
    if (signature->size() != trust::kEd25519SignatureSize) return fail(ErrorKind::refused, std::string(kInvalidLength));

    const std::span<const std::uint8_t, trust::kEd25519SignatureSize> signature_bytes(signature->data(),
                                                                                      trust::kEd25519SignatureSize);
    if (!trust::ed25519_verify(*public_key, signature_bytes, message))
        return fail(ErrorKind::refused, std::string(kVerificationFailed));
    return {};
}

}  // namespace velmarch::trust

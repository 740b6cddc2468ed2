#pragma once
// The update signature: the package digest, hexadecimal decoding and the
// signature check against the public key compiled into the updater.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/hex.h"
#include "text/result.h"
#include "trust/file_digest.h"

namespace velmarch::trust {

inline constexpr std::string_view kAcceptedKeyId = "velmarch-update-2026-01";
inline constexpr std::string_view kAcceptedSignatureAlgorithm = "ed25519";

// The bytes the publisher signs: four lines, each ended by a line feed.
std::string compose_signed_metadata(std::string_view key_id, std::string_view version, std::string_view sha256);

// Verifies the publisher's signature over the signed metadata of `version`
// and `sha256` with the embedded public key.
[[nodiscard]] Result<void> verify_update_signature(std::string_view version, std::string_view sha256,
                                                   std::string_view signature, std::string_view key_id,
                                                   std::string_view algorithm);

// The same check with the public key given as text (64 hex digits, trimmed
// before use); the embedded key is just one such text.
[[nodiscard]] Result<void> verify_update_signature_with_key(std::string_view public_key_text, std::string_view version,
                                                            std::string_view sha256, std::string_view signature,
                                                            std::string_view key_id, std::string_view algorithm);

// Decodes the key and the Base64 signature and verifies the signature over
// raw message bytes, with the refusal messages of the update signature check.
[[nodiscard]] Result<void> verify_signed_message(std::string_view public_key_text,
                                                 std::span<const std::uint8_t> message,
                                                 std::string_view signature_base64);

}  // namespace velmarch::trust

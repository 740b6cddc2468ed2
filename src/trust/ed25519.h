#pragma once
// Ed25519 (RFC 8032) public-key decoding and signature verification.

#include <cstdint>
#include <span>

namespace velmarch::trust {

inline constexpr std::size_t kEd25519PublicKeySize = 32;
inline constexpr std::size_t kEd25519SignatureSize = 64;

// Whether the 32 bytes decode to a point of the curve: y is bits 0 to 254,
// little-endian, taken modulo p = 2^255 - 19 (a value of p or more is reduced,
// not refused), bit 255 is the sign of x. Refused only when no x exists for y.
//
// RFC 8032 also refuses x = 0 with the sign bit set. That test is left out on
// purpose: such a key names the same point as with the sign bit clear, and the
// updater's acceptance rule refuses a key only when y has no matching x.
// OpenSSL's verification accepts such a key as well.
bool is_ed25519_point(std::span<const std::uint8_t, kEd25519PublicKeySize> encoded);

// The cofactorless check [S]B - [k]A == R (compared as encodings) with
// S < L required and no small-order tests, k taken over the key bytes as
// given. The caller has decoded the key with is_ed25519_point. Any library
// failure counts as a refusal.
bool ed25519_verify(std::span<const std::uint8_t, kEd25519PublicKeySize> public_key,
                    std::span<const std::uint8_t, kEd25519SignatureSize> signature,
                    std::span<const std::uint8_t> message);

}  // namespace velmarch::trust

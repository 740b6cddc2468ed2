#pragma once
// The harnesses' model of the update signature check up to the curve
// equation: which fixed message each refusal step gives, the signed-metadata
// text, and whether 32 key bytes decode to a curve point.

#include <openssl/bn.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base64_model.h"
#include "support/unicode_trim.h"

namespace fuzz_model {

inline constexpr std::string_view kUnsupportedAlgorithm = "Unsupported update signature algorithm.";
inline constexpr std::string_view kInvalidMetadata = "Update signature metadata is invalid.";
inline constexpr std::string_view kInvalidPublicKey = "The embedded update public key is invalid.";
inline constexpr std::string_view kNotBase64 = "Update signature is not valid Base64.";
inline constexpr std::string_view kInvalidLength = "Update signature has an invalid length.";
inline constexpr std::string_view kVerificationFailed = "Update signature verification failed.";
inline constexpr std::string_view kSignatureMessages[] = {
    kUnsupportedAlgorithm, kInvalidMetadata, kInvalidPublicKey, kNotBase64, kInvalidLength, kVerificationFailed};

inline constexpr std::string_view kAcceptedKeyId = "velmarch-update-2026-01";

struct SignatureInputs {
    std::string_view version;
    std::string_view sha256;
    std::string_view signature;
    std::string_view key_id;
    std::string_view algorithm;
};

inline std::string signed_metadata(const SignatureInputs& in) {
    return "velmarch-update-v1\nkey-id:" + std::string(trim(in.key_id)) + "\nversion:" + std::string(trim(in.version)) +
           "\nsha256:" + ascii_lower(trim(in.sha256)) + "\n";
}

// Whether y (bits 0 to 254, reduced mod p) has an x on the curve, found the
// way RFC 8032 section 5.1.3 computes the square root. A zero x is accepted
// with either sign bit.
inline bool is_curve_point(const std::array<std::uint8_t, 32>& encoded) {
    using Bignum = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
    auto make = [] { return Bignum(BN_new(), &BN_free); };
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> context(BN_CTX_new(), &BN_CTX_free);
    Bignum p = make(), d = make(), y = make(), u = make(), v = make(), x = make(), t = make(), e = make(), one = make(),
           vx2 = make(), neg_u = make();
    BN_CTX* ctx = context.get();
    std::array<std::uint8_t, 32> y_bytes = encoded;
    y_bytes[31] &= 0x7F;

    BN_one(one.get());
    BN_set_bit(p.get(), 255);
    BN_sub_word(p.get(), 19);
    BN_set_word(t.get(), 121666);
    BN_mod_inverse(d.get(), t.get(), p.get(), ctx);
    BN_set_word(t.get(), 121665);
    BN_mod_mul(d.get(), d.get(), t.get(), p.get(), ctx);
    BN_mod_sub(d.get(), p.get(), d.get(), p.get(), ctx);  // d = -121665/121666

    BN_lebin2bn(y_bytes.data(), 32, y.get());
    BN_nnmod(y.get(), y.get(), p.get(), ctx);
    BN_mod_sqr(t.get(), y.get(), p.get(), ctx);
    BN_mod_sub(u.get(), t.get(), one.get(), p.get(), ctx);  // u = y^2 - 1
    BN_mod_mul(v.get(), d.get(), t.get(), p.get(), ctx);
    BN_mod_add(v.get(), v.get(), one.get(), p.get(), ctx);  // v = d y^2 + 1

    // x = u v^3 (u v^7)^((p-5)/8)
    BN_copy(e.get(), p.get());
    BN_sub_word(e.get(), 5);
    BN_rshift(e.get(), e.get(), 3);
    BN_set_word(t.get(), 7);
    BN_mod_exp(t.get(), v.get(), t.get(), p.get(), ctx);
    BN_mod_mul(t.get(), t.get(), u.get(), p.get(), ctx);
    BN_mod_exp(t.get(), t.get(), e.get(), p.get(), ctx);
    BN_set_word(x.get(), 3);
    BN_mod_exp(x.get(), v.get(), x.get(), p.get(), ctx);
    BN_mod_mul(x.get(), x.get(), u.get(), p.get(), ctx);
    BN_mod_mul(x.get(), x.get(), t.get(), p.get(), ctx);

    BN_mod_sqr(vx2.get(), x.get(), p.get(), ctx);
    BN_mod_mul(vx2.get(), vx2.get(), v.get(), p.get(), ctx);
    BN_mod_sub(neg_u.get(), p.get(), u.get(), p.get(), ctx);
    return BN_cmp(vx2.get(), u.get()) == 0 || BN_cmp(vx2.get(), neg_u.get()) == 0;
}

// The message of the first step that refuses, for the given key text, or
// nothing when every step up to the curve equation passes.
inline std::optional<std::string_view> expected_refusal(const SignatureInputs& in, std::string_view public_key_text) {
    const std::string_view algorithm = trim(in.algorithm);
    if (ascii_lower(algorithm) != "ed25519") return kUnsupportedAlgorithm;

    const std::string digest = ascii_lower(trim(in.sha256));
    if (trim(in.version).empty() || digest.size() != 64 || !std::ranges::all_of(digest, is_hex_digit) ||
        trim(in.key_id) != kAcceptedKeyId)
        return kInvalidMetadata;

    const std::string_view key_digits = trim(public_key_text);
    if (key_digits.size() != 64 || !std::ranges::all_of(key_digits, is_hex_digit)) return kInvalidPublicKey;
    std::array<std::uint8_t, 32> key{};
    for (std::size_t i = 0; i < 32; ++i)
        key[i] = static_cast<std::uint8_t>(std::stoi(std::string(key_digits.substr(2 * i, 2)), nullptr, 16));
    if (!is_curve_point(key)) return kInvalidPublicKey;

    const auto signature = base64_decode_strict(trim(in.signature));
    if (!signature) return kNotBase64;
    if (signature->size() != 64) return kInvalidLength;
    return std::nullopt;
}

}  // namespace fuzz_model

#include <array>

#include "trust/ed25519.h"
#include "trust/openssl_owners.h"

namespace velmarch::trust {
namespace {

// x^2 = (y^2 - 1) / (d y^2 + 1) on -x^2 + y^2 = 1 + d x^2 y^2, d = -121665/121666.
// The denominator never vanishes mod p because -1/d is not a square.
bool has_matching_x(const std::array<std::uint8_t, kEd25519PublicKeySize>& y_little_endian) {
    BignumContextOwner context(BN_CTX_new());
    BignumOwner p(BN_new());
    BignumOwner d(BN_new());
    BignumOwner y(BN_new());
    BignumOwner y_squared(BN_new());
    BignumOwner numerator(BN_new());
    BignumOwner denominator(BN_new());
    BignumOwner x_squared(BN_new());
    BignumOwner exponent(BN_new());
    BignumOwner legendre(BN_new());
    BignumOwner scratch(BN_new());
    if (!context || !p || !d || !y || !y_squared || !numerator || !denominator || !x_squared || !exponent ||
        !legendre || !scratch) {
        return false;
    }
    BN_CTX* ctx = context.get();

    // p = 2^255 - 19
    if (BN_set_bit(p.get(), 255) != 1 || BN_sub_word(p.get(), 19) != 1) return false;
    // d = -121665 * 121666^-1 mod p
    if (BN_set_word(scratch.get(), 121666) != 1 || BN_mod_inverse(d.get(), scratch.get(), p.get(), ctx) == nullptr ||
        BN_mul_word(d.get(), 121665) != 1 || BN_nnmod(d.get(), d.get(), p.get(), ctx) != 1 ||
        BN_mod_sub(d.get(), p.get(), d.get(), p.get(), ctx) != 1) {
        return false;
    }

    if (BN_lebin2bn(y_little_endian.data(), static_cast<int>(y_little_endian.size()), y.get()) == nullptr ||
        BN_nnmod(y.get(), y.get(), p.get(), ctx) != 1 || BN_mod_sqr(y_squared.get(), y.get(), p.get(), ctx) != 1) {
        return false;
    }
    // numerator = y^2 - 1, denominator = d y^2 + 1 (mod p)
    if (BN_one(scratch.get()) != 1 || BN_mod_sub(numerator.get(), y_squared.get(), scratch.get(), p.get(), ctx) != 1 ||
        BN_mod_mul(denominator.get(), d.get(), y_squared.get(), p.get(), ctx) != 1 ||
        BN_mod_add(denominator.get(), denominator.get(), scratch.get(), p.get(), ctx) != 1 ||
        BN_mod_inverse(scratch.get(), denominator.get(), p.get(), ctx) == nullptr ||
        BN_mod_mul(x_squared.get(), numerator.get(), scratch.get(), p.get(), ctx) != 1) {
        return false;
    }
    if (BN_is_zero(x_squared.get())) return true;  // x = 0, whatever the sign bit says

    // Euler's criterion: x^2 has a square root exactly when (x^2)^((p-1)/2) = 1.
    if (BN_copy(exponent.get(), p.get()) == nullptr || BN_sub_word(exponent.get(), 1) != 1 ||
        BN_rshift1(exponent.get(), exponent.get()) != 1 ||
        BN_mod_exp(legendre.get(), x_squared.get(), exponent.get(), p.get(), ctx) != 1) {
        return false;
    }
    return BN_is_one(legendre.get()) == 1;
}

}  // namespace

bool is_ed25519_point(std::span<const std::uint8_t, kEd25519PublicKeySize> encoded) {
    const OpenSslErrorQueueGuard errors;
    std::array<std::uint8_t, kEd25519PublicKeySize> y{};
    std::copy(encoded.begin(), encoded.end(), y.begin());
    y.back() &= 0x7F;  // bit 255 is the sign of x, not part of y
    return has_matching_x(y);
}

}  // namespace velmarch::trust

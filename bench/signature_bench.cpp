// Times the updater's Ed25519 signature check (trust::ed25519_verify): the
// first check of the process, which includes libcrypto's initialisation and
// the first fetch of the algorithm, as in an update run, and the mean of the
// checks after it. The key and signature are made here with a fixed seed.
//
// usage: velmarch-signature-bench [CHECKS]   (default 2000)

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "trust/ed25519.h"
#include "trust/openssl_owners.h"

namespace {

using Clock = std::chrono::steady_clock;

double microseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const long checks = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    if (argc > 2 || checks < 1) {
        std::fprintf(stderr, "usage: velmarch-signature-bench [CHECKS]\n");
        return 2;
    }
    // A message the size of a signed package record.
    constexpr std::string_view kMessage =
        "velmarch-package-v1\nsha256=9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\n";
    const std::array<std::uint8_t, 32> seed{1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                            17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

    const auto first_start = Clock::now();
    std::array<std::uint8_t, velmarch::trust::kEd25519PublicKeySize> public_key{};
    std::array<std::uint8_t, velmarch::trust::kEd25519SignatureSize> signature{};
    {
        const velmarch::trust::KeyOwner key(
            EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
        const velmarch::trust::DigestContextOwner context(EVP_MD_CTX_new());
        std::size_t key_size = public_key.size();
        std::size_t signature_size = signature.size();
        if (!key || !context || EVP_PKEY_get_raw_public_key(key.get(), public_key.data(), &key_size) != 1 ||
            EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
            EVP_DigestSign(context.get(), signature.data(), &signature_size,
                           reinterpret_cast<const unsigned char*>(kMessage.data()), kMessage.size()) != 1) {
            std::fprintf(stderr, "velmarch-signature-bench: libcrypto could not sign\n");
            return 1;
        }
    }
    const auto message = std::span(reinterpret_cast<const std::uint8_t*>(kMessage.data()), kMessage.size());
    const auto signing = microseconds_since(first_start);

    auto start = Clock::now();
    if (!velmarch::trust::ed25519_verify(public_key, signature, message)) {
        std::fprintf(stderr, "velmarch-signature-bench: the signature does not verify\n");
        return 1;
    }
    const auto first = microseconds_since(start);

    start = Clock::now();
    for (long i = 0; i < checks; ++i) {
        if (!velmarch::trust::ed25519_verify(public_key, signature, message)) return 1;
    }
    const auto mean = microseconds_since(start) / static_cast<double>(checks);

    // A changed signature must fail, or the loop above timed nothing useful.
    signature[0] ^= 1;
    if (velmarch::trust::ed25519_verify(public_key, signature, message)) {
        std::fprintf(stderr, "velmarch-signature-bench: a changed signature verifies\n");
        return 1;
    }
    std::printf("library start-up and signing: %.0f us\nfirst check: %.1f us\nmean of %ld checks: %.1f us\n", signing,
                first, checks, mean);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// A validly signed update, changed in one byte of one of its five texts,
// verifies again exactly when the change leaves the signed content alone
// (the case of a hexadecimal letter of the digest or of the algorithm name);
// every other change is refused with the message of the step it breaks.
// The signer is a fixed key of the harness, checked through
// verify_update_signature_with_key.

#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base64_model.h"
#include "support/check.h"
#include "support/update_signature_model.h"
#include "text/hex.h"
#include "trust/update_signature.h"

namespace {

using KeyOwner = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using DigestContextOwner = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

struct Signer {
    KeyOwner key{nullptr, &EVP_PKEY_free};
    std::string public_key_text;
};

const Signer& harness_signer() {
    static const Signer signer = [] {
        constexpr std::array<std::uint8_t, 32> kSeed = {
            0x5a, 0x17, 0xc3, 0x09, 0x88, 0x41, 0xde, 0x20, 0x6b, 0xf4, 0x31, 0x92, 0x0e, 0x7d, 0xa5, 0x58,
            0xc0, 0x13, 0x66, 0xb9, 0x2f, 0x84, 0x47, 0xea, 0x1c, 0x70, 0xd3, 0x05, 0x99, 0x3b, 0xae, 0x62};
        Signer s;
        s.key.reset(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, kSeed.data(), kSeed.size()));
        std::array<std::uint8_t, 32> public_key{};
        std::size_t length = public_key.size();
        FUZZ_CHECK(s.key && EVP_PKEY_get_raw_public_key(s.key.get(), public_key.data(), &length) == 1,
                   "the harness key could not be made");
        s.public_key_text = velmarch::text::encode_hex_lower(public_key) + "\r\n";
        return s;
    }();
    return signer;
}

std::vector<std::uint8_t> sign(std::string_view message) {
    DigestContextOwner context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::vector<std::uint8_t> signature(64);
    std::size_t length = signature.size();
    FUZZ_CHECK(context &&
                   EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, harness_signer().key.get()) == 1 &&
                   EVP_DigestSign(context.get(), signature.data(), &length,
                                  reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1 &&
                   length == 64,
               "the harness could not sign");
    return signature;
}

// White space the texts may carry around them; all of it is trimmed away.
constexpr std::string_view kBlanks[] = {"", " ", "\t", "\r\n", "\xC2\xA0", "\xE3\x80\x80", " \xE2\x80\xA8 "};

std::string padded(FuzzedDataProvider& input, std::string_view text) {
    const std::string_view before = kBlanks[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kBlanks) - 1)];
    const std::string_view after = kBlanks[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kBlanks) - 1)];
    return std::string(before) + std::string(text) + std::string(after);
}

// A hexadecimal text with each letter in a case of the input's choosing.
std::string mixed_case_hex(FuzzedDataProvider& input, const std::array<std::uint8_t, 32>& bytes) {
    constexpr std::string_view kLower = "0123456789abcdef";
    constexpr std::string_view kUpper = "0123456789ABCDEF";
    const auto upper_bits = input.ConsumeIntegral<std::uint64_t>();
    std::string text;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint8_t nibble = (i % 2 == 0) ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
        text += ((upper_bits >> i) & 1) ? kUpper[nibble] : kLower[nibble];
    }
    return text;
}

std::string mixed_case(FuzzedDataProvider& input, std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (input.ConsumeBool() && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// The content a signature is checked against: metadata and signature bytes.
struct SignedContent {
    std::string metadata;
    std::optional<std::vector<std::uint8_t>> signature;
    bool operator==(const SignedContent&) const = default;
};

SignedContent signed_content(const fuzz_model::SignatureInputs& in) {
    return {fuzz_model::signed_metadata(in), fuzz_model::base64_decode_strict(fuzz_model::trim(in.signature))};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const Signer& signer = harness_signer();

    std::string version = input.ConsumeRandomLengthString(48);
    if (fuzz_model::trim(version).empty()) version.insert(0, "1");
    std::array<std::uint8_t, 32> digest{};
    for (std::uint8_t& b : digest) b = input.ConsumeIntegral<std::uint8_t>();

    std::array<std::string, 5> texts;  // version, sha256, signature, key id, algorithm
    texts[0] = padded(input, version);
    texts[1] = padded(input, mixed_case_hex(input, digest));
    texts[3] = padded(input, fuzz_model::kAcceptedKeyId);
    texts[4] = padded(input, mixed_case(input, "ed25519"));
    auto inputs_of = [](const std::array<std::string, 5>& t) {
        return fuzz_model::SignatureInputs{t[0], t[1], t[2], t[3], t[4]};
    };
    texts[2] = padded(input, fuzz_model::base64_encode(sign(fuzz_model::signed_metadata(inputs_of(texts)))));

    auto verify = [&](const std::array<std::string, 5>& t) {
        return velmarch::trust::verify_update_signature_with_key(signer.public_key_text, t[0], t[1], t[2], t[3], t[4]);
    };
    FUZZ_CHECK(verify(texts).has_value(), "a validly signed update is refused");

    std::array<std::string, 5> mutated = texts;
    std::string& field = mutated[input.ConsumeIntegralInRange<std::size_t>(0, mutated.size() - 1)];
    const std::size_t position = input.ConsumeIntegralInRange<std::size_t>(0, field.size() - 1);
    field[position] = static_cast<char>(field[position] ^ input.ConsumeIntegralInRange<std::uint8_t>(1, 255));

    const auto result = verify(mutated);
    const auto refusal = fuzz_model::expected_refusal(inputs_of(mutated), signer.public_key_text);
    if (refusal) {
        FUZZ_CHECK(!result.has_value(), "a mutated update verifies although an early step must refuse it");
        FUZZ_CHECK(result.error().text == *refusal, "the refusal is not the message of the first refusing step");
    } else if (signed_content(inputs_of(mutated)) == signed_content(inputs_of(texts))) {
        FUZZ_CHECK(result.has_value(), "a change that leaves the signed content alone is refused");
    } else {
        FUZZ_CHECK(!result.has_value(), "a mutated update verifies");
        FUZZ_CHECK(result.error().text == fuzz_model::kVerificationFailed,
                   "a forged update is refused with the wrong message");
    }
    return 0;
}

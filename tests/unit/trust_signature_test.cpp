#include <gtest/gtest.h>

#include "text/hex.h"
#include "trust/base64.h"
#include "trust/ed25519.h"
#include "trust/embedded_update_key.h"
#include "trust/update_signature.h"
#include "trust_test_signer.h"

namespace velmarch::trust {
namespace {

constexpr std::string_view kVersion = "2.4.0";
constexpr std::string_view kDigest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
constexpr std::string_view kUnsupported = "Unsupported update signature algorithm.";
constexpr std::string_view kMetadata = "Update signature metadata is invalid.";
constexpr std::string_view kKey = "The embedded update public key is invalid.";
constexpr std::string_view kBase64 = "Update signature is not valid Base64.";
constexpr std::string_view kLength = "Update signature has an invalid length.";
constexpr std::string_view kFailed = "Update signature verification failed.";

std::string metadata_text(std::string_view key_id, std::string_view version, std::string_view digest) {
    return "velmarch-update-v1\nkey-id:" + std::string(key_id) + "\nversion:" + std::string(version) +
           "\nsha256:" + std::string(digest) + "\n";
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Adds L to S; the result is still below 2^256 because S < L < 2^253.
std::string with_unreduced_s(const std::array<std::uint8_t, 64>& signature) {
    static constexpr std::uint8_t kL[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                            0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                                            0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
    std::array<std::uint8_t, 64> changed = signature;
    unsigned carry = 0;
    for (std::size_t i = 0; i < 32; ++i) {
        const unsigned sum = changed[32 + i] + kL[i] + carry;
        changed[32 + i] = static_cast<std::uint8_t>(sum);
        carry = sum >> 8;
    }
    EXPECT_EQ(carry, 0U);
    return trust::base64_encode(changed);
}

class TrustSignature : public ::testing::Test {
protected:
    struct Inputs {
        std::string version{kVersion};
        std::string sha256{kDigest};
        std::string signature;
        std::string key_id{kAcceptedKeyId};
        std::string algorithm{"ed25519"};
    };

    TrustSignature() { good_.signature = signer_.sign_base64(metadata_text(kAcceptedKeyId, kVersion, kDigest)); }

    Result<void> verify(const Inputs& in) const {
        return verify_update_signature_with_key(signer_.public_key_text(), in.version, in.sha256, in.signature,
                                                in.key_id, in.algorithm);
    }

    // The good inputs with one change applied.
    template <class Change>
    Inputs changed(Change change) const {
        Inputs in = good_;
        change(in);
        return in;
    }

    trust_test::TestSigner signer_;
    Inputs good_;
};

TEST_F(TrustSignature, ComposesTheFourSignedLines) {
    EXPECT_EQ(compose_signed_metadata("velmarch-update-2026-01", "2.4.0", "ab12"),
              "velmarch-update-v1\nkey-id:velmarch-update-2026-01\nversion:2.4.0\nsha256:ab12\n");
}

TEST_F(TrustSignature, EachInputIsJudgedByItsStep) {
    struct Case {
        std::string_view name;
        Inputs inputs;
        std::string_view expected;  // empty: accepted
    };
    const std::string signature = good_.signature;
    const auto sign = [&](const std::string& text) { return signer_.sign_base64(text); };
    const Case cases[] = {
        {"valid", good_, ""},
        // Algorithm.
        {"Ed25519", changed([](Inputs& in) { in.algorithm = "Ed25519"; }), ""},
        {"ED25519", changed([](Inputs& in) { in.algorithm = "ED25519"; }), ""},
        {"ed25519 with blanks", changed([](Inputs& in) { in.algorithm = " ed25519\t\r\n"; }), ""},
        {"ed-25519", changed([](Inputs& in) { in.algorithm = "ed-25519"; }), kUnsupported},
        {"Ed25519ph", changed([](Inputs& in) { in.algorithm = "Ed25519ph"; }), kUnsupported},
        {"EdDSA", changed([](Inputs& in) { in.algorithm = "EdDSA"; }), kUnsupported},
        {"empty algorithm", changed([](Inputs& in) { in.algorithm = ""; }), kUnsupported},
        {"wrong algorithm, key id and signature", changed([](Inputs& in) {
             in.algorithm = "rsa";
             in.key_id = "other";
             in.signature = "%%%";
         }),
         kUnsupported},
        // Metadata fields.
        {"key id in upper case", changed([](Inputs& in) { in.key_id = "VELMARCH-UPDATE-2026-01"; }), kMetadata},
        {"key id with another last digit", changed([](Inputs& in) { in.key_id = "velmarch-update-2026-02"; }),
         kMetadata},
        {"key id with blanks", changed([](Inputs& in) { in.key_id = "  velmarch-update-2026-01\n"; }), ""},
        {"version of blanks", changed([](Inputs& in) { in.version = " \t "; }), kMetadata},
        {"empty version", changed([](Inputs& in) { in.version = ""; }), kMetadata},
        {"version with blanks is signed without them", changed([](Inputs& in) { in.version = " 2.4.0\r\n"; }), ""},
        {"digest in upper case is signed in lower case",
         changed([](Inputs& in) { in.sha256 = upper(std::string(kDigest)); }), ""},
        {"digest with blanks", changed([](Inputs& in) { in.sha256 = "\t" + std::string(kDigest) + " "; }), ""},
        {"digest with g", changed([](Inputs& in) { in.sha256 = "g" + std::string(kDigest.substr(1)); }), kMetadata},
        {"digest of 63 digits", changed([](Inputs& in) { in.sha256 = kDigest.substr(1); }), kMetadata},
        {"digest of 65 digits", changed([](Inputs& in) { in.sha256 = std::string(kDigest) + "0"; }), kMetadata},
        {"wrong key id with malformed signature", changed([](Inputs& in) {
             in.key_id = "velmarch-update-2026-02";
             in.signature = "not base64!";
         }),
         kMetadata},
        // Base64.
        {"signature with line breaks around it",
         changed([&](Inputs& in) { in.signature = "\r\n " + signature + "\n"; }), ""},
        {"signature split over lines",
         changed([&](Inputs& in) { in.signature = signature.substr(0, 44) + "\r\n" + signature.substr(44); }), kBase64},
        {"signature without padding",
         changed([&](Inputs& in) { in.signature = signature.substr(0, signature.size() - 2); }), kBase64},
        {"signature with a URL-safe character", changed([&](Inputs& in) { in.signature = "-" + signature.substr(1); }),
         kBase64},
        {"signature with a URL-safe underscore", changed([&](Inputs& in) { in.signature = "_" + signature.substr(1); }),
         kBase64},
        // Length.
        {"63 bytes", changed([](Inputs& in) { in.signature = trust::base64_encode(std::vector<std::uint8_t>(63)); }),
         kLength},
        {"65 bytes", changed([](Inputs& in) { in.signature = trust::base64_encode(std::vector<std::uint8_t>(65)); }),
         kLength},
        {"empty signature", changed([](Inputs& in) { in.signature = "  "; }), kLength},
        // Verification.
        {"signed over an upper-case digest line", changed([&](Inputs& in) {
             in.signature = sign(metadata_text(kAcceptedKeyId, kVersion, upper(std::string(kDigest))));
         }),
         kFailed},
        {"signed over CRLF lines", changed([&](Inputs& in) {
             in.signature = sign("velmarch-update-v1\r\nkey-id:velmarch-update-2026-01\r\nversion:2.4.0\r\nsha256:" +
                                 std::string(kDigest) + "\r\n");
         }),
         kFailed},
        {"signed without the final line feed", changed([&](Inputs& in) {
             std::string text = metadata_text(kAcceptedKeyId, kVersion, kDigest);
             text.pop_back();
             in.signature = sign(text);
         }),
         kFailed},
        {"signed for another version",
         changed([&](Inputs& in) { in.signature = sign(metadata_text(kAcceptedKeyId, "2.4.1", kDigest)); }), kFailed},
        {"signed version with its blanks", changed([&](Inputs& in) {
             in.version = " 2.4.0";
             in.signature = sign(metadata_text(kAcceptedKeyId, " 2.4.0", kDigest));
         }),
         kFailed},
        {"S with L added", changed([&](Inputs& in) {
             in.signature = with_unreduced_s(signer_.sign(metadata_text(kAcceptedKeyId, kVersion, kDigest)));
         }),
         kFailed},
        {"version with inner blanks, line feed and non-ASCII", changed([&](Inputs& in) {
             in.version = "2.4 beta\n\xc3\xa9";
             in.signature = sign(metadata_text(kAcceptedKeyId, in.version, kDigest));
         }),
         ""},
    };
    for (const auto& c : cases) {
        const auto outcome = verify(c.inputs);
        if (c.expected.empty()) {
            EXPECT_TRUE(outcome) << c.name << ": " << trust_test::outcome_text(outcome);
        } else {
            EXPECT_EQ(trust_test::outcome_text(outcome), c.expected) << c.name;
        }
    }
}

TEST_F(TrustSignature, TheSameInputsVerifyAgainOnASecondCall) {
    EXPECT_TRUE(verify(good_));
    EXPECT_TRUE(verify(good_));
}

TEST_F(TrustSignature, PublicKeyIsDecodedBeforeTheSignature) {
    struct Case {
        std::string_view name;
        std::string key;
        std::string_view expected;
    };
    const Case cases[] = {
        {"not a curve point", "0200000000000000000000000000000000000000000000000000000000000000\r\n", kKey},
        {"not hexadecimal", std::string(63, '0') + "z\r\n", kKey},
        {"63 digits", std::string(63, '0') + "\r\n", kKey},
        {"empty", "", kKey},
        // y = p is reduced to 0 and has an x: the key is accepted, and only the
        // equation refuses this signature.
        {"y = p on the curve", "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f\r\n", kFailed},
    };
    for (const auto& c : cases) {
        const auto outcome =
            verify_update_signature_with_key(c.key, kVersion, kDigest, "!not base64!", kAcceptedKeyId, "ed25519");
        const auto with_good_signature =
            verify_update_signature_with_key(c.key, kVersion, kDigest, good_.signature, kAcceptedKeyId, "ed25519");
        if (c.expected == kKey) {
            EXPECT_EQ(trust_test::outcome_text(outcome), kKey) << c.name;
        } else {
            EXPECT_EQ(trust_test::outcome_text(outcome), kBase64) << c.name;
        }
        EXPECT_EQ(trust_test::outcome_text(with_good_signature), c.expected) << c.name;
    }
}

TEST_F(TrustSignature, UsesTheEmbeddedKey) {
    EXPECT_EQ(verify_update_signature(kVersion, kDigest, good_.signature, kAcceptedKeyId, "ed25519"),
              verify_update_signature_with_key(embedded_update_public_key(), kVersion, kDigest, good_.signature,
                                               kAcceptedKeyId, "ed25519"));
    EXPECT_EQ(trust_test::outcome_text(
                  verify_update_signature(kVersion, kDigest, good_.signature, kAcceptedKeyId, "ed25519")),
              kFailed)
        << "a signature by the test key must not verify against the embedded key";
}

// The development key pair in the repository: when the build embeds its public
// half, metadata signed with its private half verifies.
TEST_F(TrustSignature, DevelopmentKeySignsForTheEmbeddedDevelopmentKey) {
    const auto signature = trust_test::sign_for_embedded_key(metadata_text(kAcceptedKeyId, kVersion, kDigest));
    if (!signature) GTEST_SKIP() << "this build embeds another update key";
    const auto outcome = verify_update_signature(kVersion, kDigest, *signature, kAcceptedKeyId, "Ed25519");
    EXPECT_TRUE(outcome) << trust_test::outcome_text(outcome);
}

}  // namespace
}  // namespace velmarch::trust

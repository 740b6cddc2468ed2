#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "support/source_path.h"
#include "text/hex.h"
#include "trust/base64.h"
#include "trust/ed25519.h"
#include "trust/update_signature.h"
#include "trust_test_signer.h"

namespace velmarch::trust {
namespace {

// --- public-key point decoding ----------------------------------------------

struct PointCase {
    std::string_view name;
    std::string_view key_hex;
    bool is_point;
};

TEST(TrustEd25519Point, AcceptsExactlyTheEncodingsWhoseYHasAnX) {
    const PointCase cases[] = {
        {"y = 0 (x^2 = -1)", "0000000000000000000000000000000000000000000000000000000000000000", true},
        {"y = 1, the neutral point", "0100000000000000000000000000000000000000000000000000000000000000", true},
        {"y = 1 with sign bit 1 (x = 0)", "0100000000000000000000000000000000000000000000000000000000000080", true},
        {"y = 2 has no x", "0200000000000000000000000000000000000000000000000000000000000000", false},
        {"y = 2 with sign bit 1", "0200000000000000000000000000000000000000000000000000000000000080", false},
        {"y = 7 has no x", "0700000000000000000000000000000000000000000000000000000000000000", false},
        {"y = p - 1 with sign bit 1 (x = 0, order 2)",
         "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff", true},
        {"y = p is taken as 0", "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", true},
        {"y = p + 1 is taken as 1", "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", true},
        {"y = p + 1, sign bit 1", "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff", true},
        {"y = p + 2 is taken as 2", "efffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
        {"base point", "5866666666666666666666666666666666666666666666666666666666666666", true},
        {"RFC 8032 test 1 key", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", true},
    };
    for (const auto& c : cases) {
        const auto bytes = text::decode_hex_32_bytes(c.key_hex);
        ASSERT_TRUE(bytes) << c.name;
        EXPECT_EQ(trust::is_ed25519_point(*bytes), c.is_point) << c.name;
    }
}

// --- published vectors --------------------------------------------------------

// Reads the vector files: an array of flat objects whose values are strings.
class VectorReader {
public:
    explicit VectorReader(std::string text) : text_(std::move(text)) {}

    std::vector<std::map<std::string, std::string>> read_all() {
        std::vector<std::map<std::string, std::string>> objects;
        expect('[');
        if (peek() == ']') return objects;
        do {
            objects.push_back(read_object());
        } while (accept(','));
        expect(']');
        return objects;
    }

    bool ok() const { return ok_; }

private:
    std::map<std::string, std::string> read_object() {
        std::map<std::string, std::string> object;
        expect('{');
        if (accept('}')) return object;
        do {
            std::string key = read_string();
            expect(':');
            object[key] = read_string();
        } while (accept(','));
        expect('}');
        return object;
    }

    std::string read_string() {
        expect('"');
        std::string value;
        while (ok_ && pos_ < text_.size() && text_[pos_] != '"') {
            char c = text_[pos_++];
            if (c == '\\' && pos_ < text_.size()) {
                c = text_[pos_++];
                if (c == 'n') c = '\n';
                if (c == 'u') {  // only ASCII escapes occur in the vector notes
                    c = static_cast<char>(std::stoi(text_.substr(pos_, 4), nullptr, 16));
                    pos_ += 4;
                }
            }
            value += c;
        }
        expect('"');
        return value;
    }

    char peek() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    bool accept(char c) {
        if (peek() != c) return false;
        ++pos_;
        return true;
    }
    void expect(char c) {
        if (!accept(c)) ok_ = false;
    }

    std::string text_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

std::vector<std::map<std::string, std::string>> load_vectors(const std::string& file_name) {
    std::ifstream in(testing::source_path("tests/data/" + file_name), std::ios::binary);
    EXPECT_TRUE(in) << file_name;
    std::ostringstream text;
    text << in.rdbuf();
    VectorReader reader(text.str());
    auto vectors = reader.read_all();
    EXPECT_TRUE(reader.ok()) << file_name << " is not the expected JSON";
    return vectors;
}

void expect_every_verdict(const std::string& file_name, std::size_t expected_count) {
    const auto vectors = load_vectors(file_name);
    ASSERT_EQ(vectors.size(), expected_count);
    for (const auto& v : vectors) {
        const auto message = trust_test::bytes_from_hex(v.at("message_hex"));
        const auto signature = trust_test::bytes_from_hex(v.at("signature_hex"));
        const auto outcome = verify_signed_message(v.at("public_key_hex"), message, trust::base64_encode(signature));
        const std::string verdict = outcome ? "accept" : "reject";
        EXPECT_EQ(verdict, v.at("expected"))
            << v.at("id") << ": " << v.at("why") << (outcome ? "" : " -> " + outcome.error().text);
        if (signature.size() != 64) {
            EXPECT_EQ(trust_test::outcome_text(outcome), "Update signature has an invalid length.") << v.at("id");
        }
    }
}

TEST(TrustEd25519Vectors, EdgeCaseTableAndRfcVectorsGetTheirExpectedVerdicts) {
    expect_every_verdict("vectors.json", 17);
}

TEST(TrustEd25519Vectors, WycheproofVectorsGetTheirExpectedVerdicts) { expect_every_verdict("wycheproof.json", 150); }

// --- verify_signed_message over raw bytes ------------------------------------

TEST(TrustSignedMessage, StepsRefuseInOrderKeyThenBase64ThenLengthThenEquation) {
    const trust_test::TestSigner signer;
    const std::string message("any bytes\r\n\0at all", 18);
    const std::string good = signer.sign_base64(message);
    const std::string not_a_point = "0200000000000000000000000000000000000000000000000000000000000000";

    struct Case {
        std::string_view name;
        std::string key;
        std::string signature;
        std::string_view expected;  // empty: accepted
    };
    const Case cases[] = {
        {"valid", signer.public_key_text(), good, ""},
        {"valid, signature with white space around it", signer.public_key_text(), " \r\n" + good + "\t\n", ""},
        {"key not a point, signature not Base64", not_a_point, "!!", "The embedded update public key is invalid."},
        {"key of 63 digits", signer.public_key_text().substr(0, 63), good,
         "The embedded update public key is invalid."},
        {"signature not Base64", signer.public_key_text(), good.substr(0, 86), "Update signature is not valid Base64."},
        {"empty signature", signer.public_key_text(), "", "Update signature has an invalid length."},
        {"other message", signer.public_key_text(), signer.sign_base64("other"),
         "Update signature verification failed."},
    };
    for (const auto& c : cases) {
        const auto outcome = verify_signed_message(c.key, trust_test::bytes_of(message), c.signature);
        if (c.expected.empty()) {
            EXPECT_TRUE(outcome) << c.name << ": " << trust_test::outcome_text(outcome);
        } else {
            EXPECT_EQ(trust_test::outcome_text(outcome), c.expected) << c.name;
        }
    }
}

}  // namespace
}  // namespace velmarch::trust

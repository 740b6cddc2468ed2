#include <gtest/gtest.h>

#include <numeric>

#include "trust/base64.h"

namespace velmarch::trust {
namespace {

std::string as_text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

struct Accepted {
    std::string_view text;
    std::string_view bytes;
};

TEST(TrustBase64, DecodesCanonicalText) {
    const Accepted cases[] = {
        {"", ""},
        {"Zg==", "f"},
        {"Zm8=", "fo"},
        {"Zm9v", "foo"},
        {"Zm9vYg==", "foob"},
        {"Zm9vYmE=", "fooba"},
        {"Zm9vYmFy", "foobar"},
        {"+/+/", "\xfb\xff\xbf"},
    };
    for (const auto& c : cases) {
        const auto decoded = base64_decode_strict(c.text);
        ASSERT_TRUE(decoded) << c.text;
        EXPECT_EQ(as_text(*decoded), c.bytes) << c.text;
    }
}

TEST(TrustBase64, RefusesEveryNonCanonicalForm) {
    const std::string_view refused[] = {
        "Zg",              // unpadded
        "Zm8",             // unpadded
        "Zg=",             // short padding
        "Zg===",           // five characters
        "Z===",            // one significant character in the last group
        "Z",               // one character
        "====",            // a group of padding only
        "Zm9v====",        // a padding group after a full one
        "=",               //
        "Zg==Zm9v",        // padding before the end
        "Zg=a",            // padding inside the last group
        "Zh==",            // leftover bits after "f"
        "Zm9=",            // leftover bits after "fo"
        "Zm-v",            // URL-safe alphabet
        "Zm_v",            //
        "Zm9v\nYmFy",      // line break inside
        "Zm9v YmFy",       // blank inside
        "Zm9v\r\n",        // white space is the caller's to trim
        " Zm9v",           //
        "Zm9v\xc3\xa9==",  // non-ASCII
    };
    for (const auto text : refused) {
        EXPECT_FALSE(base64_decode_strict(text)) << '"' << text << '"';
    }
}

TEST(TrustBase64, NulBytesInsideTheTextAreRefused) {
    const std::string text("Zm9v\0\0\0\0", 8);
    EXPECT_FALSE(base64_decode_strict(text));
}

TEST(TrustBase64, EncodingRoundTripsEveryByteValueAndLength) {
    std::vector<std::uint8_t> bytes(256);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        const std::span<const std::uint8_t> input(bytes.data(), length);
        const std::string text = base64_encode(input);
        ASSERT_EQ(text.size(), (length + 2) / 3 * 4);
        const auto decoded = base64_decode_strict(text);
        ASSERT_TRUE(decoded) << text;
        ASSERT_TRUE(std::equal(decoded->begin(), decoded->end(), input.begin(), input.end())) << text;
    }
}

TEST(TrustBase64, EncodesTheStandardAlphabetWithPadding) {
    const std::uint8_t bytes[] = {0xfb, 0xff, 0xbf, 0x00};
    EXPECT_EQ(base64_encode(bytes), "+/+/AA==");
}

}  // namespace
}  // namespace velmarch::trust

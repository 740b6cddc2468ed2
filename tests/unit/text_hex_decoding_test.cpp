#include <gtest/gtest.h>

#include "text/hex.h"

namespace velmarch::text {
namespace {

constexpr std::string_view kDigits = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

TEST(HexDecoding, DecodesSixtyFourDigitsOfEitherCaseAfterTrimming) {
    const std::string inputs[] = {
        std::string(kDigits), "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
        std::string(kDigits) + "\r\n",
        " \t" + std::string(kDigits) + "\xe3\x80\x80",  // U+3000 is white space too
    };
    for (const auto& input : inputs) {
        const auto bytes = decode_hex_32_bytes(input);
        ASSERT_TRUE(bytes) << input;
        for (std::size_t i = 0; i < bytes->size(); ++i) EXPECT_EQ((*bytes)[i], i) << input;
    }
}

TEST(HexDecoding, ReadsHighNibbleFirst) {
    const auto bytes = decode_hex_32_bytes("f0a5" + std::string(60, '0'));
    ASSERT_TRUE(bytes);
    EXPECT_EQ((*bytes)[0], 0xf0);
    EXPECT_EQ((*bytes)[1], 0xa5);
}

TEST(HexDecoding, RefusesAnythingButSixtyFourDigits) {
    const std::string refused[] = {
        "",
        std::string(kDigits.substr(0, 63)),
        std::string(kDigits) + "0",
        std::string(kDigits.substr(0, 62)),  // 31 bytes
        "0x" + std::string(kDigits.substr(0, 62)),
        std::string(kDigits.substr(0, 63)) + "g",
        std::string(kDigits.substr(0, 32)) + " " + std::string(kDigits.substr(33)),
    };
    for (const auto& input : refused) {
        const auto bytes = decode_hex_32_bytes(input);
        ASSERT_FALSE(bytes) << input;
        EXPECT_EQ(bytes.error().text, "Invalid hexadecimal value.");
    }
}

}  // namespace
}  // namespace velmarch::text

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "text/hex.h"

namespace velmarch::text {
namespace {

TEST(HexEncoding, WritesTwoLowerCaseDigitsPerByteHighNibbleFirst) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string_view text;
    } cases[] = {
        {{}, ""},
        {{0x00}, "00"},
        {{0x09}, "09"},
        {{0x0a}, "0a"},
        {{0x0f}, "0f"},
        {{0x10}, "10"},
        {{0x1b}, "1b"},
        {{0x7f}, "7f"},
        {{0x80}, "80"},
        {{0xa5}, "a5"},
        {{0xff}, "ff"},
        {{0x00, 0x9f, 0xa0, 0xff}, "009fa0ff"},
        {{0x3f, 0x09, 0xc2, 0xe4, 0x17, 0xaa, 0x0b, 0x6d, 0x58, 0xe1, 0xc0, 0xf9, 0xd2, 0xb4, 0x7a, 0x13},
         "3f09c2e417aa0b6d58e1c0f9d2b47a13"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode_hex_lower(c.bytes), c.text);
        EXPECT_EQ(encode_hex_lower(std::as_bytes(std::span(c.bytes))), c.text);
    }
}

TEST(HexEncoding, EveryByteValueReadsBackAsItsNumber) {
    for (unsigned value = 0; value < 256; ++value) {
        const std::array<std::byte, 1> byte{static_cast<std::byte>(value)};
        const std::string digits = encode_hex_lower(byte);
        ASSERT_EQ(digits.size(), 2u) << value;
        EXPECT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos) << digits;
        EXPECT_EQ(std::stoul(digits, nullptr, 16), value) << digits;
    }
}

}  // namespace
}  // namespace velmarch::text

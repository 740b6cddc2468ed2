// The one White_Space set, as the code point predicate, UTF-8 trimming at
// both ends and UTF-16 trimming at the end see it.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "support/white_space_cases.h"
#include "text/trim.h"
#include "text/utf.h"
#include "text/white_space.h"

namespace velmarch::text {
namespace {

using testing::kWhiteSpaceCases;

std::u16string utf16_of(char32_t code_point) { return std::u16string(1, static_cast<char16_t>(code_point)); }
std::string utf8_of(char32_t code_point) { return *utf16_to_utf8(utf16_of(code_point)); }

TEST(WhiteSpace, IsExactlyTheUnicodeSet) {
    std::size_t members = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) members += is_white_space(c) ? 1 : 0;
    EXPECT_EQ(members, testing::kWhiteSpaceCount);
    std::size_t listed = 0;
    for (const auto& row : kWhiteSpaceCases) {
        EXPECT_EQ(is_white_space(row.code_point), row.white_space) << "U+" << std::hex << int(row.code_point);
        listed += row.white_space ? 1 : 0;
    }
    EXPECT_EQ(listed, testing::kWhiteSpaceCount);  // every member has its row
}

TEST(WhiteSpace, TrimRemovesTheSetFromBothEndsOfUtf8) {
    for (const auto& row : kWhiteSpaceCases) {
        const std::string c = utf8_of(row.code_point);
        const std::string text = c + "x" + c;
        EXPECT_EQ(trim(text), row.white_space ? "x" : text) << "U+" << std::hex << int(row.code_point);
        EXPECT_EQ(trim(c + c), row.white_space ? "" : c + c) << "U+" << std::hex << int(row.code_point);
    }
}

// Only a well-formed character is white space: an overlong space, a bare
// continuation byte or a cut sequence stays, at either end.
TEST(WhiteSpace, TrimKeepsBytesThatOnlyLookLikeWhiteSpace) {
    for (const std::string bytes : {"\xC0\xA0", "\xE0\x80\xA0", "\x85", "\xA0", "\xE2\x80", "\xE3\x80", "\xC2"}) {
        EXPECT_EQ(trim(bytes + "x" + bytes), bytes + "x" + bytes);
        EXPECT_EQ(trim(" " + bytes + "x" + bytes + "\u3000"), bytes + "x" + bytes);
    }
    EXPECT_EQ(trim("\xE2\xE2\x80\x80"), "\xE2");  // U+2000 after a stray lead byte
    EXPECT_EQ(trim("\x80\xC2\x85"), "\x80");      // U+0085 after a stray continuation byte
}

TEST(WhiteSpace, TrimEndRemovesTheSetFromTheEndOfUtf16Only) {
    for (const auto& row : kWhiteSpaceCases) {
        const std::u16string c = utf16_of(row.code_point);
        const std::u16string text = c + u"x" + c + c;
        EXPECT_EQ(trim_end(text), row.white_space ? c + u"x" : text) << "U+" << std::hex << int(row.code_point);
    }
    const std::u16string lone_surrogate(1, char16_t(0xDC00));
    EXPECT_EQ(trim_end(u"x" + lone_surrogate + u" "), u"x" + lone_surrogate);
    EXPECT_EQ(trim_end(u"   "), u"");
}

}  // namespace
}  // namespace velmarch::text

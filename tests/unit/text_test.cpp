#include <gtest/gtest.h>

#include "text/format.h"
#include "text/trim.h"
#include "text/utf.h"

namespace velmarch::text {
namespace {

TEST(Trim, RemovesEveryUnicodeWhiteSpaceAtBothEndsOnly) {
    struct Case {
        std::string_view in, out;
    } cases[] = {
        {"  a b \t", "a b"},
        {"\u00a0\u3000x\u2028", "x"},
        {"\u0085\u1680\u2000\u200a\u2029\u202f\u205fv\v\f\r\n", "v"},
        {"\u200bx\u200b", "\u200bx\u200b"},  // zero-width space is not White_Space
        {" \u00e9 ", "\u00e9"},
        {"   ", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(trim(c.in), c.out) << c.in;
}

TEST(Ascii, LowersAndComparesOnlyAsciiLetters) {
    EXPECT_EQ(ascii_lower("AbC-\u00c9Z"), "abc-\u00c9z");
    EXPECT_TRUE(ascii_iequals("Ed25519", "ed25519"));
    EXPECT_FALSE(ascii_iequals("ed25519 ", "ed25519"));
    EXPECT_FALSE(ascii_iequals("\u00c9", "\u00e9"));
}

TEST(Format, FillsPlaceholdersInOrder) {
    EXPECT_EQ(format("Waiting for process {} to exit.", 42u), "Waiting for process 42 to exit.");
    EXPECT_EQ(format("{} (os error {})", "Access is denied.", -5), "Access is denied. (os error -5)");
    EXPECT_EQ(format("a {} b", "{}"), "a {} b");
}

TEST(Utf, StrictConversionRefusesIllFormedText) {
    EXPECT_EQ(utf8_to_utf16("a\u00e9\U0001F600"), std::u16string(u"a\u00e9\U0001F600"));
    EXPECT_EQ(utf16_to_utf8(u"a\u00e9\U0001F600"), std::string("a\u00e9\U0001F600"));
    EXPECT_FALSE(utf16_to_utf8(std::u16string(1, char16_t(0xD800))));
    EXPECT_FALSE(utf8_to_utf16("\xC0\x80"));      // overlong
    EXPECT_FALSE(utf8_to_utf16("\xED\xA0\x80"));  // encoded surrogate
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{u'a', char16_t(0xDC00), u'b'}), "a\uFFFDb");
}

}  // namespace
}  // namespace velmarch::text

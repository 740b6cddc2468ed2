#include <gtest/gtest.h>

#include "text/ascii_case.h"
#include "text/format.h"
#include "text/result.h"
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

// Every Unicode White_Space character, alone in front of a letter and alone
// after it.
TEST(Trim, RemovesEachWhiteSpaceCharacterInFrontAndAtTheEnd) {
    const std::string_view white_space[] = {
        "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00a0", "\u1680",
        "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
        "\u2009", "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000",
    };
    for (std::string_view w : white_space) {
        const std::string in_front = std::string(w) + "x";
        const std::string at_the_end = "x" + std::string(w);
        EXPECT_EQ(trim(in_front), "x") << "U+" << std::hex << int(utf8_to_utf16(w)->front()) << " in front";
        EXPECT_EQ(trim(at_the_end), "x") << "U+" << std::hex << int(utf8_to_utf16(w)->front()) << " at the end";
    }
}

// The characters next to the White_Space ones, and the invisible ones that
// are not White_Space, stay at either end.
TEST(Trim, KeepsEachNeighbourThatIsNotWhiteSpace) {
    const std::string_view kept[] = {
        "\x08",   "\x0e",   "\x1f",   "!",      "\u0084", "\u0086", "\u009f", "\u00a1", "\u167f", "\u1681", "\u180e",
        "\u1fff", "\u200b", "\u2027", "\u202a", "\u202e", "\u2030", "\u205e", "\u2060", "\u2fff", "\u3001", "\ufeff",
    };
    for (std::string_view k : kept) {
        const std::string text = std::string(k) + "x" + std::string(k);
        EXPECT_EQ(trim(text), text) << "U+" << std::hex << int(utf8_to_utf16(k)->front());
        EXPECT_EQ(trim(" " + text + "\u3000"), text) << "U+" << std::hex << int(utf8_to_utf16(k)->front());
    }
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

// A pattern's "{}" count must equal the number of arguments, or the call
// does not compile (text::BasicPattern's consteval constructor).
static_assert(placeholder_count("") == 0);
static_assert(placeholder_count("no placeholder { } {x}") == 0);
static_assert(placeholder_count("{} (os error {})") == 2);
static_assert(placeholder_count("{{}}") == 1);
static_assert(placeholder_count("{}{}{}") == 3);
static_assert(BasicPattern<int, std::string>("{} and {}").get() == "{} and {}");
static_assert(!std::is_convertible_v<int, Pattern<int>>);

// Context goes around the cause's text, the cause's text last; the kind is
// the cause's, whichever it is.
TEST(Format, AnErrorToldWithContextKeepsItsKind) {
    for (const ErrorKind kind : {ErrorKind::untrusted_link, ErrorKind::held, ErrorKind::os_error}) {
        const Error cause{kind, "Access is denied. (os error 5)"};
        EXPECT_EQ(with_context(cause, "The file could not be read: {}"),
                  (Error{kind, "The file could not be read: Access is denied. (os error 5)"}));
        EXPECT_EQ(with_context(cause, "The {} {} could not be written: {}.", "key file", std::string("k.pem")),
                  (Error{kind, "The key file k.pem could not be written: Access is denied. (os error 5)."}));
    }
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

// The code points at the edges of each UTF-8 length and of the two UTF-16
// forms, converted both ways, strictly and leniently.
TEST(Utf, ConvertsEachLengthBoundaryBothWays) {
    struct Case {
        const char* name;
        std::string_view utf8;
        std::u16string_view utf16;
    } cases[] = {
        {"U+007F", "\x7F", u"\x007F"},
        {"U+0080", "\xC2\x80", u"\x0080"},
        {"U+07FF", "\xDF\xBF", u"\x07FF"},
        {"U+0800", "\xE0\xA0\x80", u"\x0800"},
        {"U+D7FF", "\xED\x9F\xBF", u"\xD7FF"},
        {"U+E000", "\xEE\x80\x80", u"\xE000"},
        {"U+FFFF", "\xEF\xBF\xBF", u"\xFFFF"},
        {"U+10000", "\xF0\x90\x80\x80", u"\xD800\xDC00"},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    };
    for (const Case& c : cases) {
        const std::u16string utf16(c.utf16);
        const std::string utf8(c.utf8);
        EXPECT_EQ(utf8_to_utf16(utf8), utf16) << c.name;
        EXPECT_EQ(utf16_to_utf8(utf16), utf8) << c.name;
        EXPECT_EQ(utf8_to_utf16_lossy(utf8), utf16) << c.name;
        EXPECT_EQ(utf16_to_utf8_lossy(utf16), utf8) << c.name;
        EXPECT_TRUE(is_valid_utf8(utf8)) << c.name;
        // Between other text, so that a wrong length shows in what follows.
        EXPECT_EQ(utf8_to_utf16("a" + utf8 + "b"), u"a" + utf16 + u"b") << c.name;
        EXPECT_EQ(utf16_to_utf8(u"a" + utf16 + u"b"), "a" + utf8 + "b") << c.name;
    }
}

// Surrogates out of order: the strict conversion refuses the text, the
// lenient one replaces each unpaired unit on its own.
TEST(Utf, UnpairedSurrogatesAreRefusedOrEachReplaced) {
    struct Case {
        const char* name;
        std::u16string_view utf16;
        std::string_view lossy;
    } cases[] = {
        {"LowThenLow", u"\xDC00\xDC00", "\uFFFD\uFFFD"},
        {"HighThenHigh", u"\xD800\xDBFF", "\uFFFD\uFFFD"},
        {"LowThenPair", u"\xDFFF\xD800\xDC00", "\uFFFD\U00010000"},
        {"HighAtTheEnd", u"a\xDBFF", "a\uFFFD"},
        {"HighThenLetter",
         u"\xD800"
         u"a",
         "\uFFFDa"},
    };
    for (const Case& c : cases) {
        const std::u16string utf16(c.utf16);
        EXPECT_EQ(utf16_to_utf8(utf16), std::nullopt) << c.name;
        EXPECT_EQ(utf16_to_utf8_lossy(utf16), c.lossy) << c.name;
    }
}

}  // namespace
}  // namespace velmarch::text

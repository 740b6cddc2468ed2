#include "platform/rules/command_line_split.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "text/utf.h"

namespace velmarch::platform {
namespace {

struct SplitCase {
    const char* name;
    const char16_t* command_line;
    std::vector<std::string> expected;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name << ": " << text::utf16_to_utf8_lossy(c.command_line);
}

std::vector<std::string> split_to_utf8(std::u16string_view line) {
    std::vector<std::string> out;
    for (const std::u16string& piece : split_command_line(line)) out.push_back(text::utf16_to_utf8_lossy(piece));
    return out;
}

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, SplitsLikeTheMicrosoftRuntime) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(split_to_utf8(c.command_line), c.expected) << text::utf16_to_utf8_lossy(c.command_line);
}

// The runtime's own documented examples (after a program name), then the
// corners of the program name and of quoting.
INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLine,
    ::testing::Values(
        SplitCase{"QuotedBlanks", uR"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
        SplitCase{"EscapedQuoteAndLoneBackslash", uR"(p "ab\"c" "\\" d)", {"p", R"(ab"c)", R"(\)", "d"}},
        SplitCase{"BackslashesNotBeforeAQuote", uR"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
        SplitCase{"OddBackslashesBeforeAQuote", uR"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
        SplitCase{"EvenBackslashesBeforeAQuote", uR"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
        SplitCase{"DoubledQuoteKeepsQuotesOpen", uR"(p a"b"" c d)", {"p", R"(ab" c d)"}},
        // Program name: quotes only toggle, backslashes never escape.
        SplitCase{"QuotedProgramName", uR"("C:\Program Files\app.exe" x)", {R"(C:\Program Files\app.exe)", "x"}},
        SplitCase{"ProgramNameBackslashBeforeQuote", uR"("C:\dir\"x y)", {R"(C:\dir\x)", "y"}},
        SplitCase{"ProgramNameQuotedInTheMiddle", uR"(a"b c"d e)", {"ab cd", "e"}},
        SplitCase{"ProgramNameUnquotedBackslashQuote", uR"(C:\a\"b c)", {R"(C:\a\b c)"}},
        SplitCase{"EmptyLine", u"", {""}}, SplitCase{"LeadingBlank", u" a", {"", "a"}},
        SplitCase{"EmptyQuotedProgramName", u"\"\" a", {"", "a"}},
        // Blanks, empty and unterminated arguments.
        SplitCase{"TabsAndTrailingBlanks", u"p\ta \t b  ", {"p", "a", "b"}},
        SplitCase{"EmptyArgument", uR"(p "" x)", {"p", "", "x"}},
        SplitCase{"UnterminatedQuote", uR"(p "a b)", {"p", "a b"}},
        SplitCase{"EmptyQuotesInsideAnArgument", uR"(p a""b)", {"p", "ab"}},
        SplitCase{"DoubledQuoteInQuotesIsAQuote", uR"(p "a""b")", {"p", R"(a"b)"}},
        SplitCase{"FourQuotes", uR"(p """")", {"p", R"(")"}},
        // Backslashes away from quotes stay as they are, also at the end.
        SplitCase{
            "BackslashesAwayFromQuotes", uR"(p C:\Logs\ \\server\share)", {"p", R"(C:\Logs\)", R"(\\server\share)"}},
        SplitCase{"BackslashesAtTheEnd", uR"(p a\\)", {"p", R"(a\\)"}},
        // What the launcher composes comes back as the caller's arguments.
        SplitCase{"ComposedInstallerLine",
                  uR"("msiexec.exe" /i "C:\A B\\" "say \"hi\"" INSTALLDIR="C:\Program Files\App")",
                  {"msiexec.exe", "/i", R"(C:\A B\)", R"(say "hi")", R"(INSTALLDIR=C:\Program Files\App)"}},
        SplitCase{"NonAsciiText", u"p \"\u00e9t\u00e9 \U0001F600\"", {"p", "\u00e9t\u00e9 \U0001F600"}}),
    testing::CaseName());

}  // namespace
}  // namespace velmarch::platform

// Composition of the command line every started program parses.

#include <gtest/gtest.h>

#include "platform/rules/command_line_split.h"
#include "process/command_line_compose.h"
#include "support/case_name.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

using testing::PrintTo;  // cases print by name

std::string utf8(const std::u16string& s) { return text::utf16_to_utf8_lossy(s); }

struct ComposeCase {
    const char* name;
    std::u16string program;
    std::vector<Argument> arguments;
    std::u16string expected;
};

class ComposeCommandLine : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(ComposeCommandLine, ComposesExactText) {
    const ComposeCase& c = GetParam();
    auto composed = compose_command_line(c.program, c.arguments);
    ASSERT_TRUE(composed.has_value()) << composed.error().text;
    EXPECT_EQ(utf8(*composed), utf8(c.expected));
}

const ComposeCase kComposeCases[] = {
    {"program_only", u"C:\\Windows\\System32\\msiexec.exe", {}, u"\"C:\\Windows\\System32\\msiexec.exe\""},
    {"program_text_is_not_escaped", u"C:\\Tools\\", {}, u"\"C:\\Tools\\\""},
    {"program_with_space_is_only_enclosed",
     u"C:\\Program Files\\App\\app.exe",
     {{u"x"}},
     u"\"C:\\Program Files\\App\\app.exe\" x"},
    {"plain_path_unquoted", u"p", {{u"C:\\Temp\\pkg.msi"}}, u"\"p\" C:\\Temp\\pkg.msi"},
    {"space_quotes", u"p", {{u"C:\\Users\\A B\\install.log"}}, u"\"p\" \"C:\\Users\\A B\\install.log\""},
    {"tab_quotes", u"p", {{u"a\tb"}}, u"\"p\" \"a\tb\""},
    {"empty_is_two_quotes", u"p", {{u""}}, u"\"p\" \"\""},
    {"trailing_backslash_quoted_is_doubled", u"p", {{u"C:\\A B\\"}}, u"\"p\" \"C:\\A B\\\\\""},
    {"two_trailing_backslashes_quoted_become_four", u"p", {{u"A B\\\\"}}, u"\"p\" \"A B\\\\\\\\\""},
    {"trailing_backslash_unquoted_unchanged", u"p", {{u"C:\\Logs\\"}}, u"\"p\" C:\\Logs\\"},
    {"inner_quotes_escaped", u"p", {{u"say \"hi\""}}, u"\"p\" \"say \\\"hi\\\"\""},
    {"lone_quote", u"p", {{u"\""}}, u"\"p\" \\\""},
    {"one_backslash_before_quote_becomes_three", u"p", {{u"a\\\"b"}}, u"\"p\" a\\\\\\\"b"},
    {"two_backslashes_before_quote_become_five", u"p", {{u"a\\\\\"b"}}, u"\"p\" a\\\\\\\\\\\"b"},
    {"backslashes_before_quote_in_quoted_argument", u"p", {{u"x \\\"y"}}, u"\"p\" \"x \\\\\\\"y\""},
    {"backslashes_elsewhere_unchanged", u"p", {{u"\\\\server\\share\\a"}}, u"\"p\" \\\\server\\share\\a"},
    {"raw_copied_verbatim",
     u"p",
     {{u"INSTALLDIR=\"C:\\Program Files\\App\"", true}},
     u"\"p\" INSTALLDIR=\"C:\\Program Files\\App\""},
    {"raw_with_spaces_not_quoted", u"p", {{u"a b \"c\\", true}}, u"\"p\" a b \"c\\"},
    {"empty_raw_adds_only_the_space", u"p", {{u"", true}}, u"\"p\" "},
    {"non_ascii_passes",
     u"p",
     {{u"C:\\Programme\\Übung"}, {u"\u4e2d\u6587 x"}},
     u"\"p\" C:\\Programme\\Übung \"\u4e2d\u6587 x\""},
    {"arguments_in_order_one_space_apart",
     u"p",
     {{u"/i"}, {u"a b"}, {u"X=\"1\"", true}, {u"z"}},
     u"\"p\" /i \"a b\" X=\"1\" z"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ComposeCommandLine, ::testing::ValuesIn(kComposeCases), testing::CaseName());

TEST(ComposeCommandLineNul, RefusedInAnyPlace) {
    const std::u16string with_nul(u"a\0b", 3);
    for (const auto& [program, arguments] : std::vector<std::pair<std::u16string, std::vector<Argument>>>{
             {u"p", {{u"ok"}, {with_nul}}},
             {u"p", {{with_nul, true}}},
             {with_nul, {}},
         }) {
        auto composed = compose_command_line(program, arguments);
        ASSERT_FALSE(composed.has_value());
        EXPECT_EQ(composed.error().text, "nul byte found in provided data");
    }
}

// What a Windows program would get back from the composed text: every
// regular argument exactly as given.
TEST(ComposeCommandLineRoundTrip, RegularArgumentsSplitBackUnchanged) {
    const std::vector<std::u16string> texts{
        u"",     u" ",        u"\"",        u"\\", u"\\\\",         u"a b\\",      u"a b\\\\",
        u"\\\"", u"x\"y z\"", u"C:\\A B\\", u"\t", u"a\\\\\\\"b c", u"2.4.0 beta", u"trailing\\ \\",
    };
    std::vector<Argument> arguments;
    for (const auto& t : texts) arguments.push_back({t});
    auto composed = compose_command_line(u"C:\\Program Files\\App\\app.exe", arguments);
    ASSERT_TRUE(composed.has_value());
    const auto split = platform::split_command_line(*composed);
    ASSERT_EQ(split.size(), texts.size() + 1);
    EXPECT_EQ(utf8(split[0]), "C:\\Program Files\\App\\app.exe");
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(utf8(split[i + 1]), utf8(texts[i])) << "argument " << i;
}

}  // namespace
}  // namespace velmarch::process

// The model of msiexec's command-line splitting that the installer command is
// checked against, and the fault it exists to catch.

#include <gtest/gtest.h>

#include "process/command_line_compose.h"
#include "support/case_name.h"
#include "support/msiexec_command_line.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

using testing::PrintTo;  // cases print by name

using testing::split_msiexec_command_line;
using Texts = std::vector<std::string>;

Texts arguments_of(std::u16string_view line) {
    Texts out;
    for (const auto& argument : split_msiexec_command_line(line).arguments)
        out.push_back(text::utf16_to_utf8_lossy(argument));
    return out;
}

struct SplitCase {
    const char* name;
    std::u16string_view line;
    Texts arguments;
    bool doubtful;
};

class MsiexecSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(MsiexecSplitting, FollowsMsiexecAndFlagsWhatCouldBeReadOtherwise) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(arguments_of(c.line), c.arguments);
    EXPECT_EQ(!split_msiexec_command_line(c.line).doubts.empty(), c.doubtful);
}

const SplitCase kSplits[] = {
    {"quotes_toggle_and_vanish",
     u"\"C:\\W\\msiexec.exe\" /i \"C:\\A B\\p.msi\"",
     {"C:\\W\\msiexec.exe", "/i", "C:\\A B\\p.msi"},
     false},
    {"backslash_is_literal_before_a_quote", u"\"m\" \"C:\\A B\\\" next", {"m", "C:\\A B\\", "next"}, false},
    {"property_assignment_keeps_its_name",
     u"\"m\" INSTALLDIR=\"C:\\Program Files\\App\"",
     {"m", "INSTALLDIR=C:\\Program Files\\App"},
     false},
    {"runs_of_spaces_separate_once", u"\"m\"   /passive  ", {"m", "/passive"}, false},
    {"c_runtime_escape_ends_the_value", u"\"m\" \"a\\\" /i b.msi Z=\"", {"m", "a\\", "/i", "b.msi", "Z="}, true},
    {"character_after_closing_quote_starts_an_argument", u"\"m\" \"a\"b", {"m", "a", "b"}, true},
    {"tab_outside_quotes", u"\"m\" a\tb", {"m", "a\tb"}, true},
    {"tab_inside_quotes", u"\"m\" \"a\tb\"", {"m", "a\tb"}, false},
    {"ideographic_space_outside_quotes", u"\"m\" a\u3000b", {"m", "a\u3000b"}, true},
    {"line_break_inside_quotes", u"\"m\" \"a\nb\"", {"m", "a\nb"}, true},
    {"doubled_quote", u"\"m\" P=\"a\"\"b\"", {"m", "P=ab"}, true},
    {"quote_left_open", u"\"m\" \"a b", {"m", "a b"}, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, MsiexecSplitting, ::testing::ValuesIn(kSplits), testing::CaseName());

// The composition that used to carry the installer log path: C-runtime
// escaping turns its double quote into \", which msiexec reads as the end of
// the value, so the rest became a second package and a property of its own.
TEST(MsiexecSplitting, CatchesTheCRuntimeEscapingOfALogPath) {
    const std::vector<Argument> arguments{
        {u"/L*v"}, {u"C:\\L\\a\" /i C:\\other.msi Z="}, {u"INSTALLDIR=\"C:\\App\"", true}};
    auto composed = compose_command_line(u"msiexec.exe", arguments);
    ASSERT_TRUE(composed.has_value());
    EXPECT_EQ(arguments_of(*composed),
              (Texts{"msiexec.exe", "/L*v", "C:\\L\\a\\", "/i", "C:\\other.msi", "Z= INSTALLDIR=", "C:\\App"}));
    EXPECT_FALSE(split_msiexec_command_line(*composed).doubts.empty());
}

}  // namespace
}  // namespace velmarch::process

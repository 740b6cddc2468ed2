// What msiexec is given unquoted: nothing that holds White_Space or a control
// character, which some reading of its command line could take as a separator.

#include <gtest/gtest.h>

#include <string>

#include "process/msiexec_arguments.h"
#include "support/white_space_cases.h"

namespace velmarch::process {
namespace {

std::u16string quoted(const std::u16string& text) { return u"\"" + text + u"\""; }

TEST(MsiexecArgument, QuotesEveryWhiteSpaceCharacterAndNothingElseThatIsPrintable) {
    for (const auto& row : testing::kWhiteSpaceCases) {
        const std::u16string text = u"a" + std::u16string(1, static_cast<char16_t>(row.code_point)) + u"b";
        const bool control = row.code_point < 0x20 || row.code_point == 0x7F;
        const Argument argument = msiexec_argument(text);
        EXPECT_EQ(argument.text, row.white_space || control ? quoted(text) : text)
            << "U+" << std::hex << int(row.code_point);
        EXPECT_TRUE(argument.raw);
    }
}

TEST(MsiexecArgument, QuotesEveryControlCharacterAndTheEmptyText) {
    for (char16_t c = 0; c <= 0x20; ++c) {
        const std::u16string text = u"a" + std::u16string(1, c);
        EXPECT_EQ(msiexec_argument(text).text, quoted(text)) << int(c);
    }
    EXPECT_EQ(msiexec_argument(u"a\x7F").text, quoted(u"a\x7F"));
    EXPECT_EQ(msiexec_argument(u"").text, u"\"\"");
    EXPECT_EQ(msiexec_argument(u"C:\\Program Files\\App").text, u"\"C:\\Program Files\\App\"");
    EXPECT_EQ(msiexec_argument(u"C:\\App\\setup.msi").text, u"C:\\App\\setup.msi");
}

}  // namespace
}  // namespace velmarch::process

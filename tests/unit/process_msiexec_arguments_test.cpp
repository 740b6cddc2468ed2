// Texts as msiexec is handed them: what goes unquoted holds no White_Space
// or control character, which some reading of its command line could take as
// a separator; the install directory is one rule on the UTF-16 text that goes
// on the command line.

#include <gtest/gtest.h>

#include <string>

#include "process/msiexec_arguments.h"
#include "support/white_space_cases.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

std::u16string quoted(const std::u16string& text) { return u"\"" + text + u"\""; }

TEST(MsiexecArgument, QuotesEveryWhiteSpaceCharacterAndNothingElseThatIsPrintable) {
    for (const auto& row : testing::kWhiteSpaceCases) {
        const std::u16string text{u'a', static_cast<char16_t>(row.code_point), u'b'};
        const bool control = row.code_point < 0x20 || row.code_point == 0x7F;
        const Argument argument = msiexec_argument(text);
        EXPECT_EQ(argument.text, row.white_space || control ? quoted(text) : text)
            << "U+" << std::hex << int(row.code_point);
        EXPECT_TRUE(argument.raw);
    }
}

TEST(MsiexecArgument, QuotesEveryControlCharacterAndTheEmptyText) {
    for (char16_t c = 0; c <= 0x20; ++c) {
        const std::u16string text{u'a', c};
        EXPECT_EQ(msiexec_argument(text).text, quoted(text)) << int(c);
    }
    EXPECT_EQ(msiexec_argument(u"a\x7F").text, quoted(u"a\x7F"));
    EXPECT_EQ(msiexec_argument(u"").text, u"\"\"");
    EXPECT_EQ(msiexec_argument(u"C:\\Program Files\\App").text, u"\"C:\\Program Files\\App\"");
    EXPECT_EQ(msiexec_argument(u"C:\\App\\setup.msi").text, u"C:\\App\\setup.msi");
}

TEST(InstallDirAssignment, QuotesEverythingButQuoteCrLfAsItStands) {
    // U+0122, U+010D and U+010A end in the bytes of '"', CR and LF: the rule
    // reads UTF-16 code units, never bytes.
    for (const std::string dir : {"C:\\Program Files\\App", "C:\\App\\", "C:\\A\tB", "C:\\Programme\\Übung\\中文",
                                  "\\\\server\\share\\App", "C:\\a'b;c&d%e%", "C:\\\u0122\u010D\u010A", ""}) {
        const std::u16string utf16 = text::utf8_to_utf16_lossy(dir);
        auto assignment = install_dir_assignment(utf16);
        ASSERT_TRUE(assignment.has_value()) << dir;
        EXPECT_EQ(assignment->text, u"INSTALLDIR=\"" + utf16 + u"\"") << dir;
        EXPECT_TRUE(assignment->raw) << dir;
    }
}

TEST(InstallDirAssignment, RefusesQuoteCrOrLfAnywhere) {
    for (const std::u16string_view dir :
         {u"\"C:\\App", u"C:\\A\"pp", u"C:\\App\"", u"C:\\App\r", u"\rC:\\App", u"C:\\A\npp", u"C:\\App\n"}) {
        auto assignment = install_dir_assignment(dir);
        ASSERT_FALSE(assignment.has_value()) << text::utf16_to_utf8_lossy(dir);
        EXPECT_EQ(assignment.error().text, "The current install directory cannot be passed to Windows Installer.");
    }
}

}  // namespace
}  // namespace velmarch::process

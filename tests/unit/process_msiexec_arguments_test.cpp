// The install directory as msiexec is handed it: one rule, on the UTF-16 text
// that goes on the command line.

#include <gtest/gtest.h>

#include <string>

#include "process/msiexec_arguments.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

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
    for (const std::u16string_view dir : {u"\"C:\\App", u"C:\\A\"pp", u"C:\\App\"", u"C:\\App\r", u"\rC:\\App",
                                          u"C:\\A\npp", u"C:\\App\n"}) {
        auto assignment = install_dir_assignment(dir);
        ASSERT_FALSE(assignment.has_value()) << text::utf16_to_utf8_lossy(dir);
        EXPECT_EQ(assignment.error(), "The current install directory cannot be passed to Windows Installer.");
    }
}

}  // namespace
}  // namespace velmarch::process

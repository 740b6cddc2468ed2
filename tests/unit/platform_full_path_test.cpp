// Path texts made whole by text: the rules of both platforms, tested here on
// whichever one runs the tests. Every text is written as UTF-8; the Windows
// rules see "\" and "/" alike and write "\".

#include <gtest/gtest.h>

#include <string>

#include "platform/path/full_path.h"
#include "support/case_name.h"

namespace velmarch::platform {
namespace {

using testing::PrintTo;  // cases print by name

struct FullPathCase {
    const char* name;
    PathStyle style;
    const char* text;
    const char* base;  // the working directory (or the drive's, for "D:x")
    const char* full;
};

std::string full(const FullPathCase& c) {
    return full_path_text(std::string_view(c.text), std::string_view(c.base), c.style);
}

class FullPath : public ::testing::TestWithParam<FullPathCase> {};

TEST_P(FullPath, IsAbsoluteWithDotsResolvedByText) {
    EXPECT_EQ(full(GetParam()), GetParam().full) << "text: " << GetParam().text;
}

// Making a full path whole again changes nothing: what the run hands on is
// what every later step reads.
TEST_P(FullPath, IsAFixedPoint) {
    const std::string once = full(GetParam());
    EXPECT_EQ(full_path_text(std::string_view(once), std::string_view(GetParam().base), GetParam().style), once);
}

constexpr PathStyle posix = PathStyle::posix;
constexpr PathStyle windows = PathStyle::windows;

INSTANTIATE_TEST_SUITE_P(
    BothStyles, FullPath,
    ::testing::Values(
        // POSIX (the stand-in).
        FullPathCase{"PosixRelative", posix, "Logs/helper.log", "/home/ann", "/home/ann/Logs/helper.log"},
        FullPathCase{"PosixDot", posix, "./Logs/./helper.log", "/home/ann", "/home/ann/Logs/helper.log"},
        FullPathCase{"PosixDotDot", posix, "Logs/sub/inner/../helper.log", "/home/ann",
                     "/home/ann/Logs/sub/helper.log"},
        FullPathCase{"PosixDotDotIntoTheBase", posix, "../../x", "/home/ann/work", "/home/x"},
        FullPathCase{"PosixDotDotAboveTheRoot", posix, "/../../etc/../x/../../y", "/home", "/y"},
        FullPathCase{"PosixRelativeAboveTheRoot", posix, "../../../../x", "/home", "/x"},
        FullPathCase{"PosixAbsoluteUnchanged", posix, "/srv//Logs/helper.log/", "/home", "/srv//Logs/helper.log/"},
        FullPathCase{"PosixRepeatedSeparatorsWithDots", posix, "//srv//Logs/.//helper.log", "/home",
                     "/srv/Logs/helper.log"},
        FullPathCase{"PosixTrailingSeparatorStays", posix, "Program Files/./Velmarch/", "/",
                     "/Program Files/Velmarch/"},
        FullPathCase{"PosixTrailingDotDot", posix, "/a/b/..", "/", "/a"},
        FullPathCase{"PosixTrailingDotDotSeparator", posix, "/a/b/../", "/", "/a/"},
        FullPathCase{"PosixOnlyDot", posix, ".", "/home/ann", "/home/ann"},
        FullPathCase{"PosixBackslashIsAName", posix, "a\\..\\b/./c", "/w", "/w/a\\..\\b/c"},
        FullPathCase{"PosixThreeDotsIsAName", posix, "/a/.../b", "/", "/a/.../b"},
        FullPathCase{"PosixBaseWithTrailingSeparator", posix, "x", "/w/", "/w/x"},
        // Windows: drives.
        FullPathCase{"WindowsRelative", windows, "Logs\\helper.log", "C:\\Users\\ann",
                     "C:\\Users\\ann\\Logs\\helper.log"},
        FullPathCase{"WindowsRelativeSlashes", windows, "Logs/sub/../helper.log", "C:\\Users\\ann",
                     "C:\\Users\\ann\\Logs\\helper.log"},
        FullPathCase{"WindowsDotDotAboveTheDrive", windows, "C:\\..\\..\\Windows\\.\\System32", "D:\\",
                     "C:\\Windows\\System32"},
        FullPathCase{"WindowsRelativeAboveTheDrive", windows, "..\\..\\..\\x", "C:\\Users", "C:\\x"},
        FullPathCase{"WindowsAbsoluteUnchanged", windows, "C:/Program Files//Velmarch/", "D:\\",
                     "C:/Program Files//Velmarch/"},
        FullPathCase{"WindowsAbsoluteWithDots", windows, "C:/Program Files//Velmarch/./", "D:\\",
                     "C:\\Program Files\\Velmarch\\"},
        FullPathCase{"WindowsTrailingSeparatorStays", windows, "..\\Velmarch\\", "C:\\Program Files\\Old",
                     "C:\\Program Files\\Velmarch\\"},
        FullPathCase{"WindowsRooted", windows, "\\Logs\\..\\x.log", "D:\\work", "D:\\x.log"},
        FullPathCase{"WindowsRootedAboveTheRoot", windows, "\\..\\x.log", "D:\\work", "D:\\x.log"},
        FullPathCase{"WindowsDriveRelativeSameDrive", windows, "d:..\\x", "D:\\work\\sub", "D:\\work\\x"},
        FullPathCase{"WindowsDriveRelativeOtherDrive", windows, "E:x\\..\\y", "D:\\work", "E:\\y"},
        FullPathCase{"WindowsBareDrive", windows, "D:", "D:\\work", "D:\\work"},
        FullPathCase{"WindowsThreeDotsIsAName", windows, "C:\\a\\...\\b", "D:\\", "C:\\a\\...\\b"},
        FullPathCase{"WindowsDotDotAsPartOfAName", windows, "C:\\a\\..b\\b..\\.\\c", "D:\\", "C:\\a\\..b\\b..\\c"},
        // Windows: shares and devices keep their roots.
        FullPathCase{"WindowsUncDotDotStaysInTheShare", windows, "\\\\server\\share\\a\\..\\..\\..\\b", "C:\\",
                     "\\\\server\\share\\b"},
        FullPathCase{"WindowsUncSlashes", windows, "//server/share/./a", "C:\\", "\\\\server\\share\\a"},
        FullPathCase{"WindowsUncUnchanged", windows, "\\\\server\\share\\a", "C:\\", "\\\\server\\share\\a"},
        FullPathCase{"WindowsRootedOnAShare", windows, "\\x\\..\\y", "\\\\server\\share\\work", "\\\\server\\share\\y"},
        FullPathCase{"WindowsDeviceKeepsItsDevice", windows, "\\\\.\\C:\\a\\..\\..\\b", "D:\\", "\\\\.\\C:\\b"},
        FullPathCase{"WindowsDeviceUncKeepsItsShare", windows, "\\\\.\\UNC\\server\\share\\..\\..\\b", "D:\\",
                     "\\\\.\\UNC\\server\\share\\b"},
        // The system reads "UNC" in any case.
        FullPathCase{"WindowsDeviceLowerCaseUncKeepsItsShare", windows, "//./unc/server/share/../../b", "D:\\",
                     "\\\\.\\unc\\server\\share\\b"},
        // Windows: only "\\?\" as written is verbatim; "//?/" is a device
        // path the system normalises, and it stays one ("\\.\").
        FullPathCase{"WindowsSlashedQuestionMarkIsNormalised", windows, "//?/C:/x/../y", "D:\\", "\\\\.\\C:\\y"},
        FullPathCase{"WindowsMixedQuestionMarkIsNormalised", windows, "\\\\?/C:/x/./y", "D:\\", "\\\\.\\C:\\x\\y"},
        FullPathCase{"WindowsSlashedDotDevice", windows, "//./C:/x/../y", "D:\\", "\\\\.\\C:\\y"},
        // A share named ".." is the system's reading too (refused by the run:
        // is_ambiguous_root).
        FullPathCase{"WindowsShareNamedDotDotIsAName", windows, "\\\\srv\\..\\x", "D:\\", "\\\\srv\\..\\x"},
        // Windows: verbatim texts go to the system as they are.
        FullPathCase{"WindowsVerbatimAsItIs", windows, "\\\\?\\C:\\a\\..\\b\\.", "D:\\", "\\\\?\\C:\\a\\..\\b\\."},
        FullPathCase{"WindowsVerbatimUncAsItIs", windows, "\\\\?\\UNC\\server\\share\\..\\x", "D:\\",
                     "\\\\?\\UNC\\server\\share\\..\\x"},
        FullPathCase{"WindowsNtPrefixAsItIs", windows, "\\??\\C:\\a\\..\\b", "D:\\", "\\??\\C:\\a\\..\\b"}),
    testing::CaseName());

struct AnchorCase {
    const char* name;
    PathStyle style;
    const char* text;
    PathAnchor anchor;
};

class Anchor : public ::testing::TestWithParam<AnchorCase> {};

TEST_P(Anchor, SaysWhatATextIsReadAgainst) {
    EXPECT_EQ(anchor_of(std::string_view(GetParam().text), GetParam().style), GetParam().anchor);
}

INSTANTIATE_TEST_SUITE_P(BothStyles, Anchor,
                         ::testing::Values(AnchorCase{"PosixAbsolute", posix, "/x", PathAnchor::absolute},
                                           AnchorCase{"PosixRelative", posix, "x/y", PathAnchor::relative},
                                           AnchorCase{"PosixDriveLooking", posix, "C:\\x", PathAnchor::relative},
                                           AnchorCase{"WindowsDrive", windows, "c:/x", PathAnchor::absolute},
                                           AnchorCase{"WindowsDriveRelative", windows, "C:x",
                                                      PathAnchor::drive_relative},
                                           AnchorCase{"WindowsRooted", windows, "/x", PathAnchor::rooted},
                                           AnchorCase{"WindowsUnc", windows, "\\\\s\\share", PathAnchor::absolute},
                                           AnchorCase{"WindowsDevice", windows, "\\\\.\\pipe\\x", PathAnchor::absolute},
                                           AnchorCase{"WindowsVerbatim", windows, "\\\\?\\C:\\x", PathAnchor::verbatim},
                                           AnchorCase{"WindowsNt", windows, "\\??\\C:\\x", PathAnchor::verbatim},
                                           AnchorCase{"WindowsRelative", windows, "..\\x", PathAnchor::relative},
                                           AnchorCase{"WindowsDigitIsNoDrive", windows, "1:x", PathAnchor::relative}),
                         testing::CaseName());

// What the walk is given: the root and the components left to walk.
TEST(SplitPath, GivesTheRootAndResolvedComponents) {
    const SplitPath<char> share = split_path(std::string_view("//server/share/a/../b/./c/"), windows);
    EXPECT_EQ(share.root, "\\\\server\\share\\");
    EXPECT_EQ(share.components, (std::vector<std::string>{"b", "c"}));
    EXPECT_TRUE(share.trailing_separator);

    const SplitPath<char> relative = split_path(std::string_view("../a/../../b"), posix);
    EXPECT_EQ(relative.root, "");
    EXPECT_EQ(relative.components, (std::vector<std::string>{"..", "..", "b"}));
    EXPECT_EQ(resolve_dots(std::string_view("../a/../../b"), posix), "../../b");
    EXPECT_EQ(resolve_dots(std::string_view("a/.."), posix), ".");

    const SplitPath<char> drive_relative = split_path(std::string_view("C:..\\x"), windows);
    EXPECT_EQ(drive_relative.root, "C:");
    EXPECT_EQ(drive_relative.components, (std::vector<std::string>{"..", "x"}));
}

// Where the system's full-path rules and these could part, the run refuses
// the text: a server, share or device named "." or "..", and a ".." that
// reaches a device's name (the system's device root is "\\.\" alone:
// "\\.\C:\..\x" is "\\.\x" to it). Checked under Wine: GetFullPathNameW gives
// "\\srv\..\x" for "\\srv\..\x" and "\\.\UNC\x" for "\\.\UNC\srv\..\x".
TEST(AmbiguousRoot, IsFoundWhereTheSystemReadsDotsOtherwise) {
    for (const char* text :
         {"\\\\srv\\..\\x", "\\\\srv\\.\\x", "\\\\..\\share\\x", "//srv/../x", "\\\\srv\\..", "\\\\.\\..\\x",
          "//?/../x", "\\\\.\\C:\\..\\x", "//?/C:/a/../../x", "\\\\.\\UNC\\srv\\..\\x", "\\\\.\\UNC\\srv\\share\\..\\x",
          "\\\\.\\unc\\srv\\..\\x", "//?/uNc/srv/share/../x"})
        EXPECT_TRUE(is_ambiguous_root(std::string_view(text), windows)) << text;
    for (const char* text :
         {"\\\\srv\\share\\..\\x", "\\\\srv\\share\\a\\..\\..\\x", "\\\\srv\\..share\\x", "\\\\.\\C:\\a\\..\\x",
          "//?/C:/x/../y", "C:\\..\\x", "\\\\?\\C:\\..\\x", "\\\\?\\UNC\\srv\\..\\x", "\\??\\C:\\..", "..\\x"})
        EXPECT_FALSE(is_ambiguous_root(std::string_view(text), windows)) << text;
    EXPECT_FALSE(is_ambiguous_root(std::string_view("//srv/../x"), posix));
}

// The program's own texts (UTF-16 on Windows) follow the same rules.
TEST(FullPathWide, FollowsTheSameRules) {
    EXPECT_EQ(full_path_text(std::wstring_view(L"..\\Logs\\.\\helper.log"), std::wstring_view(L"C:\\Users\\ann\\Work"),
                             windows),
              L"C:\\Users\\ann\\Logs\\helper.log");
    EXPECT_EQ(full_path_text(std::wstring_view(L"C:\\Users\\ann"), std::wstring_view(L"D:\\"), windows),
              L"C:\\Users\\ann");
}

}  // namespace
}  // namespace velmarch::platform

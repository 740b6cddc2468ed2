// The updater's path type and the text rules under it: a table of the forms
// the updater meets, in both styles, and every short text of a small
// alphabet compared with std::filesystem::path in the native style.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/path/path.h"
#include "platform/path/path_parts.h"
#include "support/machine_layout.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

struct PartsCase {
    std::string_view text;
    PathStyle style;
    std::string_view root, parent, filename, extension;
};

constexpr PathStyle kPosix = PathStyle::posix;
constexpr PathStyle kWindows = PathStyle::windows;

const PartsCase kPartsCases[] = {
    // text                         style     root              parent                 file name       extension
    {"", kPosix, "", "", "", ""},
    {"/", kPosix, "/", "/", "", ""},
    {"/tmp/velmarch/update.msi", kPosix, "/", "/tmp/velmarch", "update.msi", ".msi"},
    {"/tmp/velmarch/", kPosix, "/", "/tmp/velmarch", "", ""},
    {"/tmp/velmarch//", kPosix, "/", "/tmp/velmarch", "", ""},
    {"/a", kPosix, "/", "/", "a", ""},
    {"//a/b", kPosix, "//", "//a", "b", ""},
    {"Downloads/x.msi", kPosix, "", "Downloads", "x.msi", ".msi"},
    {"x.msi", kPosix, "", "", "x.msi", ".msi"},
    {"a/.", kPosix, "", "a", ".", ""},
    {"a/..", kPosix, "", "a", "..", ""},
    {".profile", kPosix, "", "", ".profile", ""},
    {"archive.tar.gz", kPosix, "", "", "archive.tar.gz", ".gz"},
    {"name.", kPosix, "", "", "name.", "."},
    {"C:\\x", kPosix, "", "", "C:\\x", ""},  // a backslash is a name's own on POSIX
    // Drives.
    {"C:\\Program Files\\Velmarch\\Velmarch.exe", kWindows, "C:\\", "C:\\Program Files\\Velmarch", "Velmarch.exe",
     ".exe"},
    {"C:\\", kWindows, "C:\\", "C:\\", "", ""},
    {"C:\\a", kWindows, "C:\\", "C:\\", "a", ""},
    {"C:/Logs/helper.log", kWindows, "C:/", "C:/Logs", "helper.log", ".log"},
    {"c:\\Logs\\", kWindows, "c:\\", "c:\\Logs", "", ""},
    {"C:", kWindows, "C:", "C:", "", ""},
    {"D:setup.msi", kWindows, "D:", "D:", "setup.msi", ".msi"},
    {"\\Logs\\helper.log", kWindows, "\\", "\\Logs", "helper.log", ".log"},
    {"Downloads\\x.msi", kWindows, "", "Downloads", "x.msi", ".msi"},
    {"1:\\x", kWindows, "", "1:", "x", ""},  // only a letter makes a drive
    // Shares: the share is part of the root, never a file name.
    {"\\\\server\\share\\Velmarch\\update.msi", kWindows, "\\\\server\\share\\", "\\\\server\\share\\Velmarch",
     "update.msi", ".msi"},
    {"\\\\server\\share\\x", kWindows, "\\\\server\\share\\", "\\\\server\\share\\", "x", ""},
    {"\\\\server\\share", kWindows, "\\\\server\\share", "\\\\server\\share", "", ""},
    {"//server/share/x.msi", kWindows, "//server/share/", "//server/share/", "x.msi", ".msi"},
    // Devices and verbatim texts.
    {"\\\\?\\C:\\Logs\\helper.log", kWindows, "\\\\?\\C:\\", "\\\\?\\C:\\Logs", "helper.log", ".log"},
    {"\\\\?\\UNC\\server\\share\\x", kWindows, "\\\\?\\UNC\\server\\share\\", "\\\\?\\UNC\\server\\share\\", "x", ""},
    {"\\\\.\\pipe\\velmarch", kWindows, "\\\\.\\pipe\\", "\\\\.\\pipe\\", "velmarch", ""},
    {"\\??\\C:\\x.msi", kWindows, "\\??\\C:\\", "\\??\\C:\\", "x.msi", ".msi"},
    // Names Windows reads its own way keep their text here.
    {"C:\\dl\\update.msi.", kWindows, "C:\\", "C:\\dl", "update.msi.", "."},
    {"C:\\dl\\update.msi:stream", kWindows, "C:\\", "C:\\dl", "update.msi:stream", ".msi:stream"},
};

std::string show(PathStyle style) { return style == kPosix ? "posix" : "windows"; }

TEST(PathParts, EachFormHasTheRootParentFileNameAndExtensionOfItsRow) {
    for (const PartsCase& c : kPartsCases) {
        SCOPED_TRACE(std::string(c.text) + " (" + show(c.style) + ")");
        EXPECT_EQ(c.text.substr(0, root_length(c.text, c.style)), c.root);
        EXPECT_EQ(parent_of(c.text, c.style), c.parent);
        EXPECT_EQ(filename_of(c.text, c.style), c.filename);
        EXPECT_EQ(extension_of(c.text, c.style), c.extension);
        // The same answers from UTF-16 units.
        const std::wstring wide(c.text.begin(), c.text.end());
        EXPECT_EQ(parent_of(std::wstring_view(wide), c.style), std::wstring(c.parent.begin(), c.parent.end()));
        EXPECT_EQ(filename_of(std::wstring_view(wide), c.style), std::wstring(c.filename.begin(), c.filename.end()));
    }
}

TEST(PathParts, ParentsEndAtTheRoot) {
    // Climbing from any row reaches a text that is its own parent, and that
    // text is the row's root (or "" for a relative text).
    for (const PartsCase& c : kPartsCases) {
        SCOPED_TRACE(std::string(c.text) + " (" + show(c.style) + ")");
        std::string_view text = c.text;
        for (int steps = 0; steps < 10 && parent_of(text, c.style) != text; ++steps) {
            const std::string_view parent = parent_of(text, c.style);
            ASSERT_LT(parent.size(), text.size());
            ASSERT_TRUE(text.starts_with(parent));
            text = parent;
        }
        EXPECT_EQ(parent_of(text, c.style), text);
        EXPECT_EQ(text, c.root);
    }
}

// An elevated run acts on local volumes only: by its text a path is on this
// machine only as a drive (whose type the system then tells) or a POSIX path.
TEST(PathParts, SharesAndDevicePathsAreNotLocalByTheirText) {
    struct Case {
        std::string_view text;
        PathStyle style;
        TextVolume volume;
    } const cases[] = {
        {"C:\\Users\\ann", kWindows, TextVolume::this_machine},
        {"c:/Users", kWindows, TextVolume::this_machine},
        {"\\\\?\\C:\\Users", kWindows, TextVolume::this_machine},
        {"\\??\\C:\\Users", kWindows, TextVolume::this_machine},
        {"\\Users\\ann", kWindows, TextVolume::this_machine},  // rooted: read against a drive first
        {"Logs\\helper.log", kWindows, TextVolume::this_machine},
        {"D:x", kWindows, TextVolume::this_machine},
        {"\\\\server\\share\\x", kWindows, TextVolume::not_local},
        {"//server/share/x", kWindows, TextVolume::not_local},
        {"\\/server\\share", kWindows, TextVolume::not_local},
        {"\\\\server", kWindows, TextVolume::not_local},
        {"\\\\localhost\\pipe\\name", kWindows, TextVolume::not_local},
        {"\\\\localhost\\C$\\Users", kWindows, TextVolume::not_local},
        {"\\\\?\\UNC\\server\\share\\x", kWindows, TextVolume::not_local},
        {"\\??\\UNC\\server\\share\\x", kWindows, TextVolume::not_local},
        {"\\??\\UNC\\?\\C:\\x", kWindows, TextVolume::not_local},
        {"\\\\?\\UNC\\?\\C:\\x", kWindows, TextVolume::not_local},
        {"\\\\.\\UNC\\server\\share\\x", kWindows, TextVolume::not_local},
        {"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share", kWindows, TextVolume::not_local},
        {"\\\\?\\Volume{0b1ac3a2-0000-0000-0000-100000000000}\\x", kWindows, TextVolume::not_local},
        {"\\\\.\\C:\\Users", kWindows, TextVolume::not_local},
        {"//?/C:/Users", kWindows, TextVolume::not_local},  // a device path, not verbatim
        {"\\\\?\\C:", kWindows, TextVolume::not_local},     // the volume device itself
        {"\\??\\pipe\\name", kWindows, TextVolume::not_local},
        {"//server/share/x", kPosix, TextVolume::this_machine},
        {"/mnt/nfs/x", kPosix, TextVolume::this_machine},  // the stand-in asks the file system
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " (" + show(c.style) + ")");
        EXPECT_EQ(volume_by_text(c.text, c.style), c.volume);
        const std::wstring wide(c.text.begin(), c.text.end());
        EXPECT_EQ(volume_by_text(std::wstring_view(wide), c.style), c.volume);
    }
}

TEST(PathParts, DosWildcardsAreSearchPatternsLikeStarAndQuestionMark) {
    for (const std::string_view text :
         {"C:\\a*", "C:\\a?", "C:\\a<b", "C:\\a>b", "C:\\a\"b", "\\\\?\\C:\\a<b", "\\\\?\\C:\\a?b", "\\??\\C:\\a>"})
        EXPECT_TRUE(has_wildcard(text, kWindows)) << text;
    for (const std::string_view text : {"C:\\a", "\\\\?\\C:\\a", "\\??\\C:\\a", "C:\\a|b"})
        EXPECT_FALSE(has_wildcard(text, kWindows)) << text;
    EXPECT_FALSE(has_wildcard(std::string_view("/a*<>\"?"), kPosix));
}

// The one join: where a separator goes between a folder and a name.
TEST(PathParts, JoiningANameAddsOneSeparatorUnlessTheFolderIsEmptyEndsWithOneOrIsABareDrive) {
    struct Case {
        std::string_view folder, name;
        PathStyle style;
        std::string_view joined;
    } const cases[] = {
        // folder                 name      style     joined
        {"", "x", kPosix, "x"},  // a relative name stays relative
        {"/", "x", kPosix, "/x"},
        {"//", "x", kPosix, "//x"},
        {"/a", "x", kPosix, "/a/x"},
        {"/a/", "x", kPosix, "/a/x"},
        {"a", "b/x", kPosix, "a/b/x"},
        {"C:", "x", kPosix, "C:/x"},    // no drives here
        {"a\\", "x", kPosix, "a\\/x"},  // nor a backslash separator
        {"", "x", kWindows, "x"},
        {"C:", "x", kWindows, "C:x"},  // drive C's current directory, as Windows reads it
        {"d:", "x", kWindows, "d:x"},
        {"C:\\", "x", kWindows, "C:\\x"},
        {"C:/", "x", kWindows, "C:/x"},
        {"C:\\a", "x", kWindows, "C:\\a\\x"},
        {"C:\\a\\", "x", kWindows, "C:\\a\\x"},
        {"C:\\a/", "x", kWindows, "C:\\a/x"},
        {"C:a", "x", kWindows, "C:a\\x"},
        {"1:", "x", kWindows, "1:\\x"},  // only a letter makes a drive
        {"\\", "x", kWindows, "\\x"},
        {"a", "b\\x", kWindows, "a\\b\\x"},
        {"\\\\server\\share", "x", kWindows, "\\\\server\\share\\x"},
        {"\\\\server\\share\\", "x", kWindows, "\\\\server\\share\\x"},
        {"\\\\?\\C:", "x", kWindows, "\\\\?\\C:\\x"},  // the volume device, no bare drive
        {"\\\\?\\C:\\", "x", kWindows, "\\\\?\\C:\\x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " + " + std::string(c.name) + " (" + show(c.style) + ")");
        EXPECT_EQ(join_name(c.folder, c.name, c.style), c.joined);
        const std::wstring folder(c.folder.begin(), c.folder.end());
        const std::wstring name(c.name.begin(), c.name.end());
        EXPECT_EQ(join_name(std::wstring_view(folder), std::wstring_view(name), c.style),
                  std::wstring(c.joined.begin(), c.joined.end()));
        // The path type joins by the same rule in the native style.
        if (c.style == kNativePathStyle) {
            EXPECT_EQ(testing::as_path(c.folder) / testing::as_path(c.name), testing::as_path(c.joined));
        }
    }
}

// --- the type itself, in the native style ------------------------------------

Path native(std::string_view slashed) { return testing::test_path(slashed); }

TEST(PathType, JoinsANameWithOneSeparator) {
    EXPECT_EQ(native("/Logs") / native("helper.log"), native("/Logs/helper.log"));
    EXPECT_EQ(native("/Logs/") / native("helper.log"), native("/Logs/helper.log"));
    EXPECT_EQ(Path() / native("helper.log"), native("helper.log"));
    Path self = native("a");
    self /= self;  // the name is read before the separator goes in
    EXPECT_EQ(self, native("a/a"));
}

TEST(PathType, AnswersByTextAlone) {
    const Path package = native("/Downloads/velmarch-2.4.0.msi");
    EXPECT_EQ(package.filename(), native("velmarch-2.4.0.msi"));
    EXPECT_EQ(package.extension(), native(".msi"));
    EXPECT_EQ(package.parent_path(), native("/Downloads"));
    EXPECT_EQ(package.root_path(), native("/"));
    EXPECT_TRUE(package.has_filename());
    EXPECT_FALSE(native("/Downloads/").has_filename());
    EXPECT_TRUE(native("relative/x").is_relative());
    // Equal texts only: the other separator makes another path.
    EXPECT_NE(Path(native("/a").native() + native("/").native() + native("b").native()), testing::as_path("/a\\b"));
}

#ifdef _WIN32
TEST(PathType, WindowsAnchorsDecideWhatIsAbsolute) {
    for (const wchar_t* absolute : {L"C:\\x", L"C:/x", L"\\\\server\\share\\x", L"\\\\?\\C:\\x", L"\\??\\C:\\x"})
        EXPECT_TRUE(Path(absolute).is_absolute()) << testing::generic_utf8(Path(absolute));
    for (const wchar_t* relative : {L"x", L"\\x", L"C:x", L"C:", L""})
        EXPECT_FALSE(Path(relative).is_absolute()) << testing::generic_utf8(Path(relative));
    // A bare drive takes a name as drive-relative, as Windows reads it.
    EXPECT_EQ(Path(L"C:") / Path(L"x"), Path(L"C:x"));
}
#else
TEST(PathType, PosixAbsoluteMeansALeadingSlash) {
    EXPECT_TRUE(Path("/x").is_absolute());
    EXPECT_TRUE(Path("//x").is_absolute());
    EXPECT_FALSE(Path("x/y").is_absolute());
    EXPECT_FALSE(Path("").is_absolute());
    EXPECT_EQ(Path("C:") / Path("x"), Path("C:/x"));  // no drives here
}
#endif

// --- against std::filesystem -------------------------------------------------

// Texts the updater can meet once its caller's paths are made whole: no
// repeated separator and, on Windows, no share or device prefix (those are
// rows of the table above; GCC 12's std::filesystem on Windows takes
// "\\server\share" for a relative path) and no drive but a letter (it takes
// "::" for one).
bool is_comparable(std::string_view text) {
    constexpr PathStyle style = kNativePathStyle;
    if (style == kWindows && text.size() >= 2 && text[1] == ':' && !has_drive(text)) return false;
    for (std::size_t i = 1; i < text.size(); ++i)
        if (is_separator_in(text[i - 1], style) && is_separator_in(text[i], style)) return false;
    return true;
}

// Every text of up to six characters over an alphabet with a letter, a
// drive's colon, a dot and both separators: 55,987 texts.
template <class Visit>
void for_each_short_text(Visit visit) {
    constexpr std::string_view kAlphabet = "C:./\\a";
    std::string text;
    const auto grow = [&](auto&& self, std::size_t left) -> void {
        visit(std::string_view(text));
        if (left == 0) return;
        for (char c : kAlphabet) {
            text.push_back(c);
            self(self, left - 1);
            text.pop_back();
        }
    };
    grow(grow, 6);
}

TEST(PathType, AgreesWithStdFilesystemOnEveryComparableShortText) {
    int compared = 0;
    int differences = 0;
    for_each_short_text([&](std::string_view text) {
        if (!is_comparable(text)) return;
        ++compared;
        const Path ours = testing::as_path(text);
        const std::filesystem::path theirs = testing::fs_path(ours);
        const auto same = [&](const char* what, const Path& a, const std::filesystem::path& b) {
            if (a.native() == b.native()) return;
            if (++differences <= 20)
                ADD_FAILURE() << what << " of \"" << text << "\": ours \"" << a << "\", std::filesystem \""
                              << testing::to_path(b) << "\"";
        };
        same("parent", ours.parent_path(), theirs.parent_path());
        same("file name", ours.filename(), theirs.filename());
        same("extension", ours.extension(), theirs.extension());
        // GCC 12's std::filesystem on Windows writes the root of a text that
        // is only "/" as "\\" (and keeps "/" in "/a"): roots are compared
        // with their separators made the preferred one.
        same("root", testing::to_path(testing::fs_path(ours.root_path()).make_preferred()),
             std::filesystem::path(theirs.root_path()).make_preferred());
        if (ours.has_filename() != theirs.has_filename() || ours.is_absolute() != theirs.is_absolute()) {
            if (++differences <= 20) ADD_FAILURE() << "has_filename or is_absolute of \"" << text << "\"";
        }
        if (!text.empty() && text.find_first_of(":/\\") == std::string_view::npos) {
            for (const char* base : {"C:\\a", "/a", "a/", "a"}) {
                const Path ours_base = testing::as_path(base);
                same("join", ours_base / ours, testing::fs_path(ours_base) / theirs);
            }
        }
    });
    EXPECT_EQ(differences, 0);
    EXPECT_GT(compared, 20000);
}

}  // namespace
}  // namespace velmarch::platform

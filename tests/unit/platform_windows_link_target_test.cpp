// Where a Windows junction or symbolic link leads, from the bytes
// FSCTL_GET_REPARSE_POINT returns: the forms followed, the forms refused, and
// data that does not hold what it says.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rules/windows_link_target.h"

namespace velmarch::platform {
namespace {

std::string narrow(const std::u16string& text) {
    std::string out;
    for (const char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::u16string widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

void put16(std::vector<std::byte>& out, std::uint32_t value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
    out.push_back(static_cast<std::byte>((value >> 8) & 0xFF));
}
void put32(std::vector<std::byte>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
void put_text(std::vector<std::byte>& out, const std::u16string& text) {
    for (const char16_t c : text) put16(out, c);
}

// Reparse data as the system lays it out: the print name is stored first, as
// the system's own tools do, so that the offsets matter.
std::vector<std::byte> reparse_data(std::uint32_t tag, std::string_view substitute, std::string_view print,
                                    std::uint32_t flags = 0) {
    const std::u16string sub = widen(substitute);
    const std::u16string shown = widen(print);
    std::vector<std::byte> names;
    put_text(names, shown);
    put16(names, 0);
    const auto substitute_offset = static_cast<std::uint32_t>(names.size());
    put_text(names, sub);
    put16(names, 0);

    std::vector<std::byte> body;
    put16(body, substitute_offset);
    put16(body, static_cast<std::uint32_t>(sub.size() * 2));
    put16(body, 0);
    put16(body, static_cast<std::uint32_t>(shown.size() * 2));
    if (tag == kReparseTagSymbolicLink) put32(body, flags);
    body.insert(body.end(), names.begin(), names.end());

    std::vector<std::byte> data;
    put32(data, tag);
    put16(data, static_cast<std::uint32_t>(body.size()));
    put16(data, 0);
    data.insert(data.end(), body.begin(), body.end());
    return data;
}

constexpr std::uint32_t kJunction = kReparseTagMountPoint;
constexpr std::uint32_t kSymlink = kReparseTagSymbolicLink;

struct TargetCase {
    const char* name;
    std::uint32_t tag;
    const char* substitute;
    const char* print;
    std::uint32_t flags;
    // Empty: refused.
    const char* followed;
    bool relative;
};

void PrintTo(const TargetCase& c, std::ostream* out) { *out << c.name; }

class LinkTargetForms : public ::testing::TestWithParam<TargetCase> {};

TEST_P(LinkTargetForms, ReadsTheSubstituteNameAndFollowsOnlyKnownForms) {
    const TargetCase& c = GetParam();
    auto target = windows_link_target(reparse_data(c.tag, c.substitute, c.print, c.flags));
    if (*c.followed == '\0') {
        ASSERT_FALSE(target) << narrow(target->path);
        EXPECT_EQ(target.error(), LinkTargetProblem::refused);
        return;
    }
    ASSERT_TRUE(target);
    EXPECT_EQ(narrow(target->path), c.followed);
    EXPECT_EQ(target->relative, c.relative);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, LinkTargetForms,
    ::testing::Values(
        TargetCase{"JunctionToADrive", kJunction, R"(\??\C:\Windows\System32)", R"(C:\Windows\System32)", 0,
                   R"(C:\Windows\System32)", false},
        TargetCase{"JunctionToADriveRoot", kJunction, R"(\??\d:\)", R"(d:\)", 0, R"(d:\)", false},
        // The system follows the substitute name; the print name may lie.
        TargetCase{"PrintNameIsNotWhatIsFollowed", kJunction, R"(\??\C:\Windows)", R"(C:\Users\ann\Safe)", 0,
                   R"(C:\Windows)", false},
        TargetCase{"JunctionWithoutPrintName", kJunction, R"(\??\C:\Data)", "", 0, R"(C:\Data)", false},
        TargetCase{"UncJunction", kJunction, R"(\??\UNC\server\share\dir)", "", 0, R"(\\server\share\dir)", false},
        TargetCase{"UncSymbolicLink", kSymlink, R"(\??\UNC\server\share)", R"(\\server\share)", 0, R"(\\server\share)",
                   false},
        TargetCase{"AbsoluteSymbolicLink", kSymlink, R"(\??\C:\Windows\win.ini)", R"(C:\Windows\win.ini)", 0,
                   R"(C:\Windows\win.ini)", false},
        TargetCase{"RelativeSymbolicLink", kSymlink, R"(..\other\file.txt)", R"(..\other\file.txt)", 1,
                   R"(..\other\file.txt)", true},
        TargetCase{"RootRelativeSymbolicLink", kSymlink, R"(\Windows\System32)", R"(\Windows\System32)", 1,
                   R"(\Windows\System32)", true},
        // Refused: forms whose meaning the walk does not know.
        TargetCase{"VolumeGuidJunction", kJunction, R"(\??\Volume{0b1ac3a2-0000-0000-0000-100000000000}\)", "", 0, "",
                   false},
        TargetCase{"VolumeGuidSymbolicLink", kSymlink, R"(\??\Volume{0b1ac3a2-0000-0000-0000-100000000000}\x)", "", 0,
                   "", false},
        TargetCase{"GlobalRoot", kSymlink, R"(\??\GLOBALROOT\Device\HarddiskVolume3\Windows)", "", 0, "", false},
        TargetCase{"DevicePath", kJunction, R"(\Device\HarddiskVolume3\Windows)", R"(C:\Windows)", 0, "", false},
        TargetCase{"DosDevicesAlias", kSymlink, R"(\DosDevices\C:\Windows)", "", 0, "", false},
        TargetCase{"VolumeDeviceItself", kJunction, R"(\??\C:)", "", 0, "", false},
        TargetCase{"PipeThroughTheDeviceNamespace", kSymlink, R"(\??\pipe\name)", "", 0, "", false},
        TargetCase{"UncWithoutShare", kJunction, R"(\??\UNC\server)", "", 0, "", false},
        TargetCase{"UncToTheDeviceNamespace", kJunction, R"(\??\UNC\.\C:\x)", "", 0, "", false},
        TargetCase{"UncToTheVerbatimNamespace", kJunction, R"(\??\UNC\?\C:\x)", "", 0, "", false},
        TargetCase{"UncSymbolicLinkToTheVerbatimNamespace", kSymlink, R"(\??\UNC\?\UNC\server\share)", "", 0, "",
                   false},
        TargetCase{"Win32FormNotAnNtName", kSymlink, R"(C:\Windows)", "", 0, "", false},
        TargetCase{"RelativeWithADrive", kSymlink, R"(C:Windows)", "", 1, "", false},
        TargetCase{"RelativeToAStream", kSymlink, R"(file.txt:hidden)", "", 1, "", false},
        TargetCase{"RelativeUnc", kSymlink, R"(\\server\share)", "", 1, "", false},
        // Search patterns, the DOS wildcards as "*" and "?": a directory-entry
        // lookup of such a name would match other names.
        TargetCase{"RelativeWithAStar", kSymlink, R"(..\Logs\*.log)", "", 1, "", false},
        TargetCase{"RelativeWithDosStar", kSymlink, R"(..\Logs\<.log)", "", 1, "", false},
        TargetCase{"RelativeWithDosQuestionMark", kSymlink, R"(..\Logs\helper>log)", "", 1, "", false},
        TargetCase{"RelativeWithDosDot", kSymlink, R"(..\Logs\helper"log)", "", 1, "", false},
        TargetCase{"AbsoluteWithDosStar", kJunction, R"(\??\C:\Windows\<)", "", 0, "", false},
        TargetCase{"AbsoluteWithDosDot", kSymlink, R"(\??\C:\Windows\win"ini)", "", 0, "", false},
        TargetCase{"UncWithDosQuestionMark", kSymlink, R"(\??\UNC\server\share\>)", "", 0, "", false},
        TargetCase{"RelativeNtName", kSymlink, R"(\??\C:\Windows)", "", 1, "", false},
        TargetCase{"EmptyRelative", kSymlink, "", "", 1, "", false},
        // A junction has no relative form: the flag field is the name data.
        TargetCase{"WslSymbolicLinkTag", 0xA000001D, "target", "", 0, "", false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(LinkTargetData, MalformedDataIsReportedAsSuch) {
    const auto good = reparse_data(kJunction, R"(\??\C:\Windows)", "");
    ASSERT_TRUE(windows_link_target(good));
    // Every shortened copy: the header's lengths no longer fit.
    for (std::size_t size = 0; size < good.size(); ++size) {
        auto shortened = windows_link_target(std::span(good).first(size));
        ASSERT_FALSE(shortened) << size;
        EXPECT_EQ(shortened.error(), LinkTargetProblem::malformed) << size;
    }
    // A substitute name reaching past the data.
    auto stretched = good;
    stretched[10] = std::byte{0xF0};
    EXPECT_EQ(windows_link_target(stretched).error(), LinkTargetProblem::malformed);
    // An odd name length.
    auto odd = good;
    odd[10] = static_cast<std::byte>(std::to_integer<unsigned>(odd[10]) | 1);
    EXPECT_EQ(windows_link_target(odd).error(), LinkTargetProblem::malformed);
}

struct FullPathCase {
    const char* path;
    const char* walked;  // empty: refused
};

TEST(WalkableFullPath, OnlyDriveRootedAndUncPathsAreWalked) {
    const FullPathCase cases[] = {
        {R"(C:\Users\ann\Logs\helper.log)", R"(C:\Users\ann\Logs\helper.log)"},
        {R"(\\?\C:\Users\ann)", R"(C:\Users\ann)"},
        {R"(\??\C:\Users\ann)", R"(C:\Users\ann)"},
        {R"(\\server\share\Logs)", R"(\\server\share\Logs)"},
        {R"(\\?\UNC\server\share\Logs)", R"(\\server\share\Logs)"},
        {R"(\\?\Volume{0b1ac3a2-0000-0000-0000-100000000000}\Logs)", ""},
        {R"(\\?\GLOBALROOT\Device\HarddiskVolume3\Logs)", ""},
        {R"(\\.\C:\Logs)", ""},
        {R"(\\.\pipe\name)", ""},
        {R"(\\?\UNC\server)", ""},
        {R"(\\?\UNC\?\C:\Logs)", ""},
        {R"(\??\UNC\?\C:\Logs)", ""},
        {R"(\\server)", ""},
        {R"(\\?\C:)", ""},
        {R"(C:)", ""},
        {R"(Logs\helper.log)", ""},
        // Verbatim: the system takes "." and ".." as names, the walk would not.
        {R"(\\?\C:\Users\ann\..\bob)", ""},
        {R"(\??\C:\Users\.\ann)", ""},
        {R"(\\?\UNC\server\share\..\x)", ""},
        {R"(\\?\C:\Users\..ann\x.)", R"(C:\Users\..ann\x.)"},
        // Search patterns, DOS wildcards included; the "?" of "\\?\" is none.
        {R"(C:\Users\ann\*)", ""},
        {R"(C:\Users\ann\a<b)", ""},
        {R"(C:\Users\ann\a>b)", ""},
        {R"(C:\Users\ann\a"b)", ""},
        {R"(\\?\C:\Users\a?b)", ""},
        {R"(\\server\share\a<b)", ""},
    };
    for (const FullPathCase& c : cases) {
        const auto walked = walkable_full_path(widen(c.path));
        if (*c.walked == '\0') {
            EXPECT_FALSE(walked) << c.path << " -> " << narrow(*walked);
        } else {
            ASSERT_TRUE(walked) << c.path;
            EXPECT_EQ(narrow(*walked), c.walked) << c.path;
        }
    }
}

}  // namespace
}  // namespace velmarch::platform

#include "version_text.h"

#include "text/format.h"
#include "text/trim.h"
#include "text/utf.h"

namespace velmarch::sign_tool {
namespace {

// The first control character's code point, 0x110000 when there is none.
// The text is valid UTF-8: C1 controls are the two bytes C2 80 to C2 9F.
char32_t first_control_character(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) return byte;
        if (byte == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) return next;
        }
    }
    return 0x110000;
}

// "U+000A" for a line feed.
std::string code_point_name(char32_t code_point) {
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string name = "U+0000";
    for (std::size_t i = 0; i < 4; ++i) name[5 - i] = kDigits[(code_point >> (4 * i)) & 0xF];
    return name;
}

}  // namespace

Result<void> check_version_text(std::string_view version) {
    if (version.empty()) return fail(ErrorKind::refused, std::string("The version must not be empty."));
    if (!text::is_valid_utf8(version)) {
        return fail(ErrorKind::refused,
                    std::string("The version is not valid UTF-8 text, which the updater requires."));
    }
    if (const char32_t control = first_control_character(version); control != 0x110000) {
        return fail(
            ErrorKind::refused,
            text::format("The version holds the control character {}, which the signed text's lines cannot carry.",
                         code_point_name(control)));
    }
    if (text::trim(version) != version) {
        return fail(
            ErrorKind::refused,
            std::string("The version has white space around it, which the updater would trim away: give it without."));
    }
    return {};
}

}  // namespace velmarch::sign_tool

// A composed command line splits back, by the C runtime's rules, into the
// program text and every regular argument unchanged, and its text is exactly
// the documented quoting. The input is NUL-separated pieces: the program text
// (its quotes dropped), then the arguments. A byte below 0x80 is that code
// unit; a byte b from 0x80 up stands for the code unit b * 0x101, which
// reaches non-ASCII letters, lone surrogates and U+FFFF.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rules/command_line_split.h"
#include "process/command_line_compose.h"
#include "support/check.h"

namespace {

std::vector<std::u16string> split_pieces(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back() += static_cast<char16_t>(data[i] < 0x80 ? data[i] : data[i] * 0x101u);
        }
    }
    return pieces;
}

// The documented composition of one regular argument.
std::u16string model_regular(std::u16string_view text) {
    const bool quoted = text.empty() || text.find_first_of(u" \t") != std::u16string_view::npos;
    std::u16string out = quoted ? u"\"" : u"";
    std::size_t run = 0;
    for (char16_t c : text) {
        if (c == u'\\') {
            ++run;
            continue;
        }
        out.append(c == u'"' ? 2 * run + 1 : run, u'\\');
        run = 0;
        out += c;
    }
    out.append(quoted ? 2 * run : run, u'\\');
    if (quoted) out += u'"';
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> pieces = split_pieces(data, size);
    std::u16string program;
    for (char16_t c : pieces.front())
        if (c != u'"') program += c;

    std::vector<velmarch::process::Argument> arguments;
    std::u16string expected_text = u"\"" + program + u"\"";
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        arguments.push_back({pieces[i], false});
        expected_text += u' ';
        expected_text += model_regular(pieces[i]);
    }

    const auto composed = velmarch::process::compose_command_line(program, arguments);
    FUZZ_CHECK(composed.has_value(), "composition refused arguments without NUL");
    FUZZ_CHECK(*composed == expected_text, "the composed text differs from the documented quoting");

    const std::vector<std::u16string> split = velmarch::platform::split_command_line(*composed);
    FUZZ_CHECK(split.size() == pieces.size(), "splitting gives a different number of arguments");
    FUZZ_CHECK(split.front() == program, "the program text does not come back unchanged");
    for (std::size_t i = 1; i < pieces.size(); ++i)
        FUZZ_CHECK(split[i] == pieces[i], "an argument does not come back unchanged");

    if (!arguments.empty()) {
        arguments.back().text.insert(arguments.back().text.size() / 2, 1, u'\0');
        const auto refused = velmarch::process::compose_command_line(program, arguments);
        FUZZ_CHECK(!refused.has_value() && refused.error().text == "nul byte found in provided data",
                   "an argument holding a NUL was not refused");
    }
    return 0;
}

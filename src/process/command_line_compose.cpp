// Composition of the Windows command line for a started program.

#include <algorithm>

#include "process/command_line_compose.h"

namespace velmarch::process {
namespace {

bool needs_quotes(std::u16string_view text) {
    return text.empty() || text.find_first_of(u" \t") != std::u16string_view::npos;
}

// A run of n backslashes is literal unless a double quote follows it: then
// it becomes 2n+1 backslashes before the quote. Inside quotes a run at the very
// end is doubled so that it does not escape the closing quote.
void append_regular(std::u16string& out, std::u16string_view text) {
    const bool quoted = needs_quotes(text);
    if (quoted) out += u'"';
    std::size_t backslashes = 0;
    for (const char16_t c : text) {
        if (c == u'\\') {
            ++backslashes;
        } else {
            if (c == u'"') out.append(backslashes + 1, u'\\');
            backslashes = 0;
        }
        out += c;
    }
    if (quoted) {
        out.append(backslashes, u'\\');
        out += u'"';
    }
}

bool has_nul(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }

}  // namespace

Result<std::u16string> compose_command_line(std::u16string_view program, const std::vector<Argument>& arguments) {
    if (has_nul(program) ||
        std::any_of(arguments.begin(), arguments.end(), [](const Argument& a) { return has_nul(a.text); }))
        return fail(ErrorKind::refused, std::string(kNulInCommandLine));

    std::u16string out;
    out += u'"';
    out += program;
    out += u'"';
    for (const Argument& argument : arguments) {
        out += u' ';
        if (argument.raw)
            out += argument.text;
        else
            append_regular(out, argument.text);
    }
    return out;
}

}  // namespace velmarch::process

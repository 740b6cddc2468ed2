#pragma once
// How Windows Installer (msiexec.exe) splits its command line, for checking
// what the updater composes. Pure functions, header-only so that the fuzz
// harnesses share them.
//
// The splitting follows Wine's msiexec, whose behaviour with quotes was
// checked against the real program: a double quote switches quoting on and
// off and is dropped, a backslash is always literal, a space outside quotes
// ends an argument, and a character right after a closing quote starts a new
// argument. Where another reading is conceivable (Windows' own msiexec is not
// documented to this depth) the split records a doubt instead of guessing:
// whitespace other than a space or a control character outside quotes, a
// carriage return or line feed inside them, two double quotes in a row (the
// property syntax reads "" as one literal quote), a character glued to a
// closing quote, and a quote left open at the end. A command line is read as
// intended only when it splits into the intended arguments with no doubt.

#include <string>
#include <string_view>
#include <vector>

namespace velmarch::testing {

struct MsiexecSplit {
    // The program text first, then each argument.
    std::vector<std::u16string> arguments;
    std::vector<std::string> doubts;
};

inline bool msiexec_might_separate(char16_t c) {
    if (c < u' ' || c == u'\x7F' || c == u'\x85' || c == u'\xA0' || c == u'\x1680') return true;
    if (c >= u'\x2000' && c <= u'\x200A') return true;
    return c == u'\x2028' || c == u'\x2029' || c == u'\x202F' || c == u'\x205F' || c == u'\x3000';
}

inline MsiexecSplit split_msiexec_command_line(std::u16string_view line) {
    enum class State { whitespace, token, quote };
    MsiexecSplit out;
    out.arguments.emplace_back();
    State state = State::token;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char16_t c = line[i];
        const bool after_quote = i > 0 && line[i - 1] == u'"';
        if (c == u'"' && after_quote) out.doubts.push_back("two double quotes in a row");
        if (state != State::quote && msiexec_might_separate(c))
            out.doubts.push_back("whitespace other than a space, or a control character, outside quotes");
        if (state == State::quote && (c == u'\r' || c == u'\n')) out.doubts.push_back("a line break inside quotes");
        switch (state) {
            case State::whitespace:
                if (c == u' ') break;
                out.arguments.emplace_back();
                if (c == u'"') {
                    state = State::quote;
                } else {
                    out.arguments.back() += c;
                    state = State::token;
                }
                break;
            case State::token:
                if (c == u'"') {
                    state = State::quote;
                } else if (c == u' ') {
                    state = State::whitespace;
                } else {
                    if (after_quote) {
                        out.doubts.push_back("a character right after a closing quote");
                        out.arguments.emplace_back();
                    }
                    out.arguments.back() += c;
                }
                break;
            case State::quote:
                if (c == u'"')
                    state = State::token;
                else
                    out.arguments.back() += c;
                break;
        }
    }
    if (state == State::quote) out.doubts.push_back("a quote left open at the end");
    return out;
}

}  // namespace velmarch::testing

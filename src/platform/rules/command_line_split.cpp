#include "platform/rules/command_line_split.h"

#include <cstddef>

namespace velmarch::platform {
namespace {

constexpr bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// The program name must be a valid file name, so it needs no escapes.
std::u16string take_program_name(std::u16string_view line, std::size_t& pos) {
    std::u16string name;
    bool in_quotes = false;
    for (; pos < line.size(); ++pos) {
        const char16_t c = line[pos];
        if (c == u'"') {
            in_quotes = !in_quotes;
        } else if (!in_quotes && is_blank(c)) {
            ++pos;
            break;
        } else {
            name += c;
        }
    }
    return name;
}

std::u16string take_argument(std::u16string_view line, std::size_t& pos) {
    std::u16string argument;
    bool in_quotes = false;
    while (pos < line.size()) {
        std::size_t backslashes = 0;
        while (pos < line.size() && line[pos] == u'\\') {
            ++backslashes;
            ++pos;
        }
        if (pos < line.size() && line[pos] == u'"') {
            argument.append(backslashes / 2, u'\\');
            if (backslashes % 2 == 1) {
                argument += u'"';
            } else if (in_quotes && pos + 1 < line.size() && line[pos + 1] == u'"') {
                argument += u'"';
                ++pos;
            } else {
                in_quotes = !in_quotes;
            }
            ++pos;
            continue;
        }
        argument.append(backslashes, u'\\');
        if (pos == line.size() || (!in_quotes && is_blank(line[pos]))) break;
        argument += line[pos++];
    }
    return argument;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view command_line) {
    std::vector<std::u16string> arguments;
    std::size_t pos = 0;
    arguments.push_back(take_program_name(command_line, pos));
    for (;;) {
        while (pos < command_line.size() && is_blank(command_line[pos])) ++pos;
        if (pos == command_line.size()) break;
        arguments.push_back(take_argument(command_line, pos));
    }
    return arguments;
}

}  // namespace velmarch::platform

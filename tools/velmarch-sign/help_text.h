#pragma once
// What `velmarch-sign help [COMMAND]`, `COMMAND --help` and `-h` print.

#include <optional>
#include <string_view>

namespace velmarch::sign_tool {

// The overview: every command, the exit codes.
std::string_view usage_text();

// One command's help, or nothing for an unknown command.
std::optional<std::string_view> command_help_text(std::string_view command);

}  // namespace velmarch::sign_tool

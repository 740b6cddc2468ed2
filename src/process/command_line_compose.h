#pragma once
// The Windows command line of a started program: the program, then each
// argument, quoted and escaped as the C runtime splits it again.

#include <string>
#include <string_view>
#include <vector>

#include "text/result.h"

namespace velmarch::process {

// A regular argument is quoted and escaped as the C runtime expects; a raw one
// is copied into the command line exactly as it is.
struct Argument {
    std::u16string text;
    bool raw = false;
};

// The launch-error text of an argument or program that holds a NUL.
inline constexpr std::string_view kNulInCommandLine = "nul byte found in provided data";

// `"<program>"`, then each argument after one space. The program text is not
// escaped. Fails when the program or any argument holds a NUL.
[[nodiscard]] Result<std::u16string> compose_command_line(std::u16string_view program,
                                                          const std::vector<Argument>& arguments);

}  // namespace velmarch::process

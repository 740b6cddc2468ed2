#pragma once
// Splits a Windows command line into arguments the way the Microsoft C
// runtime (UCRT) builds argv, so that every platform sees the arguments a
// Windows program would see.

#include <string>
#include <string_view>
#include <vector>

namespace velmarch::platform {

// The first piece is the program name: it ends at the first space or tab
// outside double quotes, and its quotes only switch quoting on and off.
// Every later argument follows the runtime's backslash rules:
//   2n backslashes + quote   -> n backslashes, the quote switches quoting;
//   2n+1 backslashes + quote -> n backslashes and a literal quote;
//   backslashes before anything else are literal;
//   inside quotes, a doubled quote is one literal quote and quoting goes on.
// Blanks are space and tab. A quote left open runs to the end of the line.
// The result always holds the program name, empty for an empty line or one
// that starts with a blank.
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

}  // namespace velmarch::platform

#pragma once
// Texts placed on Windows Installer's command line. msiexec splits that line
// by rules of its own, not the C runtime's: a double quote switches quoting on
// and off, a backslash is always literal and only whitespace outside quotes
// separates. A double quote inside a value therefore cannot be escaped at all,
// and C-runtime escaping (\") would end the quoted value early. Pure logic.

#include <string>
#include <string_view>

#include "process/command_line_compose.h"
#include "text/result.h"

namespace velmarch::process {

// True when msiexec can be given the text as one argument: no double quote,
// carriage return or line feed.
bool passes_to_msiexec(std::u16string_view text);

// The text as a raw argument that msiexec reads back unchanged: enclosed in
// double quotes when it is empty or holds whitespace or a control character
// (any of which some reading could take as a separator), verbatim otherwise.
// Only for texts that pass `passes_to_msiexec`.
Argument msiexec_argument(std::u16string_view text);

// INSTALLDIR="<install_dir>" as a raw argument, the directory as it stands.
// Refused when the directory does not pass `passes_to_msiexec`: a double
// quote, a carriage return or a line feed would break out of the quoted
// property value.
[[nodiscard]] Result<Argument> install_dir_assignment(std::u16string_view install_dir);

}  // namespace velmarch::process

#include "process/msiexec_arguments.h"

#include <algorithm>
#include <utility>

#include "text/white_space.h"

namespace velmarch::process {
namespace {

constexpr std::string_view kInstallDirRejected = "The current install directory cannot be passed to Windows Installer.";

// Unicode White_Space and every C0 control character: msiexec separates at a
// space; whether it also does at the rest is not documented, so none of them
// is left outside quotes.
bool might_separate(char16_t c) { return c <= u' ' || c == u'\x7F' || text::is_white_space(c); }

}  // namespace

bool passes_to_msiexec(std::u16string_view text) { return text.find_first_of(u"\"\r\n") == std::u16string_view::npos; }

Argument msiexec_argument(std::u16string_view text) {
    if (!text.empty() && std::none_of(text.begin(), text.end(), might_separate))
        return Argument{std::u16string(text), true};
    std::u16string quoted;
    quoted.reserve(text.size() + 2);
    quoted.append(1, u'"').append(text).append(1, u'"');
    return Argument{std::move(quoted), true};
}

Result<Argument> install_dir_assignment(std::u16string_view install_dir) {
    if (!passes_to_msiexec(install_dir)) return fail(ErrorKind::refused, std::string(kInstallDirRejected));
    std::u16string assignment(u"INSTALLDIR=\"");
    assignment.append(install_dir).append(1, u'"');
    return Argument{std::move(assignment), true};
}

}  // namespace velmarch::process

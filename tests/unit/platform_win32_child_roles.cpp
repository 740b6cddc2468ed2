// Lets the unit test executable serve as the child process of the process
// tests (see platform_win32_support.h): the role is taken before main runs.
#ifdef _WIN32

#include <bit>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/rules/command_line_split.h"
#include "platform_win32_support.h"
#include "text/utf.h"

namespace velmarch::testing {
namespace {

template <class Integer>
Integer number_from(const std::u16string& text) {
    const std::string ascii(text.begin(), text.end());
    Integer value{};
    std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    return value;
}

[[noreturn]] void echo_arguments(const std::u16string& output) {
    const std::unique_ptr<platform::Platform> platform = platform::make_native_platform(0, nullptr);
    const Result<std::vector<std::string>> arguments = platform->arguments();
    std::ofstream out(std::filesystem::path(std::wstring(output.begin(), output.end())), std::ios::binary);
    if (!arguments) {
        out << "error: " << arguments.error().text;
    } else {
        for (const std::string& argument : *arguments) out << argument << '\n';
    }
    out.close();
    ::ExitProcess(out ? 0 : 1);
}

// Whether `value` names, in this process, a handle of the file `name`.
[[noreturn]] void report_held_handle(const std::u16string& value, const std::u16string& name) {
    const auto handle = reinterpret_cast<HANDLE>(number_from<std::uintptr_t>(value));
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    path.resize(length < path.size() ? length : 0);
    const std::wstring wanted(name.begin(), name.end());
    const bool held = path.size() >= wanted.size() && path.ends_with(wanted);
    ::ExitProcess(held ? 3 : 0);
}

struct ChildRole {
    ChildRole() {
        const std::wstring_view line(::GetCommandLineW());
        const std::vector<std::u16string> arguments =
            platform::split_command_line(std::u16string(line.begin(), line.end()));
        if (arguments.size() < 3) return;
        if (arguments[1] == kChildExit) {
            ::ExitProcess(std::bit_cast<UINT>(number_from<std::int32_t>(arguments[2])));
        }
        if (arguments[1] == kChildSleep) {
            ::Sleep(number_from<DWORD>(arguments[2]));
            ::ExitProcess(0);
        }
        if (arguments[1] == kChildEchoArguments) echo_arguments(arguments[2]);
        if (arguments[1] == kChildHoldsHandle && arguments.size() >= 4) report_held_handle(arguments[2], arguments[3]);
    }
};

const ChildRole child_role;

}  // namespace
}  // namespace velmarch::testing

#endif  // _WIN32

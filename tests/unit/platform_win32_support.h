#pragma once
// Shared pieces of the Win32 platform tests: telling Wine apart and the
// child roles of the unit test executable.
#ifdef _WIN32

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "support/test_paths.h"

namespace velmarch::testing {

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool running_under_wine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The unit test executable started with one of these as its first argument
// acts as a child process instead of running the tests:
//   --child-exit <signed 32-bit code>   ends with that exit code;
//   --child-sleep <milliseconds>        sleeps, then ends with 0;
//   --child-echo-arguments <file> ...   writes what the platform reports as
//       its arguments to <file> (relative to its working directory), one per
//       line, or "error: <message>".
//   --child-holds-handle <value> <name>  ends with 3 when the handle of that
//       value is a file whose path ends in <name>, with 0 when it is not.
inline constexpr std::u16string_view kChildExit = u"--child-exit";
inline constexpr std::u16string_view kChildHoldsHandle = u"--child-holds-handle";
inline constexpr std::u16string_view kChildSleep = u"--child-sleep";
inline constexpr std::u16string_view kChildEchoArguments = u"--child-echo-arguments";

// The running test executable.
inline std::filesystem::path own_executable() {
    std::wstring buffer(32768, L'\0');
    buffer.resize(::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return buffer;
}

// A launch of this executable in one of its child roles; `rest` is appended
// to the command line as it is.
inline platform::LaunchRequest child_launch(std::u16string_view role, std::u16string_view rest) {
    platform::LaunchRequest launch;
    launch.application = to_path(own_executable());
    const std::wstring& program = launch.application.native();
    // Appended piece by piece: GCC 12 at -O3 takes `u"\"" + std::u16string` (an
    // insert at the front) for an overlapping copy (-Wrestrict, GCC bug 105329).
    launch.command_line = u"\"";
    launch.command_line.append(program.begin(), program.end()).append(u"\" ").append(role).append(u" ").append(rest);
    return launch;
}

}  // namespace velmarch::testing

#endif  // _WIN32

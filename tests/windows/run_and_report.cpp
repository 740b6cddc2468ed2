// velmarch-run-and-report: starts the command line that follows its own
// program name (taken verbatim from the raw command line), waits for it and
// prints the full 32-bit exit code as a signed decimal on standard output.
// A POSIX shell under Wine keeps only 8 bits of an exit code; this keeps all.
//
// VELMARCH_REPORT_STDERR names a file that receives the child's standard
// error. Exit codes of this program: 0 when the child ran, 2 when it could not
// be started (the reason goes to standard error).

#include <cstdint>
#include <cstdio>
#include <string>

#include "child_startup.h"
#include "helper_support.h"
#include "platform/win32/owners.h"

using namespace velmarch::test_helpers;
using velmarch::platform::win32::UniqueHandle;

namespace {

// The raw command line with the first token (this program) and the blanks
// after it removed. The first token follows the rule for program names: a
// quoted part ends at the next quote, no backslash escapes.
std::wstring command_tail(const wchar_t* line) {
    const wchar_t* p = line;
    bool quoted = false;
    while (*p != L'\0' && (quoted || (*p != L' ' && *p != L'\t'))) {
        if (*p == L'"') quoted = !quoted;
        ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

}  // namespace

int wmain() {
    std::wstring command = command_tail(GetCommandLineW());
    if (command.empty()) {
        std::fputs("usage: velmarch-run-and-report <command line>\n", stderr);
        return 2;
    }

    UniqueHandle error_file;
    STARTUPINFOW startup = startup_with_standard_handles();
    if (const auto error_path = environment_variable(L"VELMARCH_REPORT_STDERR")) {
        error_file = inheritable_output_file(*error_path);
        if (!error_file.valid()) {
            std::fprintf(stderr, "cannot create the standard error file (error %lu)\n", GetLastError());
            return 2;
        }
        startup.hStdError = error_file.get();
    }

    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start the command (error %lu)\n", GetLastError());
        return 2;
    }
    const UniqueHandle process_handle(process.hProcess);
    const UniqueHandle thread_handle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code)) {
        std::fprintf(stderr, "cannot read the exit code (error %lu)\n", GetLastError());
        return 2;
    }
    std::printf("%ld\n", static_cast<long>(static_cast<std::int32_t>(code)));
    std::fflush(stdout);
    return 0;
}

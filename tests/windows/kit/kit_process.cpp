#include "kit_process.h"

#include "../child_startup.h"
#include "platform/win32/os_error.h"

namespace velmarch::kit {

using platform::win32::last_os_error_text;
using HandleOwner = platform::win32::UniqueHandle;

std::wstring quote_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // Backslashes before the closing quote are doubled.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

namespace {

[[nodiscard]] Result<HandleOwner> inheritable_output(const std::filesystem::path& file) {
    HandleOwner handle = test_helpers::inheritable_output_file(file);
    if (!handle.valid())
        return fail(ErrorKind::os_error,
                    "cannot create " + test_helpers::to_utf8(file.native()) + ": " + last_os_error_text());
    return handle;
}

}  // namespace

Result<StartedProcess> start_process(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                                     const std::optional<std::filesystem::path>& output_file,
                                     const std::optional<std::filesystem::path>& error_file) {
    std::wstring command_line = quote_argument(program.native());
    for (const auto& argument : arguments) command_line += L" " + quote_argument(argument);

    STARTUPINFOW startup = test_helpers::startup_with_standard_handles();
    HandleOwner output;
    HandleOwner error;
    if (output_file) {
        auto opened = inheritable_output(*output_file);
        if (!opened) return std::unexpected(opened.error());
        output = std::move(*opened);
        startup.hStdOutput = output.get();
    }
    if (error_file && output_file && *error_file == *output_file) {
        startup.hStdError = output.get();
    } else if (error_file) {
        auto opened = inheritable_output(*error_file);
        if (!opened) return std::unexpected(opened.error());
        error = std::move(*opened);
        startup.hStdError = error.get();
    }
    PROCESS_INFORMATION information{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &information)) {
        return fail(ErrorKind::os_error,
                    "cannot start " + test_helpers::to_utf8(program.native()) + ": " + last_os_error_text());
    }
    CloseHandle(information.hThread);
    StartedProcess started;
    started.process = HandleOwner(information.hProcess);
    started.id = information.dwProcessId;
    return started;
}

std::optional<std::int32_t> wait_for_exit(HANDLE process, DWORD milliseconds) {
    if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) return std::nullopt;
    return static_cast<std::int32_t>(code);
}

Result<std::int32_t> finish_within(StartedProcess& started, DWORD milliseconds, const std::string& what) {
    if (const auto code = wait_for_exit(started.process.get(), milliseconds)) return *code;
    TerminateProcess(started.process.get(), 1);
    WaitForSingleObject(started.process.get(), 10000);
    return fail(ErrorKind::general,
                what + " did not end within " + std::to_string(milliseconds / 1000) + " s and was ended");
}

}  // namespace velmarch::kit

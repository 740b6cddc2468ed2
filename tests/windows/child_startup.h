#pragma once
// How the Windows test programs start a child: with this program's own
// standard handles, any of which may then be swapped for a file of its own.

#include <filesystem>

#include "platform/win32/owners.h"
#include "platform/win32/windows_api.h"

namespace velmarch::test_helpers {

// The child gets this program's standard input, output and error.
inline STARTUPINFOW startup_with_standard_handles() {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    return startup;
}

// `file`, created anew (emptied when it exists), for a child's standard
// output or error: inheritable, and readable by others while the child writes.
// No handle when it cannot be created; GetLastError() then says why.
inline platform::win32::UniqueHandle inheritable_output_file(const std::filesystem::path& file) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return platform::win32::UniqueHandle(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace velmarch::test_helpers

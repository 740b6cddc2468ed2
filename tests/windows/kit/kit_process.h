#pragma once
// Starting the programs the checks drive and reading their full 32-bit exit
// codes.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../helper_support.h"
#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace velmarch::kit {

// One argument quoted for the C runtime's splitting (the updater's own rules).
std::wstring quote_argument(const std::wstring& argument);

struct StartedProcess {
    platform::win32::UniqueHandle process;
    DWORD id = 0;
};

// Starts `program` with `arguments`; standard output and standard error go to
// the named files when given (created anew), otherwise they are inherited.
[[nodiscard]] Result<StartedProcess> start_process(
    const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
    const std::optional<std::filesystem::path>& output_file = std::nullopt,
    const std::optional<std::filesystem::path>& error_file = std::nullopt);

// The exit code once the process has ended within `milliseconds`; nothing
// when it is still running.
std::optional<std::int32_t> wait_for_exit(HANDLE process, DWORD milliseconds);

// Waits, and ends the process when it overruns: the code, or a message.
[[nodiscard]] Result<std::int32_t> finish_within(StartedProcess& started, DWORD milliseconds, const std::string& what);

}  // namespace velmarch::kit

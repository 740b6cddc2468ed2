// The process-level operations: arguments, standard error, environment,
// clock, whether the run is elevated, random bytes and the well-known
// directories.
#include "platform/win32/platform.h"

// After the Windows headers it builds on.
#include <bcrypt.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "platform/path/full_path.h"
#include "platform/rules/command_line_split.h"
#include "platform/win32/full_path_name.h"
#include "platform/win32/os_error.h"
#include "platform/win32/wide_text.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch::platform::win32 {
namespace {

// Calls `get(buffer, capacity)` of the GetSystemDirectoryW family, which
// answers the length without the NUL, or the capacity needed (with the NUL)
// when the buffer is too small, or 0 on failure.
template <class Getter>
std::optional<Path> directory_from(Getter get) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = get(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return Path(std::move(buffer));
        }
        buffer.resize(length);
    }
}

}  // namespace

Result<std::vector<std::string>> Win32Platform::arguments() {
    const std::wstring_view line(::GetCommandLineW());
    std::vector<std::u16string> pieces = split_command_line(to_utf16(line));
    std::vector<std::string> arguments;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::optional<std::string> utf8 = text::utf16_to_utf8(pieces[i]);
        if (!utf8) return fail(ErrorKind::general, text::format("Argument {} is not valid Unicode text.", i));
        arguments.push_back(std::move(*utf8));
    }
    return arguments;
}

void Win32Platform::write_standard_error(std::string_view text) {
    // A GUI-subsystem process usually has no standard error at all.
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;

    DWORD console_mode = 0;
    if (::GetConsoleMode(handle, &console_mode)) {
        // A console shows UTF-16; bytes would be read in its code page.
        std::wstring wide = to_wide(text::utf8_to_utf16_lossy(text));
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
            if (!::WriteConsoleW(handle, rest.data(), chunk, &written, nullptr) || written == 0) return;
            rest.remove_prefix(written);
        }
        return;
    }
    while (!text.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        if (!::WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return;
        text.remove_prefix(written);
    }
}

std::optional<NativeString> Win32Platform::environment_variable(std::string_view name) {
    const std::wstring wide_name = to_wide(text::utf8_to_utf16_lossy(name));
    std::wstring value(64, L'\0');
    for (;;) {
        // An empty variable also answers 0; only the error code tells it from
        // an absent one.
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length =
            ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return NativeString();
        }
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);  // the size needed, NUL included
    }
}

std::uint64_t Win32Platform::unix_time_seconds() {
    // FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC.
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    constexpr std::uint64_t kUnixEpochTicks = 116'444'736'000'000'000;
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return ticks < kUnixEpochTicks ? 0 : (ticks - kUnixEpochTicks) / kTicksPerSecond;
}

std::uint32_t Win32Platform::current_process_id() { return ::GetCurrentProcessId(); }

bool Win32Platform::elevated() { return link_check_ != LinkCheck::off; }

Result<Path> Win32Platform::working_directory_for(const Path& path) {
    const std::wstring& text = path.native();
    if (anchor_of(std::wstring_view(text), PathStyle::windows) == PathAnchor::drive_relative) {
        // The system keeps one current directory per drive; the full path of
        // the bare drive ("D:") is that directory.
        Result<std::wstring> drive_directory = full_path_name(text.substr(0, 2));
        if (!drive_directory) return std::unexpected(drive_directory.error());
        return Path(std::move(*drive_directory));
    }
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return fail(ErrorKind::os_error, last_os_error_text());
        if (length < buffer.size()) {
            buffer.resize(length);
            return Path(std::move(buffer));
        }
        buffer.resize(length);  // the size needed, NUL included
    }
}

void Win32Platform::sleep_milliseconds(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void Win32Platform::random_bytes(std::span<std::byte> out) {
    auto* data = reinterpret_cast<PUCHAR>(out.data());
    if (process_prng_ != nullptr) {
        // Documented never to fail.
        process_prng_(data, out.size());
        return;
    }
    // Systems without ProcessPrng (before Windows 10, and Wine).
    std::size_t done = 0;
    while (done < out.size()) {
        const auto chunk =
            static_cast<ULONG>(std::min<std::size_t>(out.size() - done, std::numeric_limits<ULONG>::max()));
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, data + done, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            // Nothing here may go on with predictable bytes.
            std::abort();
        }
        done += chunk;
    }
}

std::optional<Path> Win32Platform::system_directory() {
    return directory_from([](wchar_t* buffer, UINT size) { return ::GetSystemDirectoryW(buffer, size); });
}

std::optional<Path> Win32Platform::windows_directory() {
    return directory_from([](wchar_t* buffer, UINT size) { return ::GetWindowsDirectoryW(buffer, size); });
}

}  // namespace velmarch::platform::win32

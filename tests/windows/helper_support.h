#pragma once
// Small pieces shared by the Windows test helper programs: text conversion,
// environment variables, appending a line to a record file.

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace velmarch::test_helpers {

inline std::string to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

inline std::optional<std::wstring> environment_variable(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD written = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(written);
    return value;
}

inline std::filesystem::path own_directory() {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
    return std::filesystem::path(buffer).parent_path();
}

inline std::string current_directory() {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    buffer.resize(length);
    return to_utf8(buffer);
}

// Appends one line; a record that cannot be written fails the helper, so the
// test notices instead of reading a missing observation as "not called".
inline bool append_line(const std::filesystem::path& file, std::string_view line) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << line << '\n';
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace velmarch::test_helpers

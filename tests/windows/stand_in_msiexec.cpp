// A stand-in for Windows Installer. It records what it was given and exits
// with the code the test asks for, so that every installer exit code can be
// driven through the real updater.
//
// Environment:
//   VELMARCH_STAND_IN_RECORD           file that receives the record lines
//   VELMARCH_STAND_IN_EXPECTED_SHA256  digest the package after /i must have
//   VELMARCH_STAND_IN_EXIT_CODE        exit code, unsigned decimal (32 bits)
//
// Record lines: "command line: <raw command line>", "package: <path after /i>",
// "package directory exists: yes|no", then "digest ok" or "digest mismatch".

#include "helper_support.h"

#include <shellapi.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/owners.h"
#include "platform/win32/platform.h"
#include "trust/file_digest.h"

using namespace velmarch::test_helpers;

namespace {

// The package digest as the updater computes it.
std::optional<std::string> file_sha256(const std::filesystem::path& path) {
    velmarch::platform::win32::Win32Platform platform(velmarch::platform::win32::LinkCheck::off);
    auto digest = velmarch::trust::compute_file_sha256(platform, velmarch::platform::Path(path.native()));
    if (!digest) return std::nullopt;
    return *digest;
}

// The arguments as the Microsoft rules split them; LocalFree on scope exit.
std::vector<std::wstring> split_arguments(const wchar_t* line) {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(line, &count);
    const velmarch::platform::win32::UniqueLocalMemory owner(argv);
    std::vector<std::wstring> arguments;
    if (argv == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

}  // namespace

int wmain() {
    const auto record_path = environment_variable(L"VELMARCH_STAND_IN_RECORD");
    if (!record_path) return 1620;
    const std::filesystem::path record(*record_path);
    const wchar_t* line = GetCommandLineW();
    bool recorded = append_line(record, "command line: " + to_utf8(line));

    const std::vector<std::wstring> arguments = split_arguments(line);
    std::optional<std::filesystem::path> package;
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i)
        if (arguments[i] == L"/i") package = std::filesystem::path(arguments[i + 1]);
    if (package) {
        recorded = append_line(record, "package: " + to_utf8(package->wstring())) && recorded;
        std::error_code ignored;
        recorded = append_line(record, std::string("package directory exists: ") +
                                           (std::filesystem::is_directory(package->parent_path(), ignored)
                                                ? "yes"
                                                : "no")) &&
                   recorded;
        const auto expected = environment_variable(L"VELMARCH_STAND_IN_EXPECTED_SHA256");
        const auto actual = file_sha256(*package);
        const bool matches = expected && actual && to_utf8(*expected) == *actual;
        recorded = append_line(record, matches ? "digest ok" : "digest mismatch") && recorded;
    }
    if (!recorded) return 1621;

    const auto code_text = environment_variable(L"VELMARCH_STAND_IN_EXIT_CODE");
    const std::uint32_t code = code_text ? static_cast<std::uint32_t>(std::stoull(*code_text)) : 0;
    ExitProcess(code);
}

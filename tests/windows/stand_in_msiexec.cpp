// A stand-in for Windows Installer. It records what it was given and exits
// with the code the test asks for, so that every installer exit code can be
// driven through the real updater.
//
// Environment:
//   VELMARCH_STAND_IN_RECORD           file that receives the record lines
//   VELMARCH_STAND_IN_EXPECTED_SHA256  digest the package after /i must have
//   VELMARCH_STAND_IN_EXIT_CODE        exit code, unsigned decimal (32 bits)
//   VELMARCH_STAND_IN_BUSY_FILE        optional: a file holding how many runs
//                                      more answer 1618 (another installation
//                                      in progress); each such run counts it down
//
// Record lines: "command line: <raw command line>", "package: <path after /i>",
// "package directory exists: yes|no", then "digest ok" or "digest mismatch".
// Like Windows Installer it writes its log, in UTF-16 with a byte-order mark,
// to the file after /L*v: "stand-in run <n>, exit code <code>", n counting
// the lines the record holds for earlier runs.

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

// Another installation holds Windows Installer while the count lasts.
std::optional<std::uint32_t> busy_answer() {
    const auto busy_file = environment_variable(L"VELMARCH_STAND_IN_BUSY_FILE");
    if (!busy_file) return std::nullopt;
    std::uint32_t left = 0;
    {
        std::ifstream in{std::filesystem::path(*busy_file)};
        in >> left;
    }
    if (left == 0) return std::nullopt;
    std::ofstream out{std::filesystem::path(*busy_file), std::ios::trunc};
    out << (left - 1);
    return 1618u;
}

// The whole log at once, by name, as the installer writes it.
bool write_log(const std::filesystem::path& log, const std::wstring& text) {
    std::ofstream out(log, std::ios::binary | std::ios::trunc);
    out.write("\xFF\xFE", 2);
    for (const wchar_t c : text) {
        const char pair[2] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF)};
        out.write(pair, 2);
    }
    out.flush();
    return static_cast<bool>(out);
}

// Earlier runs of this stand-in that share the record.
int earlier_runs(const std::filesystem::path& record) {
    std::ifstream in(record, std::ios::binary);
    int runs = 0;
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("command line: ")) ++runs;
    return runs;
}

}  // namespace

int wmain() {
    const auto record_path = environment_variable(L"VELMARCH_STAND_IN_RECORD");
    if (!record_path) return 1620;
    const std::filesystem::path record(*record_path);
    const int run = earlier_runs(record) + 1;
    const wchar_t* line = GetCommandLineW();
    bool recorded = append_line(record, "command line: " + to_utf8(line));

    const std::vector<std::wstring> arguments = split_arguments(line);
    std::optional<std::filesystem::path> package;
    std::optional<std::filesystem::path> log;
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == L"/i") package = std::filesystem::path(arguments[i + 1]);
        if (arguments[i] == L"/L*v") log = std::filesystem::path(arguments[i + 1]);
    }
    if (package) {
        recorded = append_line(record, "package: " + to_utf8(package->wstring())) && recorded;
        std::error_code ignored;
        recorded =
            append_line(record, std::string("package directory exists: ") +
                                    (std::filesystem::is_directory(package->parent_path(), ignored) ? "yes" : "no")) &&
            recorded;
        const auto expected = environment_variable(L"VELMARCH_STAND_IN_EXPECTED_SHA256");
        const auto actual = file_sha256(*package);
        const bool matches = expected && actual && to_utf8(*expected) == *actual;
        recorded = append_line(record, matches ? "digest ok" : "digest mismatch") && recorded;
    }
    if (!recorded) return 1621;

    const auto code_text = environment_variable(L"VELMARCH_STAND_IN_EXIT_CODE");
    const std::uint32_t code =
        busy_answer().value_or(code_text ? static_cast<std::uint32_t>(std::stoull(*code_text)) : 0);
    if (log && !write_log(*log, L"stand-in run " + std::to_wstring(run) + L", exit code " +
                                    std::to_wstring(static_cast<std::int32_t>(code)) + L"\r\n"))
        return 1622;
    ExitProcess(code);
}

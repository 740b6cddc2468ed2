// The application that the test package installs.
//
//   test-app --verify-installed-version V
//       exits 0 exactly when V equals the content of version.txt next to the
//       executable (line ends ignored), 1 otherwise;
//   test-app --sleep-ms N --pid-file F
//       writes its own process id to F, then sleeps N milliseconds: the
//       previous application process an update waits for;
//   test-app (anything else)
//       a start through the shell.
// Every start appends a line to test-app.record next to the executable:
// "verify <V> in <current directory>", "sleep" or "started in <directory>".

#include <fstream>
#include <string>
#include <vector>

#include "helper_support.h"

using namespace velmarch::test_helpers;

namespace {

std::string installed_version() {
    std::ifstream in(own_directory() / "version.txt", std::ios::binary);
    std::string version;
    std::getline(in, version);
    while (!version.empty() && (version.back() == '\r' || version.back() == '\n')) version.pop_back();
    return version;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const auto record = own_directory() / "test-app.record";

    if (arguments.size() == 2 && arguments[0] == L"--verify-installed-version") {
        const std::string wanted = to_utf8(arguments[1]);
        if (!append_line(record, "verify " + wanted + " in " + current_directory())) return 3;
        return wanted == installed_version() ? 0 : 1;
    }
    if (arguments.size() == 4 && arguments[0] == L"--sleep-ms" && arguments[2] == L"--pid-file") {
        const DWORD milliseconds = static_cast<DWORD>(std::stoul(arguments[1]));
        {
            std::ofstream pid_file(std::filesystem::path(arguments[3]), std::ios::binary);
            pid_file << GetCurrentProcessId() << '\n';
        }
        Sleep(milliseconds);
        return 0;
    }
    // Appended piece by piece (GCC 12's false -Wrestrict on `" " + std::string` at -O3).
    std::string line = "started in ";
    line.append(current_directory());
    for (const auto& argument : arguments) line.append(" ").append(to_utf8(argument));
    return append_line(record, line) ? 0 : 3;
}

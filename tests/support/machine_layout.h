#pragma once
// The Windows computer the updater tests build: below "/" on the fake
// platform, below a temporary directory on the POSIX stand-in. One set of
// names, so that a path reads the same in a unit and an end-to-end test.
//
//   Windows/                        Windows directory (SystemRoot)
//   Windows/System32/msiexec.exe    Windows Installer
//   Windows/Temp/                   the protected temporary directory
//   Windows/explorer.exe            the shell
//   Program Files/Velmarch/Velmarch.exe   installed application
//   Downloads/velmarch-2.4.0.msi    downloaded package
//   Logs/                           installer log, helper log, result

#include <string>
#include <string_view>

#include "platform/path/path.h"
#include "platform/platform.h"
#include "support/test_paths.h"

namespace velmarch::testing {

// Test paths are written with forward slashes; on Windows they get the native
// separator, so that their text equals what the code under test joins.
inline platform::Path test_path(std::string_view slashed) {
    platform::NativeString text = platform::path_from_utf8(slashed).native();
    for (auto& c : text)
        if (c == platform::NativeString::value_type('/')) c = platform::kPathSeparator;
    return platform::Path(std::move(text));
}

// A directory list such as PATH, written with ':' between the entries.
inline platform::NativeString test_path_list(std::string_view slashed) {
    platform::NativeString list = test_path(slashed).native();
    for (auto& c : list)
        if (c == platform::NativeString::value_type(':')) c = platform::kPathListSeparator;
    return list;
}

inline std::string utf8(const platform::Path& path) { return platform::path_to_utf8(path); }

struct MachineLayout {
    using Path = platform::Path;

    // `decoration` is appended to the name of every directory the updater is
    // told about (not to System32 and Temp, which it finds itself).
    explicit MachineLayout(const Path& root, std::string_view decoration = "") {
        const auto name = [&](std::string_view base) {
            return platform::path_from_utf8(std::string(base) + std::string(decoration));
        };
        windows = root / name("Windows");
        system32 = windows / platform::path_from_utf8("System32");
        temp = windows / platform::path_from_utf8("Temp");
        installer = system32 / platform::path_from_utf8("msiexec.exe");
        shell = windows / platform::path_from_utf8("explorer.exe");
        install_dir = root / name("Program Files") / name("Velmarch");
        application = install_dir / platform::path_from_utf8("Velmarch.exe");
        downloads = root / name("Downloads");
        package = downloads / platform::path_from_utf8("velmarch-2.4.0.msi");
        logs = root / name("Logs");
        installer_log = logs / platform::path_from_utf8("msiexec.log");
        helper_log = logs / platform::path_from_utf8("helper.log");
        result = logs / platform::path_from_utf8("result.json");
    }

    Path windows, system32, temp, installer, shell;
    Path install_dir, application;
    Path downloads, package;
    Path logs, installer_log, helper_log, result;
};

}  // namespace velmarch::testing

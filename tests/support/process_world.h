#pragma once
// A small machine for the process tests: a Windows-like tree on the fake
// platform (Windows directory, msiexec, explorer, an installed application), a
// request that points into it and a reporter that also sees process starts.

#include <string>
#include <string_view>

#include "platform/paths.h"
#include "run/update_request.h"
#include "support/fake_platform.h"
#include "support/recording_reporter.h"

namespace velmarch::testing {

// Test paths are written with forward slashes; on Windows they get the native
// separator, so that their text equals what the code under test joins.
inline platform::Path test_path(std::string_view slashed) {
    platform::Path path = platform::path_from_utf8(slashed);
    return path.make_preferred();
}

// A directory list such as PATH, written with ':' between the entries.
inline platform::NativeString test_path_list(std::string_view slashed) {
    platform::NativeString list = test_path(slashed).native();
    for (auto& c : list)
        if (c == platform::NativeString::value_type(':')) c = platform::kPathListSeparator;
    return list;
}

inline std::string utf8(const platform::Path& path) { return platform::path_to_utf8(path); }

struct ProcessWorld {
    using Path = platform::Path;

    ProcessWorld() {
        fake.own_directory = test_path("/updater");
        fake.system_dir = test_path("/sysroot/System32");
        fake.windows_dir = test_path("/sysroot");
        fake.add_file(msiexec, "");
        fake.add_file(explorer, "");
        fake.add_file(app, "");
        fake.add_file(staged_package, "msi");
        fake.add_directory(test_path("/logs"));

        request.parent_process_id = 4321;
        request.msi_path = test_path("/downloads/velmarch-2.4.0.msi");
        request.install_dir = install_dir;
        request.app_path = app;
        request.msi_log_path = test_path("/logs/msi install.log");
        request.helper_log_path = test_path("/logs/helper.log");
        request.result_path = test_path("/logs/result.json");
        request.expected_version = "2.4.0";
        reporter.watch_processes(fake);
    }

    const Path msiexec = test_path("/sysroot/System32/msiexec.exe");
    const Path explorer = test_path("/sysroot/explorer.exe");
    const Path install_dir = test_path("/apps/Velmarch");
    const Path app = test_path("/apps/Velmarch/Velmarch.exe");
    const Path staged_package = test_path("/sysroot/Temp/VelmarchUpdate-5120-000102/velmarch-update.msi");

    FakePlatform fake;
    RecordingReporter reporter;
    UpdateRequest request;
};

}  // namespace velmarch::testing

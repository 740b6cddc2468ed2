#pragma once
// A small machine for the process tests: a Windows-like tree on the fake
// platform (SystemRoot, msiexec, explorer, an installed application), a
// request that points into it and a reporter that also sees process starts.

#include "run/update_request.h"
#include "support/fake_platform.h"
#include "support/recording_reporter.h"

namespace velmarch::testing {

struct ProcessWorld {
    using Path = platform::Path;

    ProcessWorld() {
        fake.environment["SystemRoot"] = "/sysroot";
        fake.own_directory = Path("/updater");
        fake.system_dir = Path("/sysroot/System32");
        fake.windows_dir = Path("/sysroot");
        fake.add_file(msiexec, "");
        fake.add_file(explorer, "");
        fake.add_file(app, "");
        fake.add_file(staged_package, "msi");
        fake.add_directory("/logs");

        request.parent_process_id = 4321;
        request.msi_path = Path("/downloads/velmarch-2.4.0.msi");
        request.install_dir = install_dir;
        request.app_path = app;
        request.msi_log_path = Path("/logs/msi install.log");
        request.helper_log_path = Path("/logs/helper.log");
        request.result_path = Path("/logs/result.json");
        request.expected_version = "2.4.0";
        reporter.watch_processes(fake);
    }

    const Path msiexec{"/sysroot/System32/msiexec.exe"};
    const Path explorer{"/sysroot/explorer.exe"};
    const Path install_dir{"/apps/Velmarch"};
    const Path app{"/apps/Velmarch/Velmarch.exe"};
    const Path staged_package{"/sysroot/Temp/VelmarchUpdate-5120-000102/velmarch-update.msi"};

    FakePlatform fake;
    RecordingReporter reporter;
    UpdateRequest request;
};

}  // namespace velmarch::testing

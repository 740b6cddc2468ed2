#pragma once
// A small machine for the process tests: the test machine's layout on the fake
// platform (Windows directory, msiexec, explorer, an installed application), a
// request that points into it and a reporter that also sees process starts.

#include <string>
#include <string_view>

#include "platform/path/path.h"
#include "run/update_request.h"
#include "support/fake_platform.h"
#include "support/machine_layout.h"
#include "support/recording_reporter.h"
#include "support/staging_names.h"

namespace velmarch::testing {

struct ProcessWorld {
    using Path = platform::Path;

    ProcessWorld() {
        fake.system_dir = machine.system32;
        fake.windows_dir = machine.windows;
        fake.add_file(msiexec, "");
        fake.add_file(explorer, "");
        fake.add_file(app, "");
        fake.add_file(staged_package, "msi");
        fake.add_directory(machine.logs);

        request.parent_process_id = 4321;
        request.msi_path = machine.package;
        request.install_dir = install_dir;
        request.app_path = app;
        request.msi_log_path = machine.logs / as_path("msi install.log");
        request.helper_log_path = machine.helper_log;
        request.result_path = machine.result;
        request.expected_version = "2.4.0";
        reporter.watch_processes(fake);
    }

    const MachineLayout machine{test_path("/")};
    const Path msiexec = machine.installer;
    const Path explorer = machine.shell;
    const Path install_dir = machine.install_dir;
    const Path app = machine.application;
    const Path staging_dir = machine.temp / as_path(staging_name(5120));
    const Path staged_package = staging_dir / as_path(kStagedPackage);
    const Path staged_log = staging_dir / as_path(kStagedLog);

    FakePlatform fake;
    RecordingReporter reporter;
    run::UpdateRequest request;
};

}  // namespace velmarch::testing

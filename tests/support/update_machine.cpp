#include "support/update_machine.h"

#include "support/machine_layout.h"
#include "support/test_signing.h"

namespace velmarch::testing {
namespace {

const MachineLayout& machine() {
    static const MachineLayout layout{test_path("/")};
    return layout;
}

std::string text(const platform::Path& path) { return generic_utf8(path); }

}  // namespace

void set_up_update_machine(FakePlatform& platform, std::string_view package) {
    platform.windows_dir = machine().windows;
    platform.system_dir = machine().system32;
    platform.add_directory(machine().temp);
    platform.add_file(machine().installer, "installer");
    platform.add_file(machine().shell, "shell");
    platform.add_file(machine().application, "app");
    platform.add_file(machine().package, package);
    platform.add_file(machine().result, kEarlierResult);
}

std::vector<std::string> update_arguments(std::string_view package) {
    run::UpdateRequest signed_request;
    sign_request(signed_request, package);
    return {"--parent-process-id",
            "77",
            "--msi-path",
            text(machine().package),
            "--install-dir",
            text(machine().install_dir),
            "--app-path",
            text(machine().application),
            "--msi-log-path",
            text(machine().installer_log),
            "--helper-log-path",
            text(machine().helper_log),
            "--result-path",
            text(machine().result),
            "--expected-sha256",
            signed_request.expected_sha256,
            "--expected-version",
            "2.4.0",
            "--signature",
            signed_request.signature,
            "--key-id",
            "velmarch-update-2026-01",
            "--signature-algorithm",
            "Ed25519"};
}

}  // namespace velmarch::testing

#include "support/update_machine.h"

#include "support/test_signing.h"

namespace velmarch::testing {

void set_up_update_machine(FakePlatform& platform, std::string_view package) {
    platform.windows_dir = "/win";
    platform.system_dir = "/win/System32";
    platform.add_directory("/win/Temp");
    platform.add_file("/win/System32/msiexec.exe", "installer");
    platform.add_file("/win/explorer.exe", "shell");
    platform.add_file("/apps/Velmarch/velmarch.exe", "app");
    platform.add_file("/dl/update.msi", package);
    platform.add_file("/logs/result.json", kEarlierResult);
}

std::vector<std::string> update_arguments(std::string_view package) {
    UpdateRequest signed_request;
    sign_request(signed_request, package);
    return {"--parent-process-id", "77",
            "--msi-path",          "/dl/update.msi",
            "--install-dir",       "/apps/Velmarch",
            "--app-path",          "/apps/Velmarch/velmarch.exe",
            "--msi-log-path",      "/logs/msi.log",
            "--helper-log-path",   "/logs/helper.log",
            "--result-path",       "/logs/result.json",
            "--expected-sha256",   signed_request.expected_sha256,
            "--expected-version",  "2.4.0",
            "--signature",         signed_request.signature,
            "--key-id",            "velmarch-update-2026-01",
            "--signature-algorithm", "Ed25519"};
}

}  // namespace velmarch::testing

#include "run/stage_inputs.h"

namespace velmarch::run {

trust::PackageClaim package_claim(const UpdateRequest& request) {
    return {request.expected_sha256, request.expected_version, request.signature, request.key_id,
            request.signature_algorithm};
}

process::InstallerInputs installer_inputs(const UpdateRequest& request) {
    return {request.install_dir, request.app_path, request.msi_log_path, request.expected_version, request.repair_mode};
}

}  // namespace velmarch::run

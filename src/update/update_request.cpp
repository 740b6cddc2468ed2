#include "update/update_request.h"

namespace velmarch::update {

trust::PackageClaim package_claim(const UpdateRequest& request) {
    return {request.expected_sha256, request.expected_version, request.signature, request.key_id,
            request.signature_algorithm};
}

}  // namespace velmarch::update

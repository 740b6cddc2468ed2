#pragma once
// What each stage reads of the run's request: the package check and the
// staging its claim about the package, the installer stage its inputs.

#include "process/installer_command.h"
#include "trust/package_claim.h"
#include "update/update_request.h"

namespace velmarch::run {

// The request's claim about the package it names.
trust::PackageClaim package_claim(const update::UpdateRequest& request);

// The fields of the request that the installer stage reads.
process::InstallerInputs installer_inputs(const update::UpdateRequest& request);

}  // namespace velmarch::run

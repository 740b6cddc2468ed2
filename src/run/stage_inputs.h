#pragma once
// What each stage reads of the run's request: the package check and the
// staging its claim about the package, the installer stage its inputs.

#include "process/installer_command.h"
#include "run/update_request.h"
#include "trust/package_claim.h"

namespace velmarch::run {

// The request's claim about the package it names.
trust::PackageClaim package_claim(const UpdateRequest& request);

// The fields of the request that the installer stage reads.
process::InstallerInputs installer_inputs(const UpdateRequest& request);

}  // namespace velmarch::run

#pragma once
// A run that ends before its outcome can be recorded: nothing more is logged
// or written, the message goes to standard error and the process exits with
// kInstallFailureExitCode (1603).

#include <expected>
#include <string>
#include <utility>

#include "text/result.h"

namespace velmarch::update {

struct RunAborted {
    std::string message;
    // The kind of the failure that ended the run (a refused link stays
    // ErrorKind::untrusted_link however much context its message gained).
    ErrorKind kind = ErrorKind::general;
};

inline std::unexpected<RunAborted> abort_run(Error cause) {
    return std::unexpected(RunAborted{std::move(cause.text), cause.kind});
}

}  // namespace velmarch::update

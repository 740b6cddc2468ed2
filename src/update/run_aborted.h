#pragma once
// A run that ends before its outcome can be recorded: nothing more is logged
// or written, the message goes to standard error and the process exits with
// kInstallFailureExitCode (1603).

#include <expected>
#include <string>
#include <utility>

namespace velmarch::update {

struct RunAborted {
    std::string message;
};

inline std::unexpected<RunAborted> abort_run(std::string message) {
    return std::unexpected(RunAborted{std::move(message)});
}

}  // namespace velmarch::update

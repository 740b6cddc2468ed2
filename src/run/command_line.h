#pragma once
#include <string>
#include <vector>

#include "run/update_request.h"
#include "text/result.h"

namespace velmarch::run {

// Turns the arguments after the program name into the run's request, or the
// one message that ends the run before anything is written.
[[nodiscard]] Result<UpdateRequest> parse_command_line(const std::vector<std::string>& arguments);

}  // namespace velmarch::run

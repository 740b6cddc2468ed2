#pragma once
// The tool's commands. Each prints its result on standard output and returns
// the process exit code, or an error sentence for bad input.

#include <iosfwd>
#include <span>
#include <string_view>

#include "result.h"

namespace velmarch::sign_tool {

inline constexpr int kExitVerified = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitBadInput = 2;

using Arguments = std::span<const std::string_view>;

[[nodiscard]] Result<int> run_keygen(Arguments arguments, std::ostream& out);
[[nodiscard]] Result<int> run_public_key(Arguments arguments, std::ostream& out);
[[nodiscard]] Result<int> run_sign(Arguments arguments, std::ostream& out);
[[nodiscard]] Result<int> run_verify(Arguments arguments, std::ostream& out);

}  // namespace velmarch::sign_tool

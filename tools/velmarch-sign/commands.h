#pragma once
// The tool's commands. Each prints its result on standard output and returns
// the process exit code, or an error sentence for bad input; `verify` also
// writes the reason for a refusal to standard error.

#include <iosfwd>
#include <span>
#include <string_view>

#include "text/result.h"

namespace velmarch::sign_tool {

inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitBadInput = 2;

using Arguments = std::span<const std::string_view>;

struct Streams {
    std::ostream& out;
    std::ostream& err;
};

[[nodiscard]] Result<int> run_keygen(Arguments arguments, const Streams& streams);
[[nodiscard]] Result<int> run_public_key(Arguments arguments, const Streams& streams);
[[nodiscard]] Result<int> run_sign(Arguments arguments, const Streams& streams);
[[nodiscard]] Result<int> run_verify(Arguments arguments, const Streams& streams);

}  // namespace velmarch::sign_tool

#pragma once
// The project's error vocabulary. Every fallible operation returns either its
// value or one complete English sentence saying what failed; nothing is
// thrown across modules.

#include <expected>
#include <string>

namespace velmarch {

template <class T>
using Result = std::expected<T, std::string>;

}  // namespace velmarch

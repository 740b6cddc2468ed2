#pragma once
// The update signer's public key compiled into this program: 64 lower-case
// hexadecimal digits, CR, LF. Each program is built with its own copy
// (velmarch_embed_update_key in CMake): the shipped updater with the
// publisher's key, the test programs with the development key whose private
// half signs their packages.

#include <string_view>

namespace velmarch::trust {

[[nodiscard]] std::string_view embedded_update_public_key();

}  // namespace velmarch::trust

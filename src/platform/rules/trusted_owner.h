#pragma once
// Whose links an elevated run follows. Only the system's own accounts can be
// trusted: anyone else who could plant a link could point it anywhere.

#include <cstdint>
#include <string_view>

namespace velmarch::platform {

// Windows: the owner's security identifier in its string form ("S-1-5-18").
// Trusted are the built-in Administrators group, LocalSystem and the
// TrustedInstaller service.
bool is_trusted_windows_owner(std::string_view sid);

// The stand-in: root only.
bool is_trusted_posix_owner(std::uint32_t uid);

}  // namespace velmarch::platform

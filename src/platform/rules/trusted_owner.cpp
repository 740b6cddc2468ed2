#include "platform/rules/trusted_owner.h"

#include <array>

namespace velmarch::platform {

bool is_trusted_windows_owner(std::string_view sid) {
    static constexpr std::array<std::string_view, 3> kTrusted{
        "S-1-5-32-544",                                                    // BUILTIN\Administrators
        "S-1-5-18",                                                        // NT AUTHORITY\SYSTEM
        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // NT SERVICE\TrustedInstaller
    };
    for (std::string_view trusted : kTrusted)
        if (sid == trusted) return true;
    return false;
}

bool is_trusted_posix_owner(std::uint32_t uid) { return uid == 0; }

}  // namespace velmarch::platform

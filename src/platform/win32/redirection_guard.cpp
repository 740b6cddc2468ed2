#include "platform/win32/redirection_guard.h"

#include "platform/win32/owners.h"
#include "platform/win32/windows_api.h"

namespace velmarch::platform::win32 {

bool enable_redirection_guard() {
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    if (!::SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof policy)) return false;
    // A system that accepts the call without knowing the policy must not
    // switch the run's own checks off: read it back.
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY in_force{};
    if (!::GetProcessMitigationPolicy(::GetCurrentProcess(), ProcessRedirectionTrustPolicy, &in_force, sizeof in_force))
        return false;
    return in_force.EnforceRedirectionTrust != 0;
}

bool process_is_elevated() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return true;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return true;
    return elevation.TokenIsElevated != 0;
}

}  // namespace velmarch::platform::win32

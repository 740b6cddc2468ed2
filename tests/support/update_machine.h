#pragma once
// The machine most run tests start from, on the fake platform: the Windows
// directory /win with its Temp folder, Windows Installer and the shell, an installed
// application in /apps/Velmarch, a downloaded package /dl/update.msi, and a
// result file left by an earlier run in /logs.

#include <string>
#include <string_view>
#include <vector>

#include "support/fake_platform.h"

namespace velmarch::testing {

inline constexpr std::string_view kEarlierResult = R"({"status":"success"})";

void set_up_update_machine(FakePlatform& platform, std::string_view package);

// All thirteen options but --repair-mode, for a package with `package`
// content signed with the development key, version 2.4.0, parent process 77.
std::vector<std::string> update_arguments(std::string_view package);

}  // namespace velmarch::testing

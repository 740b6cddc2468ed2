#pragma once
// The machine most run tests start from: the test machine's layout (see
// machine_layout.h) below "/" on the fake platform, with the Windows
// directory's Temp folder, Windows Installer, the shell, the installed
// application, a downloaded package and a result file left by an earlier run.

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

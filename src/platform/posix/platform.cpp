#include "platform/posix/platform.h"

#include <unistd.h>

namespace velmarch::platform {

std::unique_ptr<Platform> make_native_platform(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return std::make_unique<posix::PosixPlatform>(std::move(arguments), ::geteuid() == 0);
}

namespace posix {

PosixPlatform::PosixPlatform(std::vector<std::string> arguments, bool guard_links, RaceWindow race_window)
    : arguments_(std::move(arguments)), guard_links_(guard_links), race_window_(std::move(race_window)) {}

}  // namespace posix
}  // namespace velmarch::platform

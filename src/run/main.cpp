#include "platform/platform.h"
#include "run/run_update.h"

int main(int argc, char** argv) {
    auto platform = velmarch::platform::make_native_platform(argc, argv);
    return velmarch::run::run_updater_process(*platform);
}

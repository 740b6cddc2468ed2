// Computes the package digest of one file exactly as the updater does, so
// bench/run can time it against a reference tool.

#include <cstdio>
#include <string>

#include "platform/path/path.h"
#include "platform/platform.h"
#include "trust/file_digest.h"

int main(int argc, char** argv) {
    auto platform = velmarch::platform::make_native_platform(argc, argv);
    auto arguments = platform->arguments();
    if (!arguments) {
        platform->write_standard_error(arguments.error().text + "\n");
        return 2;
    }
    if (arguments->size() != 1) {
        platform->write_standard_error("usage: velmarch-digest-bench FILE\n");
        return 2;
    }

    const auto path = velmarch::platform::path_from_utf8(arguments->front());
    auto digest = velmarch::trust::compute_file_sha256(*platform, path);
    if (!digest) {
        platform->write_standard_error(digest.error().text + "\n");
        return 1;
    }
    std::printf("%s  %s\n", digest->c_str(), arguments->front().c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

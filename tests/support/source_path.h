#pragma once
// Files of the source tree that tests read (test vectors, the development
// key). VELMARCH_TEST_SOURCE_DIR, when set, names another folder laid out the
// same way: the Windows test kit carries those files next to the test
// executable, on a machine that has no source tree.

#include <cstdlib>
#include <string>
#include <string_view>

namespace velmarch::testing {

inline std::string source_path(std::string_view relative) {
    const char* root = std::getenv("VELMARCH_TEST_SOURCE_DIR");
    std::string path = root != nullptr && *root != '\0' ? root : VELMARCH_SOURCE_DIR;
    path += '/';
    path += relative;
    return path;
}

}  // namespace velmarch::testing

#pragma once
// What the publisher claims about a package: its digest and the signed
// metadata that vouches for it.

#include <string>

namespace velmarch::trust {

struct PackageClaim {
    std::string expected_sha256;  // trimmed, ASCII letters lower-cased
    std::string version;
    std::string signature;
    std::string key_id;
    std::string signature_algorithm;
};

}  // namespace velmarch::trust

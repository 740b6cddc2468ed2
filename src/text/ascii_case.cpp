#include "text/ascii_case.h"

#include <algorithm>

namespace velmarch::text {

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ascii_lower<char>);
    return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

}  // namespace velmarch::text

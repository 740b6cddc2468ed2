// Compiled (never linked) by the test suite in three forms: as it stands a
// pattern whose "{}" count matches its arguments, which must compile; with
// one placeholder too many or too few, which must not.

#include <string>

#include "text/format.h"

std::string formatted(int value) {
#if defined(VELMARCH_ONE_PLACEHOLDER_TOO_MANY)
    return velmarch::text::format("{} of {}", value);
#elif defined(VELMARCH_ONE_PLACEHOLDER_TOO_FEW)
    return velmarch::text::format("{} of", value, value);
#else
    return velmarch::text::format("{} of {}", value, value);
#endif
}

#pragma once
// What one check of the kit found: passed, failed, or not possible on this
// system (skipped, with the reason).

#include <string>
#include <utility>
#include <vector>

namespace velmarch::kit {

enum class Verdict { passed, failed, skipped };

struct CheckOutcome {
    Verdict verdict;
    std::string detail;
};

inline CheckOutcome passed(std::string detail) { return {Verdict::passed, std::move(detail)}; }
inline CheckOutcome failed(std::string detail) { return {Verdict::failed, std::move(detail)}; }
inline CheckOutcome skipped(std::string reason) { return {Verdict::skipped, std::move(reason)}; }

// The problems a check found, as one detail.
inline std::string join(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

// What the checks put in a file only administrators may change, to see that
// no elevated run wrote there.
inline constexpr char kProtectedContent[] = "Only administrators may change this file.\r\n";

}  // namespace velmarch::kit

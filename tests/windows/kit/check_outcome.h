#pragma once
// What one check of the kit found: passed, failed, or not possible on this
// system (skipped, with the reason).

#include <string>
#include <utility>

namespace velmarch::kit {

enum class Verdict { passed, failed, skipped };

struct CheckOutcome {
    Verdict verdict;
    std::string detail;
};

inline CheckOutcome passed(std::string detail) { return {Verdict::passed, std::move(detail)}; }
inline CheckOutcome failed(std::string detail) { return {Verdict::failed, std::move(detail)}; }
inline CheckOutcome skipped(std::string reason) { return {Verdict::skipped, std::move(reason)}; }

}  // namespace velmarch::kit

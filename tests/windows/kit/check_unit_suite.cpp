#include <sstream>
#include <string>
#include <vector>

#include "checks.h"
#include "kit_process.h"

namespace velmarch::kit {

using test_helpers::to_utf8;

namespace {

struct SuiteCounts {
    std::optional<long> passed;
    long failed = 0;
    long skipped = 0;
    std::vector<std::string> failed_names;
    std::vector<std::string> skipped_names;
};

// The number after a GoogleTest summary tag such as "[  PASSED  ] 246 tests.";
// nothing when the tag is followed by a test name.
std::optional<long> count_after(const std::string& line, std::string_view tag) {
    if (!line.starts_with(tag)) return std::nullopt;
    const std::string rest = line.substr(tag.size());
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || rest.compare(digits, 5, " test") != 0) return std::nullopt;
    return std::stol(rest.substr(0, digits));
}

SuiteCounts read_counts(const std::string& output) {
    SuiteCounts counts;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (const auto n = count_after(line, "[  PASSED  ] ")) {
            counts.passed = n;
        } else if (const auto failed_count = count_after(line, "[  FAILED  ] ")) {
            counts.failed = *failed_count;
        } else if (const auto skipped_count = count_after(line, "[  SKIPPED ] ")) {
            counts.skipped = *skipped_count;
        } else if (counts.passed && line.starts_with("[  FAILED  ] ")) {
            counts.failed_names.push_back(line.substr(13));
        } else if (counts.passed && line.starts_with("[  SKIPPED ] ")) {
            counts.skipped_names.push_back(line.substr(13));
        }
    }
    return counts;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? text : " (" + text + ")";
}

}  // namespace

CheckOutcome check_unit_suite(const Kit& kit) {
    const auto log = kit.work / L"unit-tests.log";
    // The tests read their vectors and the development key from the kit.
    SetEnvironmentVariableW(L"VELMARCH_TEST_SOURCE_DIR", kit.test_data.c_str());
    auto started = start_process(kit.unit_tests, {}, log, log);
    if (!started) return failed(started.error().text);
    auto code = finish_within(*started, 900000, "the unit tests");
    if (!code) return failed(code.error().text);
    const auto counts = read_counts(read_text(log).value_or(""));
    const std::string where = "; output in " + to_utf8(log.native());
    if (!counts.passed) return failed("the unit tests ended with " + std::to_string(*code) + " and no summary" + where);
    const std::string summary = std::to_string(*counts.passed) + " tests passed, " + std::to_string(counts.failed) +
                                " failed" + listed(counts.failed_names) + ", " + std::to_string(counts.skipped) +
                                " skipped" + listed(counts.skipped_names);
    if (*code != 0 || counts.failed != 0) return failed(summary + ", exit code " + std::to_string(*code) + where);
    return passed(summary);
}

}  // namespace velmarch::kit

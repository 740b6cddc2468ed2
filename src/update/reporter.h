#pragma once
// What a run reports to the application, as every stage sees it: one
// time-stamped helper-log line per event and, once, the result file.

#include <cstdint>
#include <string_view>

#include "update/result_status.h"

namespace velmarch::update {

class Reporter {
public:
    virtual ~Reporter() = default;
    // Appends "[<unix seconds>] <message>\n"; never fails visibly.
    virtual void append_log_line(std::string_view message) = 0;
    // Writes the whole result file, adding the expected version; never fails visibly.
    virtual void write_result(ResultStatus status, std::int32_t exit_code, std::string_view message) = 0;
};

}  // namespace velmarch::update

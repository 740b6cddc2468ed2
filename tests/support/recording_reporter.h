#pragma once
// A Reporter that keeps every log line and result in one ordered list of
// events, so that tests can check what was reported and in which order.
// `watch_processes` adds the platform's process starts to the same list.

#include <string>
#include <vector>

#include "support/fake_platform.h"
#include "text/format.h"
#include "text/utf.h"
#include "update/reporter.h"

namespace velmarch::testing {

struct RecordedResult {
    update::ResultStatus status;
    std::int32_t exit_code;
    std::string message;
};

class RecordingReporter : public update::Reporter {
public:
    void append_log_line(std::string_view message) override {
        log.emplace_back(message);
        events.push_back("log: " + std::string(message));
    }
    void write_result(update::ResultStatus status, std::int32_t exit_code, std::string_view message) override {
        results.push_back({status, exit_code, std::string(message)});
        events.push_back(text::format("result: {} {} {}", update::result_status_word(status), exit_code, message));
    }

    // Every run_and_wait ("run: ") and start_detached ("start: ") of the fake,
    // with the composed command line, as it is requested.
    void watch_processes(FakePlatform& fake) {
        fake.before_call = [this, &fake](Op op, int) {
            if (op == Op::run_and_wait)
                events.push_back("run: " + text::utf16_to_utf8_lossy(fake.runs.back().command_line));
            if (op == Op::start_detached)
                events.push_back("start: " + text::utf16_to_utf8_lossy(fake.detached.back().command_line));
        };
    }

    std::vector<std::string> log;
    std::vector<RecordedResult> results;
    std::vector<std::string> events;
};

}  // namespace velmarch::testing

#pragma once
// The two reports a run leaves for the application: the helper log (one
// time-stamped line per event) and the result file (the outcome as JSON).

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "update/reporter.h"

namespace velmarch::run {

// The reporting context of a run: private copies of the helper log path, the
// result path and the expected version, written through the platform.
class FileReporter final : public update::Reporter {
public:
    FileReporter(platform::Platform& platform, platform::Path helper_log_path, platform::Path result_path,
                 std::string expected_version);

    void append_log_line(std::string_view message) override;
    void write_result(update::ResultStatus status, std::int32_t exit_code, std::string_view message) override;

private:
    platform::Platform& platform_;
    platform::Path helper_log_path_;
    platform::Path result_path_;
    std::string expected_version_;
};

// Creates every missing directory above the log, then creates or empties it.
[[nodiscard]] Result<void> prepare_helper_log(platform::Platform& platform, const platform::Path& helper_log_path);

// Deletes an earlier result file; every failure is ignored.
void remove_result_file(platform::Platform& platform, const platform::Path& result_path);

// "[{}] {}\n" with the seconds and the message.
std::string compose_log_line(std::uint64_t unix_seconds, std::string_view message);

}  // namespace velmarch::run

#include "run/reporting.h"

#include "run/result_json.h"
#include "text/format.h"

namespace velmarch::run {
namespace {

std::span<const std::byte> bytes_of(std::string_view text) {
    return std::as_bytes(std::span<const char>(text.data(), text.size()));
}

}  // namespace

std::string compose_log_line(std::uint64_t unix_seconds, std::string_view message) {
    return text::format("[{}] {}\n", unix_seconds, message);
}

FileReporter::FileReporter(platform::Platform& platform, platform::Path helper_log_path, platform::Path result_path,
                           std::string expected_version)
    : platform_(platform),
      helper_log_path_(std::move(helper_log_path)),
      result_path_(std::move(result_path)),
      expected_version_(std::move(expected_version)) {}

void FileReporter::append_log_line(std::string_view message) {
    const std::string line = compose_log_line(platform_.unix_time_seconds(), message);
    // A log line that cannot be written is dropped: the run goes on.
    (void)platform_.append_to_file(helper_log_path_, bytes_of(line));
}

void FileReporter::write_result(update::ResultStatus status, std::int32_t exit_code, std::string_view message) {
    const std::string json = compose_result_json(status, exit_code, message, expected_version_);
    (void)platform_.write_file(result_path_, bytes_of(json));
}

Result<void> prepare_helper_log(platform::Platform& platform, const platform::Path& helper_log_path) {
    const platform::Path parent = helper_log_path.parent_path();
    if (!parent.empty()) {
        if (auto created = platform.create_directories(parent); !created) return created;
    }
    return platform.write_file(helper_log_path, {});
}

void remove_result_file(platform::Platform& platform, const platform::Path& result_path) {
    (void)platform.delete_file(result_path);
}

}  // namespace velmarch::run

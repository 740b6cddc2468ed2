#pragma once
// The parsed options of one run, and the one list of its options: a new option
// is a field here and a row below (the parser, the making of whole paths, the
// command-line fuzzer's model and the README's option table follow the rows).

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/path/path.h"

namespace velmarch::run {

struct UpdateRequest {
    std::uint32_t parent_process_id = 0;
    platform::Path msi_path;
    platform::Path install_dir;
    platform::Path app_path;
    platform::Path msi_log_path;
    platform::Path helper_log_path;
    platform::Path result_path;
    std::string expected_sha256;  // trimmed, ASCII letters lower-cased
    std::string expected_version;
    std::string signature;
    std::string key_id;
    std::string signature_algorithm;
    bool repair_mode = false;
};

// Every option is named on the command line after "--" and, apart from
// repair-mode, required; the parser asks for them in this order: the parent
// process id, the paths, then the texts.
inline constexpr std::string_view kParentProcessIdOption = "parent-process-id";
inline constexpr std::string_view kRepairModeOption = "repair-mode";

// A caller-named path: the field it fills, whether the run makes it whole
// before it touches any file (request_paths.h), and whether an elevated run
// walks it, one component at a time, whenever it acts on it (a link an
// ordinary user could have made, or a remote volume, refused on the way).
struct PathOption {
    std::string_view name;
    platform::Path UpdateRequest::*field;
    bool made_whole;
    bool walked_when_elevated;
};

inline constexpr PathOption kPathOptions[] = {
    {"msi-path", &UpdateRequest::msi_path, true, true},
    {"install-dir", &UpdateRequest::install_dir, true, true},
    {"app-path", &UpdateRequest::app_path, true, true},
    {"msi-log-path", &UpdateRequest::msi_log_path, true, true},
    {"helper-log-path", &UpdateRequest::helper_log_path, true, true},
    {"result-path", &UpdateRequest::result_path, true, true},
};

// A text, stored trimmed; with ASCII letters lower-cased where it says so.
struct TextOption {
    std::string_view name;
    std::string UpdateRequest::*field;
    bool lower_cased;
};

inline constexpr TextOption kTextOptions[] = {
    {"expected-sha256", &UpdateRequest::expected_sha256, true},
    {"expected-version", &UpdateRequest::expected_version, false},
    {"signature", &UpdateRequest::signature, false},
    {"key-id", &UpdateRequest::key_id, false},
    {"signature-algorithm", &UpdateRequest::signature_algorithm, false},
};

}  // namespace velmarch::run

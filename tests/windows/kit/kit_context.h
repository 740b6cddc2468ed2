#pragma once
// The kit's own files (found next to the runner), the sample package's
// signature options, and one update case's folder of paths.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/result.h"

namespace velmarch::kit {

// The five options velmarch-sign printed for the sample package, one
// "--name value" per line, in the kit's sample\signature.txt.
struct SignatureOptions {
    std::vector<std::pair<std::wstring, std::wstring>> options;
    std::string version;
    std::string sha256;
};

[[nodiscard]] Result<SignatureOptions> parse_signature_options(std::string_view text);

struct Kit {
    std::filesystem::path directory;
    std::filesystem::path updater;
    std::filesystem::path unit_tests;
    std::filesystem::path test_app;
    std::filesystem::path sample_package;
    std::filesystem::path test_data;
    SignatureOptions signature;
    std::filesystem::path work;
};

// Checks that every file of the kit is in place under `directory`.
[[nodiscard]] Result<Kit> load_kit(const std::filesystem::path& directory, const std::filesystem::path& work);

// Where one updater run reads and writes, under <work>\<name>.
struct UpdateCase {
    std::filesystem::path root;
    std::filesystem::path downloaded;
    std::wstring install_dir;
    std::filesystem::path app;
    std::filesystem::path msi_log;
    std::filesystem::path helper_log;
    std::filesystem::path result;
    std::filesystem::path standard_error;
};

// Makes the case's Downloads and Logs folders and copies the sample package
// into Downloads.
[[nodiscard]] Result<UpdateCase> prepare_case(const Kit& kit, const std::wstring& name);

// The updater's full option list for a case.
std::vector<std::wstring> updater_arguments(const Kit& kit, const UpdateCase& update, unsigned long parent_process_id);

std::wstring widen(std::string_view utf8);

std::optional<std::string> read_text(const std::filesystem::path& path);
bool write_text(const std::filesystem::path& path, std::string_view text);

// The result file a successful run writes.
std::string success_result(const std::string& version);

}  // namespace velmarch::kit

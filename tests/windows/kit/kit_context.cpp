#include "kit_context.h"

#include <array>
#include <fstream>
#include <sstream>

#include "../helper_support.h"

namespace velmarch::kit {

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

namespace {

constexpr std::array<std::string_view, 5> kSignatureOptions = {"--expected-sha256", "--expected-version", "--signature",
                                                               "--key-id", "--signature-algorithm"};

}  // namespace

Result<SignatureOptions> parse_signature_options(std::string_view text) {
    SignatureOptions parsed;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto blank = line.find(' ');
        if (blank == std::string::npos) return fail(ErrorKind::general, "a line without a value: " + line);
        const std::string name = line.substr(0, blank);
        const std::string value = line.substr(blank + 1);
        bool known = false;
        for (const auto option : kSignatureOptions) known = known || option == name;
        if (!known) return fail(ErrorKind::general, "an unknown option: " + name);
        for (const auto& [seen, ignored] : parsed.options)
            if (seen == widen(name)) return fail(ErrorKind::general, "a repeated option: " + name);
        if (name == "--expected-version") parsed.version = value;
        if (name == "--expected-sha256") parsed.sha256 = value;
        parsed.options.emplace_back(widen(name), widen(value));
    }
    if (parsed.options.size() != kSignatureOptions.size())
        return fail(ErrorKind::general, "five options are needed, found " + std::to_string(parsed.options.size()));
    return parsed;
}

Result<Kit> load_kit(const std::filesystem::path& directory, const std::filesystem::path& work) {
    Kit kit;
    kit.directory = directory;
    kit.updater = directory / L"velmarch-updater.exe";
    kit.unit_tests = directory / L"velmarch_unit_tests.exe";
    kit.test_app = directory / L"helpers" / L"test-app.exe";
    kit.sample_package = directory / L"sample" / L"velmarch-sample.msi";
    kit.test_data = directory / L"test-data";
    kit.work = work;
    for (const auto& file : {kit.updater, kit.unit_tests, kit.test_app, kit.sample_package}) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error))
            return fail(ErrorKind::general, "the kit has no " + test_helpers::to_utf8(file.native()));
    }
    const auto signature_file = directory / L"sample" / L"signature.txt";
    const auto text = read_text(signature_file);
    if (!text) return fail(ErrorKind::general, "the kit has no " + test_helpers::to_utf8(signature_file.native()));
    auto signature = parse_signature_options(*text);
    if (!signature) return fail(ErrorKind::general, "sample\\signature.txt holds " + signature.error().text);
    kit.signature = std::move(*signature);
    return kit;
}

Result<UpdateCase> prepare_case(const Kit& kit, const std::wstring& name) {
    UpdateCase update;
    update.root = kit.work / name;
    const auto downloads = update.root / L"Downloads";
    const auto logs = update.root / L"Logs";
    std::error_code error;
    std::filesystem::create_directories(downloads, error);
    if (!error) std::filesystem::create_directories(logs, error);
    if (error)
        return fail(ErrorKind::general,
                    "cannot create the folders of " + test_helpers::to_utf8(name) + ": " + error.message());
    update.downloaded = downloads / (L"velmarch-" + widen(kit.signature.version) + L".msi");
    std::filesystem::copy_file(kit.sample_package, update.downloaded, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (error) return fail(ErrorKind::general, "cannot copy the sample package: " + error.message());
    const auto install = update.root / L"Program Files" / L"Velmarch";
    update.install_dir = install.native();
    update.app = install / L"test-app.exe";
    update.msi_log = logs / L"msi.log";
    update.helper_log = logs / L"helper.log";
    update.result = logs / L"result.json";
    update.standard_error = update.root / L"stderr.txt";
    return update;
}

std::vector<std::wstring> updater_arguments(const Kit& kit, const UpdateCase& update, unsigned long parent_process_id) {
    std::vector<std::wstring> arguments = {
        L"--parent-process-id", std::to_wstring(parent_process_id),
        L"--msi-path",          update.downloaded.native(),
        L"--install-dir",       update.install_dir,
        L"--app-path",          update.app.native(),
        L"--msi-log-path",      update.msi_log.native(),
        L"--helper-log-path",   update.helper_log.native(),
        L"--result-path",       update.result.native(),
    };
    for (const auto& [name, value] : kit.signature.options) {
        arguments.push_back(name);
        arguments.push_back(value);
    }
    return arguments;
}

std::optional<std::string> read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool write_text(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::string success_result(const std::string& version) {
    return R"({"status":"success","exitCode":0,"message":"","expectedVersion":")" + version + R"("})";
}

}  // namespace velmarch::kit

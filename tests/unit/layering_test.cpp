// The layers of the source tree look only down: every #include "..." of src/
// and tools/ names a header of the including file's own layer or of a layer
// that its CMake library links. The table below is the one statement of
// which layer may use which; the build's links are checked against it too.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/source_path.h"

namespace velmarch::layering {
namespace {

namespace fs = std::filesystem;

struct Layer {
    std::string name;
    std::string library;            // the CMake target, empty for a tool's own sources
    std::set<std::string> may_use;  // other layers, by name
};

// Bottom to top. The native platforms implement the seam; the signing tool
// links the native platform only to run on it, never to include it.
const std::vector<Layer>& layers() {
    static const std::vector<Layer> table = {
        {"text", "velmarch_text", {}},
        {"platform", "velmarch_platform", {"text"}},
        {"posix", "velmarch_native_platform", {"platform", "text"}},
        {"win32", "velmarch_native_platform", {"platform", "text"}},
        {"trust", "velmarch_trust", {"platform", "text"}},
        {"update", "velmarch_update", {"platform", "text"}},
        {"staging", "velmarch_staging", {"update", "trust", "platform", "text"}},
        {"process", "velmarch_process", {"update", "platform", "text"}},
        {"run", "velmarch_run", {"process", "staging", "update", "trust", "platform", "text"}},
        {"sign_tool", "", {"trust", "platform", "text"}},
    };
    return table;
}

const Layer* find_layer(const std::string& name) {
    for (const Layer& layer : layers())
        if (layer.name == name) return &layer;
    return nullptr;
}

// The layer of a file, by its path relative to the source root.
std::optional<std::string> layer_of(const std::string& path) {
    const std::pair<std::string, std::string> prefixes[] = {
        {"src/result.h", "text"},      {"src/text/", "text"},       {"src/platform/posix/", "posix"},
        {"src/platform/win32/", "win32"}, {"src/platform/", "platform"}, {"src/trust/", "trust"},
        {"src/update/", "update"},     {"src/staging/", "staging"}, {"src/process/", "process"},
        {"src/run/", "run"},           {"tools/velmarch-sign/", "sign_tool"},
    };
    for (const auto& [prefix, layer] : prefixes)
        if (path.starts_with(prefix)) return layer;
    return std::nullopt;
}

// Headers written by the configure step, included by name alone.
const std::set<std::string> kGeneratedHeaders = {"embedded_public_key.h"};

// Names a file that includes what its layer may not use, one line each.
// `exists` says whether a path relative to the source root is a file.
std::vector<std::string> check_includes(const std::string& path, const std::string& content,
                                        const std::function<bool(const std::string&)>& exists) {
    std::vector<std::string> faults;
    const std::optional<std::string> own = layer_of(path);
    if (!own) return {path + " belongs to no layer"};
    const Layer& layer = *find_layer(*own);

    static const std::regex include_line(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch match;
        if (!std::regex_search(line, match, include_line)) continue;
        const std::string included = match[1];
        if (kGeneratedHeaders.contains(included)) continue;
        // As the compiler looks: beside the including file first, then under src/.
        const std::string beside = (fs::path(path).parent_path() / included).lexically_normal().generic_string();
        const std::string under_src = (fs::path("src") / included).lexically_normal().generic_string();
        const std::string target = exists(beside) ? beside : exists(under_src) ? under_src : std::string();
        if (target.empty()) {
            faults.push_back(path + " includes " + included + ", which is no file of src/ or beside it");
            continue;
        }
        const std::optional<std::string> used = layer_of(target);
        if (!used) {
            faults.push_back(path + " includes " + target + ", which belongs to no layer");
        } else if (*used != *own && !layer.may_use.contains(*used)) {
            faults.push_back(path + " (" + *own + ") includes " + target + " (" + *used + ")");
        }
    }
    return faults;
}

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool is_source_file(const fs::path& file) { return file.extension() == ".h" || file.extension() == ".cpp"; }

TEST(Layering, EveryIncludeOfTheSourcesLooksDown) {
    const fs::path root = testing::source_path("");
    const auto exists = [&root](const std::string& relative) { return fs::is_regular_file(root / relative); };
    std::vector<std::string> faults;
    std::size_t files = 0;
    for (const char* top : {"src", "tools"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
            if (!entry.is_regular_file() || !is_source_file(entry.path())) continue;
            ++files;
            const std::string relative = entry.path().lexically_relative(root).generic_string();
            for (std::string& fault : check_includes(relative, read_text(entry.path()), exists))
                faults.push_back(std::move(fault));
        }
    }
    EXPECT_GT(files, 100u) << "the source tree was not found under " << root;
    EXPECT_TRUE(faults.empty()) << [&] {
        std::string all;
        for (const std::string& fault : faults) all += fault + "\n";
        return all;
    }();
}

// The checker itself, on planted files: each row is one include and whether it is allowed.
struct PlantedCase {
    const char* name;
    std::string path;
    std::string include;
    bool allowed;
};

class PlantedInclude : public ::testing::TestWithParam<PlantedCase> {};

TEST_P(PlantedInclude, IsRefusedExactlyWhenItRunsUpOrAcross) {
    const PlantedCase& c = GetParam();
    const std::set<std::string> files = {"src/run/reporting.h",    "src/process/restart.h",
                                         "src/update/reporter.h",  "src/platform/posix/file.h",
                                         "src/platform/platform.h", "src/trust/package_check.h",
                                         "src/staging/staging.h",  "src/text/format.h",
                                         "src/platform/win32/owners.h", "tools/velmarch-sign/options.h"};
    const auto exists = [&files](const std::string& relative) { return files.contains(relative); };
    const auto faults = check_includes(c.path, "#include <string>\n#include \"" + c.include + "\"\n", exists);
    EXPECT_EQ(faults.empty(), c.allowed) << (faults.empty() ? std::string() : faults.front());
}

const PlantedCase kPlantedCases[] = {
    {"process_up_into_run", "src/process/restart.cpp", "run/reporting.h", false},
    {"process_down_into_update", "src/process/restart.cpp", "update/reporter.h", true},
    {"process_across_into_staging", "src/process/restart.cpp", "staging/staging.h", false},
    {"trust_up_into_update", "src/trust/package_check.cpp", "update/reporter.h", false},
    {"staging_down_into_trust", "src/staging/staging.cpp", "trust/package_check.h", true},
    {"seam_into_its_implementation", "src/platform/path.cpp", "platform/posix/file.h", false},
    {"text_up_into_the_seam", "src/text/hex.cpp", "platform/platform.h", false},
    {"posix_across_into_win32", "src/platform/posix/files.cpp", "platform/win32/owners.h", false},
    {"sign_tool_past_the_seam", "tools/velmarch-sign/signing_key.cpp", "platform/posix/file.h", false},
    {"sign_tool_into_the_seam", "tools/velmarch-sign/file_input.cpp", "platform/platform.h", true},
    {"sign_tool_own_header", "tools/velmarch-sign/options.cpp", "options.h", true},
    {"run_into_every_stage", "src/run/run_update.cpp", "process/restart.h", true},
    {"unknown_header", "src/run/run_update.cpp", "run/nowhere.h", false},
    {"file_of_no_layer", "src/elsewhere.cpp", "text/format.h", false},
};

INSTANTIATE_TEST_SUITE_P(Rows, PlantedInclude, ::testing::ValuesIn(kPlantedCases), testing::CaseName());

// The build links each layer's library to the libraries of exactly the layers
// the table lets it use.
TEST(Layering, TheBuildLinksWhatTheTableAllows) {
    const std::string cmake = read_text(testing::source_path("CMakeLists.txt"));
    std::map<std::string, std::set<std::string>> table_links;
    for (const Layer& layer : layers()) {
        if (layer.library.empty()) continue;
        for (const std::string& used : layer.may_use) table_links[layer.library].insert(find_layer(used)->library);
        table_links[layer.library];
    }
    for (const auto& [library, expected] : table_links) {
        const std::regex link_call("target_link_libraries\\(\\s*" + library + "\\s+PUBLIC([^)]*)\\)");
        std::smatch match;
        ASSERT_TRUE(std::regex_search(cmake, match, link_call) || expected.empty())
            << library << " has no target_link_libraries(... PUBLIC ...) in CMakeLists.txt";
        std::set<std::string> linked;
        if (!match.empty()) {
            std::istringstream words(match[1].str());
            for (std::string word; words >> word;)
                if (word.starts_with("velmarch_") && word != "velmarch_openssl") linked.insert(word);
        }
        EXPECT_EQ(linked, expected) << library;
    }
}

// With the sources listed by name, a new file must be listed to be built:
// every .cpp of src/ and tools/ is named in CMakeLists.txt (or, for the
// key and the Windows terminate handler, in the function that compiles it
// into each program).
TEST(Layering, EverySourceFileIsListedInTheBuild) {
    const fs::path root = testing::source_path("");
    const std::string listed =
        read_text(root / "CMakeLists.txt") + read_text(root / "cmake" / "public_key.cmake") +
        read_text(root / "cmake" / "windows.cmake");
    std::vector<std::string> unlisted;
    for (const char* top : {"src", "tools"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
            if (!entry.is_regular_file() || entry.path().extension() != ".cpp") continue;
            const std::string relative = entry.path().lexically_relative(root).generic_string();
            if (!listed.contains(relative)) unlisted.push_back(relative);
        }
    }
    EXPECT_TRUE(unlisted.empty()) << [&] {
        std::string all;
        for (const std::string& file : unlisted) all += file + " is built by no target\n";
        return all;
    }();
}

}  // namespace
}  // namespace velmarch::layering

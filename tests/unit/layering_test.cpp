// The layers of the source tree look only down. The layer table (the file
// CMake reads, named by VELMARCH_LAYER_TABLE) says which layers each may use
// and which headers each offers: every #include "..." of src/ and tools/
// names a header of its own layer or a public header of a layer it uses, and
// every use and public header of the table is needed by some include.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/layer_table.h"
#include "support/source_path.h"

namespace velmarch::layering {
namespace {

namespace fs = std::filesystem;
using testing::check_layers;
using testing::LayerTable;
using testing::read_layer_table;

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool is_source_file(const fs::path& file) { return file.extension() == ".h" || file.extension() == ".cpp"; }

std::string lines_of(const std::vector<std::string>& faults) {
    std::string all;
    for (const std::string& fault : faults) all += fault + "\n";
    return all;
}

LayerTable the_table() {
    return read_layer_table(VELMARCH_LAYER_TABLE, read_text(testing::source_path(VELMARCH_LAYER_TABLE)));
}

TEST(Layering, EveryIncludeOfTheSourcesIsOneTheTableAllows) {
    const fs::path root = testing::source_path("");
    std::map<std::string, std::string> files;
    for (const char* top : {"src", "tools"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
            if (!entry.is_regular_file() || !is_source_file(entry.path())) continue;
            files.emplace(entry.path().lexically_relative(root).generic_string(), read_text(entry.path()));
        }
    }
    const LayerTable table = the_table();
    EXPECT_GT(files.size(), 100u) << "the source tree was not found under " << root;
    EXPECT_GE(table.layers.size(), 8u) << "the layer table was not read from " << VELMARCH_LAYER_TABLE;
    const std::vector<std::string> faults = check_layers(table, files);
    EXPECT_TRUE(faults.empty()) << lines_of(faults);
}

// The checker itself, on a planted tree and table shaped like the real ones,
// in which every layer uses what it lists and every public header is used.
const char* const kPlantedTable = R"(# planted
layer    text
folders  src/text/ src/result.h
target   velmarch_text
uses
public   src/result.h src/text/format.h

layer    platform
folders  src/platform/
target   velmarch_platform
uses     text
public   src/platform/platform.h

layer    posix
folders  src/platform/posix/
target   velmarch_native_platform
host     posix
uses     platform
public

layer    win32
folders  src/platform/win32/
target   velmarch_native_platform
host     windows
uses     platform
public

layer    trust
folders  src/trust/
target   velmarch_trust
uses     platform
public   src/trust/package_check.h

layer    update
folders  src/update/
target   velmarch_update
uses     trust
public   src/update/reporter.h

layer    staging
folders  src/staging/
target   velmarch_staging
uses     trust
public   src/staging/staging.h

layer    process
folders  src/process/
target   velmarch_process
uses     update
public   src/process/installer_stage.h

layer    run
folders  src/run/
target   velmarch_run
uses     process staging update
public

layer    sign_tool
folders  tools/velmarch-sign/
target   velmarch-sign
host     posix
uses     platform
public
)";

std::map<std::string, std::string> planted_tree() {
    return {
        {"src/result.h", ""},
        {"src/text/format.h", "#include \"result.h\"\n"},
        {"src/text/hex.cpp", "#include \"text/format.h\"\n"},
        {"src/platform/platform.h", "#include \"result.h\"\n#include \"text/format.h\"\n"},
        {"src/platform/paths.cpp", "#include \"platform/platform.h\"\n"},
        {"src/platform/posix/file.h", "#include \"platform/platform.h\"\n"},
        {"src/platform/posix/files.cpp", "#include \"file.h\"\n"},
        {"src/platform/win32/owners.h", "#include \"platform/platform.h\"\n"},
        {"src/trust/package_check.h", "#include \"platform/platform.h\"\n"},
        {"src/trust/package_check.cpp", "#include \"trust/package_check.h\"\n#include \"sha256.h\"\n"},
        {"src/trust/sha256.h", ""},
        {"src/trust/embedded_update_key.cpp", "#include \"embedded_public_key.h\"\n"},
        {"src/update/reporter.h", "#include \"trust/package_check.h\"\n"},
        {"src/staging/staging.h", "#include \"trust/package_check.h\"\n"},
        {"src/staging/staging.cpp", "#include \"staging/staging.h\"\n"},
        {"src/process/installer_stage.h", "#include \"update/reporter.h\"\n"},
        {"src/process/restart.h", ""},
        {"src/process/restart.cpp", "#include <string>\n#include \"process/restart.h\"\n"},
        {"src/run/reporting.h", ""},
        {"src/run/run_update.cpp",
         "#include \"process/installer_stage.h\"\n#include \"staging/staging.h\"\n#include \"update/reporter.h\"\n"},
        {"tools/velmarch-sign/options.h", "#include \"platform/platform.h\"\n"},
        {"tools/velmarch-sign/options.cpp", "#include \"options.h\"\n"},
    };
}

std::vector<std::string> planted_faults(const std::string& table_text,
                                        const std::map<std::string, std::string>& files) {
    return check_layers(read_layer_table("src/layers.txt", table_text), files);
}

TEST(Layering, ThePlantedTreeAndTableAreClean) {
    const std::vector<std::string> faults = planted_faults(kPlantedTable, planted_tree());
    EXPECT_TRUE(faults.empty()) << lines_of(faults);
}

// Each row plants one include into a file of the planted tree. `fault` is a
// part of the one fault expected, or empty when the include is allowed.
struct PlantedInclude {
    const char* name;
    std::string path;
    std::string include;
    std::string fault;
};

class IncludeRule : public ::testing::TestWithParam<PlantedInclude> {};

TEST_P(IncludeRule, IsRefusedExactlyWhenItRunsUpAcrossOrIntoAPrivateHeader) {
    const PlantedInclude& c = GetParam();
    std::map<std::string, std::string> files = planted_tree();
    files[c.path] += "#include \"" + c.include + "\"\n";
    const std::vector<std::string> faults = planted_faults(kPlantedTable, files);
    if (c.fault.empty()) {
        EXPECT_TRUE(faults.empty()) << lines_of(faults);
    } else {
        ASSERT_EQ(faults.size(), 1u) << lines_of(faults);
        EXPECT_NE(faults.front().find(c.fault), std::string::npos) << faults.front();
    }
}

const PlantedInclude kPlantedIncludes[] = {
    {"process_up_into_run", "src/process/restart.cpp", "run/reporting.h",
     "src/process/restart.cpp:3 includes \"run/reporting.h\" (layer run), but layer process does not use run "
     "(src/layers.txt:49, uses update)"},
    {"process_down_into_update", "src/process/restart.cpp", "update/reporter.h", ""},
    {"process_across_into_staging", "src/process/restart.cpp", "staging/staging.h",
     "layer process does not use staging"},
    {"process_past_update_into_trust", "src/process/restart.cpp", "trust/package_check.h",
     "layer process does not use trust"},
    {"trust_up_into_update", "src/trust/package_check.cpp", "update/reporter.h", "layer trust does not use update"},
    {"staging_down_into_trust", "src/staging/staging.cpp", "trust/package_check.h", ""},
    {"seam_into_its_implementation", "src/platform/paths.cpp", "platform/posix/file.h",
     "layer platform does not use posix"},
    {"text_up_into_the_seam", "src/text/hex.cpp", "platform/platform.h", "layer text does not use platform"},
    {"posix_across_into_win32", "src/platform/posix/files.cpp", "platform/win32/owners.h",
     "layer posix does not use win32"},
    {"sign_tool_past_the_seam", "tools/velmarch-sign/options.cpp", "platform/posix/file.h",
     "layer sign_tool does not use posix"},
    {"sign_tool_into_the_seam", "tools/velmarch-sign/options.cpp", "platform/platform.h", ""},
    {"sign_tool_own_header", "tools/velmarch-sign/options.cpp", "options.h", ""},
    {"run_into_a_public_header", "src/run/run_update.cpp", "process/installer_stage.h", ""},
    {"run_into_a_private_header", "src/run/run_update.cpp", "process/restart.h",
     "src/run/run_update.cpp:4 includes \"process/restart.h\", a private header of layer process: add "
     "src/process/restart.h to the public headers of process in src/layers.txt (line 46)"},
    {"private_header_named_from_beside", "src/staging/staging.cpp", "../trust/sha256.h",
     "includes \"../trust/sha256.h\", a private header of layer trust: add src/trust/sha256.h"},
    {"own_private_header", "src/trust/package_check.h", "trust/sha256.h", ""},
    {"unknown_header", "src/run/run_update.cpp", "run/nowhere.h", "which is no file of src/ or beside it"},
    {"file_of_no_layer", "src/elsewhere.cpp", "text/format.h",
     "src/elsewhere.cpp belongs to no layer: add its folder to a layer of src/layers.txt"},
};

INSTANTIATE_TEST_SUITE_P(Rows, IncludeRule, ::testing::ValuesIn(kPlantedIncludes), testing::CaseName());

// Each row changes one line of a layer's block in the planted table (or, with
// no layer, puts a line at its head) and names a part of the one fault expected.
struct PlantedTableEdit {
    const char* name;
    std::string layer;
    std::string field;  // the line starting with it is replaced
    std::string line;
    std::string fault;
};

std::string edited(const PlantedTableEdit& edit) {
    std::string text = kPlantedTable;
    if (edit.layer.empty()) return edit.line + "\n" + text;
    const std::regex block_line("(\nlayer +" + edit.layer + "\n(?:[^\n]+\n)*?)" + edit.field + "( [^\n]*)?\n");
    std::smatch match;
    if (!std::regex_search(text, match, block_line)) return "no such line: " + edit.layer + " " + edit.field;
    return match.prefix().str() + match[1].str() + edit.line + "\n" + match.suffix().str();
}

class TableRule : public ::testing::TestWithParam<PlantedTableEdit> {};

TEST_P(TableRule, NamesTheLineToChange) {
    const PlantedTableEdit& c = GetParam();
    const std::vector<std::string> faults = planted_faults(edited(c), planted_tree());
    ASSERT_EQ(faults.size(), 1u) << lines_of(faults);
    EXPECT_NE(faults.front().find(c.fault), std::string::npos) << faults.front();
}

const PlantedTableEdit kPlantedTableEdits[] = {
    {"unused_link", "staging", "uses", "uses trust update",
     "src/layers.txt:43: layer staging uses update, but no file of staging includes a header of update: remove "
     "update from its uses"},
    {"unused_link_from_the_tool", "sign_tool", "uses", "uses trust platform",
     "layer sign_tool uses trust, but no file of sign_tool includes a header of trust"},
    {"missing_link", "run", "uses", "uses process staging",
     "src/run/run_update.cpp:3 includes \"update/reporter.h\" (layer update), but layer run does not use update "
     "(src/layers.txt:55, uses process staging)"},
    {"unknown_layer", "process", "uses", "uses update updat",
     "src/layers.txt:49: layer process uses updat, which is no layer of the table"},
    {"use_of_a_later_layer", "trust", "uses", "uses platform run",
     "src/layers.txt:31: layer trust uses run, which comes after it in the table"},
    {"cycle", "trust", "uses", "uses platform update",
     "layer trust uses update, which comes after it in the table: layers are listed bottom to top and each uses "
     "only layers listed before it, so that no cycle can form (update uses trust: a cycle)"},
    {"use_of_itself", "update", "uses", "uses trust update", "src/layers.txt:37: layer update uses itself"},
    {"private_header_made_public", "trust", "public", "public src/trust/package_check.h src/trust/sha256.h",
     "src/layers.txt:32: public header src/trust/sha256.h of layer trust is included by no other layer"},
    {"public_header_made_private", "process", "public", "public",
     "src/run/run_update.cpp:1 includes \"process/installer_stage.h\", a private header of layer process"},
    {"public_header_that_is_gone", "update", "public", "public src/update/reporter.h src/update/gone.h",
     "public header src/update/gone.h of layer update is no file of src/ or tools/"},
    {"public_header_of_another_layer", "staging", "public", "public src/staging/staging.h src/trust/sha256.h",
     "public header src/trust/sha256.h of layer staging belongs to layer trust"},
    {"folder_with_no_sources", "run", "folders", "folders src/run/ src/gone/",
     "src/layers.txt:52: src/gone/ of layer run holds no source file"},
    {"layer_without_a_target", "run", "target", "", "src/layers.txt:52: layer run names no target"},
    {"unknown_field", "run", "public", "colour red", "src/layers.txt:56: unknown field \"colour\""},
    {"field_before_any_layer", "", "", "uses text", "src/layers.txt:1: \"uses\" comes before any \"layer\" line"},
    {"unknown_host", "posix", "host", "host linux", "the host of layer posix is posix or windows, not \"linux\""},
};

INSTANTIATE_TEST_SUITE_P(Rows, TableRule, ::testing::ValuesIn(kPlantedTableEdits), testing::CaseName());

// The table links the layers: CMake files link no layer's target to another
// that offers headers by hand. (A layer without public headers, such as the
// native platform, may be linked to run on it: that gives nothing to include.)
TEST(Layering, TheBuildLinksLayersOnlyThroughTheTable) {
    const LayerTable table = the_table();
    std::set<std::string> targets;
    std::set<std::string> targets_with_headers;
    for (const testing::LayerRow& row : table.layers) {
        targets.insert(row.target);
        if (!row.public_headers.empty()) targets_with_headers.insert(row.target);
    }
    ASSERT_TRUE(targets_with_headers.contains("velmarch_text"));
    const fs::path root = testing::source_path("");
    std::vector<std::string> faults;
    std::size_t links = 0;
    std::vector<fs::path> cmake_files = {root / "CMakeLists.txt"};
    for (const auto& entry : fs::directory_iterator(root / "cmake"))
        if (entry.path().extension() == ".cmake") cmake_files.push_back(entry.path());
    static const std::regex link_call(R"(target_link_libraries\(([^)]*)\))");
    for (const fs::path& file : cmake_files) {
        const std::string text = read_text(file);
        for (auto it = std::sregex_iterator(text.begin(), text.end(), link_call); it != std::sregex_iterator(); ++it) {
            ++links;
            std::istringstream words((*it)[1].str());
            std::string linking;
            words >> linking;
            if (!targets.contains(linking)) continue;
            for (std::string word; words >> word;)
                if (word != linking && targets_with_headers.contains(word))
                    faults.push_back(file.lexically_relative(root).generic_string() + " links " + linking + " to " +
                                     word + " by hand: say it in the uses of " + table.file);
        }
    }
    EXPECT_GT(links, 3u) << "no target_link_libraries found under " << root;
    EXPECT_TRUE(faults.empty()) << lines_of(faults);
}

// With the sources listed by name, a new file must be listed to be built:
// every .cpp of src/ and tools/ is named in CMakeLists.txt (or, for the
// key and the Windows terminate handler, in the function that compiles it
// into each program).
TEST(Layering, EverySourceFileIsListedInTheBuild) {
    const fs::path root = testing::source_path("");
    const std::string listed = read_text(root / "CMakeLists.txt") + read_text(root / "cmake" / "public_key.cmake") +
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

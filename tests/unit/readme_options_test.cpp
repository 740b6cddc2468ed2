// README.md's option table ("| Option | Meaning |" under "## Integrating the
// updater") lists exactly the options of the run's own list
// (run/update_request.h), each once.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "run/update_request.h"
#include "support/source_path.h"

namespace velmarch::run {
namespace {

// Each option named in the first cell of the option table, with how many rows
// name it.
std::map<std::string, int> readme_options() {
    std::ifstream in(testing::source_path("README.md"), std::ios::binary);
    std::map<std::string, int> options;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("| Option | Meaning |")) {
            inside = true;
            continue;
        }
        if (!inside || line.starts_with("|---")) continue;
        if (!line.starts_with("| `--")) break;  // the table ends
        const std::size_t end = line.find("` |", 5);
        if (end != std::string::npos) ++options[line.substr(5, end - 5)];
    }
    return options;
}

TEST(ReadmeOptions, TheOptionTableListsExactlyTheRunsOptions) {
    std::map<std::string, int> expected{{std::string(kParentProcessIdOption), 1}, {std::string(kRepairModeOption), 1}};
    for (const PathOption& option : kPathOptions) ++expected[std::string(option.name)];
    for (const TextOption& option : kTextOptions) ++expected[std::string(option.name)];
    EXPECT_EQ(expected.size(), 13u);
    EXPECT_EQ(readme_options(), expected);
}

}  // namespace
}  // namespace velmarch::run

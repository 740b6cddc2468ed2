// README.md's message table names every text the updater can write: each
// string literal of src/ that reads as a message (below) has a row, and each
// row still has its literal. A new message in src/ needs only a new row.
// The integrator's part holds what can be checked against the sources too:
// the launch snippet is a piece of examples/launch_updater.cpp, every status
// the example reads has a row of the outcome table, and the helper-log lines
// that tell aborts apart are lines the updater writes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/source_path.h"

namespace velmarch::readme {
namespace {

namespace fs = std::filesystem;

// The ordinary string literals of C++ source text, in order, adjacent ones
// joined as the compiler joins them. Comments, character literals, digit
// separators, prefixed literals (u"", L"", u8"") and raw strings are skipped.
// Escapes are kept as written.
std::vector<std::string> string_literals(const std::string& source) {
    std::vector<std::string> found;
    bool joinable = false;  // only blanks and comments since the last literal
    std::size_t i = 0;
    const auto is_name_char = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    // A quote inside a number (1'000'000, 0xFF'FF) separates digits.
    const auto in_number = [&](std::size_t quote) {
        std::size_t start = quote;
        while (start > 0 && (is_name_char(source[start - 1]) || source[start - 1] == '\'' || source[start - 1] == '.'))
            --start;
        return start < quote && std::isdigit(static_cast<unsigned char>(source[start]));
    };
    while (i < source.size()) {
        const char c = source[i];
        if (source.compare(i, 2, "//") == 0) {
            i = source.find('\n', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (source.compare(i, 2, "/*") == 0) {
            const std::size_t end = source.find("*/", i + 2);
            i = end == std::string::npos ? source.size() : end + 2;
            continue;
        }
        if (c == '\'' && !in_number(i)) {
            // A character literal (a quote between two digits is a separator).
            std::size_t j = i + 1;
            while (j < source.size() && source[j] != '\'') j += source[j] == '\\' ? 2 : 1;
            i = j + 1;
            joinable = false;
            continue;
        }
        if (c == '"') {
            std::size_t start = i;
            while (start > 0 && is_name_char(source[start - 1])) --start;
            const std::string prefix = source.substr(start, i - start);
            if (prefix.ends_with('R')) {  // R"delimiter( ... )delimiter"
                const std::size_t open = source.find('(', i);
                // Appended piece by piece: GCC 12 at -O3 takes `")" + std::string` for
                // an overlapping copy (a false -Wrestrict, GCC bug 105329).
                std::string closing(1, ')');
                closing.append(source, i + 1, open - i - 1).push_back('"');
                const std::size_t end = source.find(closing, open);
                i = end == std::string::npos ? source.size() : end + closing.size();
                joinable = false;
                continue;
            }
            std::size_t j = i + 1;
            std::string text;
            while (j < source.size() && source[j] != '"') {
                // A quote or a backslash escaped in the source is the character
                // itself in the message; other escapes stay as written.
                const bool escaped = source[j] == '\\' && j + 1 < source.size();
                if (escaped && (source[j + 1] == '"' || source[j + 1] == '\\')) {
                    text += source[j + 1];
                } else {
                    text += source.substr(j, escaped ? 2 : 1);
                }
                j += escaped ? 2 : 1;
            }
            i = j + 1;
            if (!prefix.empty()) {
                joinable = false;
                continue;
            }
            if (joinable && !found.empty()) {
                found.back() += text;
            } else {
                found.push_back(text);
            }
            joinable = true;
            continue;
        }
        if (!std::isspace(static_cast<unsigned char>(c))) joinable = false;
        ++i;
    }
    return found;
}

// A text the updater may write: it begins with a letter or "--" and holds a
// blank. That takes in every sentence and sentence template ("... {}"), and
// the lower-case reasons that fill a template's "{}"; it leaves out names,
// paths, security descriptors and format skeletons ("{} (os error {})").
bool reads_as_message(std::string_view text) {
    if (text.find(' ') == std::string_view::npos) return false;
    return text.starts_with("--") || (!text.empty() && std::isalpha(static_cast<unsigned char>(text.front())));
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::set<std::string> source_messages() {
    std::set<std::string> messages;
    for (const auto& entry : fs::recursive_directory_iterator(testing::source_path("src"))) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
        for (std::string& literal : string_literals(read_file(entry.path())))
            if (reads_as_message(literal)) messages.insert(std::move(literal));
    }
    return messages;
}

// The first cell of every table row of README.md's "## Messages" section
// whose first cell is code: `text`.
std::set<std::string> readme_messages() {
    std::istringstream lines(read_file(testing::source_path("README.md")));
    std::set<std::string> rows;
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("## ")) inside = line.starts_with("## Messages");
        if (!inside || !line.starts_with("| `")) continue;
        const std::size_t end = line.find("` |", 3);
        if (end != std::string::npos) rows.insert(line.substr(3, end - 3));
    }
    return rows;
}

// The lines of README.md's section `heading` (up to the next heading of any
// level).
std::vector<std::string> readme_section(std::string_view heading) {
    std::istringstream lines(read_file(testing::source_path("README.md")));
    std::vector<std::string> section;
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("#")) {
            if (inside) break;
            inside = line == heading;
            continue;
        }
        if (inside) section.push_back(line);
    }
    return section;
}

std::string without_leading_blanks(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : line.substr(first);
}

// The code spans (`text`) of the first cell of each table row.
std::vector<std::vector<std::string>> first_cell_code(const std::vector<std::string>& section) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : section) {
        if (!line.starts_with("| ") || line.starts_with("|---")) continue;
        const std::string cell = line.substr(2, line.find(" | ", 1) - 2);
        std::vector<std::string> spans;
        for (std::size_t open = cell.find('`'); open != std::string::npos; open = cell.find('`', open)) {
            const std::size_t close = cell.find('`', open + 1);
            if (close == std::string::npos) break;
            spans.push_back(cell.substr(open + 1, close - open - 1));
            open = close + 1;
        }
        rows.push_back(std::move(spans));
    }
    return rows;
}

TEST(ReadmeIntegration, TheLaunchSnippetIsAPieceOfTheExample) {
    std::vector<std::string> snippet;
    bool inside = false;
    for (const std::string& line : readme_section("### When to start it, and how")) {
        if (line.starts_with("```")) {
            if (inside) break;
            inside = line == "```cpp";
            continue;
        }
        if (inside) snippet.push_back(without_leading_blanks(line));
    }
    ASSERT_GE(snippet.size(), 10U) << "README.md, \"When to start it, and how\": no ```cpp block";

    std::istringstream lines(read_file(testing::source_path("examples/launch_updater.cpp")));
    std::vector<std::string> example;
    for (std::string line; std::getline(lines, line);) example.push_back(without_leading_blanks(line));
    const auto piece = std::ranges::search(example, snippet);
    EXPECT_FALSE(piece.empty()) << "README.md's launch snippet is no longer one piece of "
                                   "examples/launch_updater.cpp: copy it from there again";
}

TEST(ReadmeIntegration, EveryStatusTheExampleReadsHasARowOfTheOutcomeTable) {
    const std::string example = read_file(testing::source_path("examples/launch_updater.cpp"));
    const std::regex status_name(R"re(case UpdateStatus::\w+: return "(\w+)";)re");
    std::set<std::string> example_words;
    for (auto it = std::sregex_iterator(example.begin(), example.end(), status_name); it != std::sregex_iterator();
         ++it)
        example_words.insert((*it)[1].str());
    ASSERT_GE(example_words.size(), 8U) << "the example's status words were not found";

    std::set<std::string> rows;
    for (const auto& spans : first_cell_code(readme_section("### Reading the outcome")))
        if (!spans.empty()) rows.insert(spans.front());
    for (const std::string& word : example_words)
        EXPECT_TRUE(rows.contains(word)) << "README.md, \"Reading the outcome\": add a row for `" << word << "`";
}

TEST(ReadmeIntegration, TheHelperLogLinesThatTellAbortsApartAreWrittenByTheUpdater) {
    const std::set<std::string> in_source = source_messages();
    const auto rows = first_cell_code(readme_section("### Aborted runs"));
    std::size_t lines_named = 0;
    for (const auto& spans : rows) {
        for (const std::string& line : spans) {
            ++lines_named;
            EXPECT_TRUE(in_source.contains(line))
                << "README.md, \"Aborted runs\": the updater writes no line `" << line << "`";
        }
    }
    EXPECT_GE(lines_named, 6U) << "the table of aborts was not read";
}

TEST(ReadmeMessages, LiteralsAreFoundAsTheCompilerSeesThem) {
    const std::string source = R"src(
        // "a comment with a blank."
        constexpr std::string_view kA = "First part, "
            /* joined */ "second part.";
        const char quote = '"';
        int million = 1'000'000;
        auto wide = u"Wide text here.";
        char16_t unit = u'"';
        auto mask = 0xFF'FF;
        auto raw = R"x(Raw "text" here.)x";
        auto call = format("Value {} is {}.", f('\''), "x y");
        )src";
    const std::vector<std::string> expected = {"First part, second part.", "Value {} is {}.", "x y"};
    EXPECT_EQ(string_literals(source), expected);
}

TEST(ReadmeMessages, EveryMessageInTheSourcesHasARowAndEveryRowAMessage) {
    const std::set<std::string> in_source = source_messages();
    const std::set<std::string> in_readme = readme_messages();
    ASSERT_GT(in_source.size(), 40U) << "the sources were not read";

    std::vector<std::string> without_row;
    std::ranges::set_difference(in_source, in_readme, std::back_inserter(without_row));
    std::vector<std::string> without_message;
    std::ranges::set_difference(in_readme, in_source, std::back_inserter(without_message));
    for (const std::string& message : without_row)
        ADD_FAILURE() << "README.md, \"## Messages\": add a row for `" << message << "`";
    for (const std::string& message : without_message)
        ADD_FAILURE() << "README.md, \"## Messages\": no text of src/ reads `" << message
                      << "` any more: change or remove its row";
}

}  // namespace
}  // namespace velmarch::readme

// README.md's message table names every text the updater can write: each
// string literal of src/ that reads as a message (below) has a row, and each
// row still has its literal. A new message in src/ needs only a new row.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

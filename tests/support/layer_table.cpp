#include "support/layer_table.h"

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

namespace velmarch::testing {
namespace {

namespace fs = std::filesystem;

// Headers written by the configure step, included by name alone.
const std::set<std::string, std::less<>> kGeneratedHeaders = {"embedded_public_key.h"};

std::vector<std::string> words_of(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::string joined(const std::vector<std::string>& words) {
    std::string all;
    for (const std::string& word : words) all += (all.empty() ? "" : " ") + word;
    return all.empty() ? "nothing" : all;
}

std::ptrdiff_t index_of(const LayerTable& table, const LayerRow* row) { return row - table.layers.data(); }

// Each use names a layer listed before the user: the order of the file is
// then one in which every layer looks down, and no cycle can form.
void check_uses(LayerTable& table) {
    for (const LayerRow& row : table.layers) {
        const std::string where = table.file + ":" + std::to_string(row.uses_line) + ": layer " + row.name;
        for (const std::string& used : row.uses) {
            const LayerRow* below = table.find(used);
            if (used == row.name) {
                table.faults.push_back(where + " uses itself");
            } else if (below == nullptr) {
                table.faults.push_back(where + " uses " + used + ", which is no layer of the table");
            } else if (index_of(table, below) > index_of(table, &row)) {
                std::string fault = where + " uses " + used +
                                    ", which comes after it in the table: layers are listed bottom to top and "
                                    "each uses only layers listed before it, so that no cycle can form";
                if (contains(below->uses, row.name)) fault += " (" + used + " uses " + row.name + ": a cycle)";
                table.faults.push_back(fault);
            }
        }
    }
}

// As the compiler looks: beside the including file first, then under src/.
std::string resolve(const std::string& path, const std::string& included,
                    const std::map<std::string, std::string>& files) {
    const std::string beside = (fs::path(path).parent_path() / included).lexically_normal().generic_string();
    if (files.contains(beside)) return beside;
    const std::string under_src = (fs::path("src") / included).lexically_normal().generic_string();
    if (files.contains(under_src)) return under_src;
    return {};
}

}  // namespace

const LayerRow* LayerTable::find(std::string_view name) const {
    for (const LayerRow& row : layers)
        if (row.name == name) return &row;
    return nullptr;
}

const LayerRow* LayerTable::layer_of(std::string_view path) const {
    const LayerRow* best = nullptr;
    std::size_t best_length = 0;
    for (const LayerRow& row : layers) {
        for (const std::string& entry : row.folders) {
            const bool matches = entry.ends_with('/') ? path.starts_with(entry) : path == entry;
            if (matches && entry.size() > best_length) {
                best = &row;
                best_length = entry.size();
            }
        }
    }
    return best;
}

LayerTable read_layer_table(std::string file, std::string_view text) {
    LayerTable table;
    table.file = std::move(file);
    std::istringstream lines{std::string(text)};
    std::size_t number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        const std::string where = table.file + ":" + std::to_string(number) + ": ";
        std::vector<std::string> words = words_of(line.substr(0, line.find('#')));
        if (words.empty()) continue;
        const std::string field = words.front();
        words.erase(words.begin());
        if (field == "layer") {
            if (words.size() != 1) {
                table.faults.push_back(where + "\"layer\" takes one name");
                continue;
            }
            if (table.find(words.front()) != nullptr)
                table.faults.push_back(where + "layer " + words.front() + " is listed twice");
            LayerRow& row = table.layers.emplace_back();
            row.name = words.front();
            row.line = number;
            continue;
        }
        if (field != "folders" && field != "target" && field != "host" && field != "uses" && field != "public") {
            table.faults.push_back(where + "unknown field \"" + field + "\"");
            continue;
        }
        if (table.layers.empty()) {
            table.faults.push_back(where + "\"" + field + "\" comes before any \"layer\" line");
            continue;
        }
        LayerRow& row = table.layers.back();
        if (field == "folders") {
            row.folders.insert(row.folders.end(), words.begin(), words.end());
        } else if (field == "target") {
            row.target = joined(words);
        } else if (field == "host") {
            row.host = joined(words);
            if (row.host != "posix" && row.host != "windows")
                table.faults.push_back(where + "the host of layer " + row.name + " is posix or windows, not \"" +
                                       row.host + "\"");
        } else if (field == "uses") {
            row.uses.insert(row.uses.end(), words.begin(), words.end());
            row.uses_line = number;
        } else {
            for (const std::string& header : words) row.public_headers.emplace(header, number);
        }
    }
    for (LayerRow& row : table.layers) {
        if (row.uses_line == 0) row.uses_line = row.line;
        const std::string where = table.file + ":" + std::to_string(row.line) + ": layer " + row.name;
        if (row.target.empty()) table.faults.push_back(where + " names no target");
        if (row.folders.empty()) table.faults.push_back(where + " names no folders");
    }
    check_uses(table);
    return table;
}

std::vector<std::string> check_layers(const LayerTable& table, const std::map<std::string, std::string>& files) {
    std::vector<std::string> faults = table.faults;
    std::map<std::string, std::set<std::string>> uses_seen;  // layer -> the layers its files include
    std::set<std::string> public_seen;                       // headers included from another layer

    static const std::regex include_line(R"(^\s*#\s*include\s*"([^"]+)\")");
    for (const auto& [path, content] : files) {
        const LayerRow* own = table.layer_of(path);
        if (own == nullptr) {
            faults.push_back(path + " belongs to no layer: add its folder to a layer of " + table.file);
            continue;
        }
        std::istringstream lines(content);
        std::size_t number = 0;
        for (std::string line; std::getline(lines, line);) {
            ++number;
            std::smatch match;
            if (!std::regex_search(line, match, include_line)) continue;
            const std::string included = match[1];
            if (kGeneratedHeaders.contains(included)) continue;
            const std::string at = path + ":" + std::to_string(number) + " includes \"" + included + "\"";
            const std::string target = resolve(path, included, files);
            if (target.empty()) {
                faults.push_back(at + ", which is no file of src/ or beside it");
                continue;
            }
            const LayerRow* used = table.layer_of(target);
            if (used == nullptr) {
                faults.push_back(at + ": " + target + " belongs to no layer");
                continue;
            }
            if (used == own) continue;
            uses_seen[own->name].insert(used->name);
            public_seen.insert(target);
            if (!contains(own->uses, used->name)) {
                faults.push_back(at + " (layer " + used->name + "), but layer " + own->name + " does not use " +
                                 used->name + " (" + table.file + ":" + std::to_string(own->uses_line) + ", uses " +
                                 joined(own->uses) + "): add it there if " + used->name + " lies below " + own->name +
                                 ", or move the code");
            } else if (!used->public_headers.contains(target)) {
                faults.push_back(at + ", a private header of layer " + used->name + ": add " + target +
                                 " to the public headers of " + used->name + " in " + table.file + " (line " +
                                 std::to_string(used->line) + "), or include a public one");
            }
        }
    }

    for (const LayerRow& row : table.layers) {
        const std::string where = table.file + ":";
        for (const std::string& used : row.uses)
            // A use of an unknown or later layer is a fault of the table already.
            if (const LayerRow* below = table.find(used); below != nullptr &&
                                                          index_of(table, below) < index_of(table, &row) &&
                                                          !uses_seen[row.name].contains(used))
                faults.push_back(where + std::to_string(row.uses_line) + ": layer " + row.name + " uses " + used +
                                 ", but no file of " + row.name + " includes a header of " + used + ": remove " + used +
                                 " from its uses");
        for (const std::string& folder : row.folders) {
            const bool holds = std::any_of(files.begin(), files.end(), [&](const auto& file) {
                return folder.ends_with('/') ? file.first.starts_with(folder) : file.first == folder;
            });
            if (!holds)
                faults.push_back(where + std::to_string(row.line) + ": " + folder + " of layer " + row.name +
                                 " holds no source file");
        }
        for (const auto& [header, line] : row.public_headers) {
            const std::string at = where + std::to_string(line) + ": public header " + header + " of layer " + row.name;
            if (!files.contains(header)) {
                faults.push_back(at + " is no file of src/ or tools/");
            } else if (table.layer_of(header) != &row) {
                const LayerRow* owner = table.layer_of(header);
                faults.push_back(at + " belongs to layer " + (owner != nullptr ? owner->name : "none"));
            } else if (!public_seen.contains(header)) {
                faults.push_back(at +
                                 " is included by no other layer: remove it from the public headers "
                                 "(it stays the layer's own)");
            }
        }
    }
    return faults;
}

}  // namespace velmarch::testing

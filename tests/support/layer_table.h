#pragma once
// The layer table (src/layers.txt) as the layering test reads it, and the
// check of a source tree against it: every #include "..." of a layer names
// its own header or a public header of a layer it uses; every use and every
// public header is needed by some include.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velmarch::testing {

struct LayerRow {
    std::string name;
    std::size_t line = 0;  // of its "layer" line
    std::vector<std::string> folders;
    std::string target;
    std::string host;
    std::vector<std::string> uses;
    std::size_t uses_line = 0;
    std::map<std::string, std::size_t> public_headers;  // path from the root -> its line
};

struct LayerTable {
    std::string file;  // the table's path from the root, for messages
    std::vector<LayerRow> layers;
    std::vector<std::string> faults;  // what reading the table found wrong

    const LayerRow* find(std::string_view name) const;
    // The layer of a path from the root: its longest matching folder or file.
    const LayerRow* layer_of(std::string_view path) const;
};

LayerTable read_layer_table(std::string file, std::string_view text);

// `files` holds every .h and .cpp file under src/ and tools/ by its path from
// the root. Returns one line per fault, naming the file, the include and the
// table line to change.
std::vector<std::string> check_layers(const LayerTable& table, const std::map<std::string, std::string>& files);

}  // namespace velmarch::testing

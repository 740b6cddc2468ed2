#pragma once
// The tool's own option list after the command word: "--name value" pairs
// (or "--name=value", split at the first "=") and "--flag" switches.

#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "text/result.h"

namespace velmarch::sign_tool {

class Options {
public:
    // Refuses a word that is not "--name" or "--name=value", a name without a
    // value, a flag given a value, a repeated name and any name outside
    // `with_value` and `flags`.
    [[nodiscard]] static Result<Options> parse(std::span<const std::string_view> arguments,
                                               std::span<const std::string_view> with_value,
                                               std::span<const std::string_view> flags = {});

    std::optional<std::string_view> find(std::string_view name) const;
    [[nodiscard]] Result<std::string_view> required(std::string_view name) const;
    [[nodiscard]] bool has_flag(std::string_view name) const;

private:
    std::map<std::string, std::string, std::less<>> values_;
    std::set<std::string, std::less<>> flags_;
};

// Whether the words after the command ask for its help (-h or --help).
bool asks_for_help(std::span<const std::string_view> arguments);

}  // namespace velmarch::sign_tool

#pragma once
// The tool's own option list: "--name value" pairs after the command word.

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "result.h"

namespace velmarch::sign_tool {

class Options {
public:
    // Refuses a word that is not "--name", a name without a value, a repeated
    // name and any name outside `known`.
    [[nodiscard]] static Result<Options> parse(std::span<const std::string_view> arguments,
                                               std::span<const std::string_view> known);

    std::optional<std::string_view> find(std::string_view name) const;
    [[nodiscard]] Result<std::string_view> required(std::string_view name) const;

private:
    std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace velmarch::sign_tool

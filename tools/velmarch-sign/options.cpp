#include "options.h"

#include <algorithm>

#include "text/format.h"

namespace velmarch::sign_tool {

Result<Options> Options::parse(std::span<const std::string_view> arguments,
                               std::span<const std::string_view> with_value, std::span<const std::string_view> flags) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (!word.starts_with("--") || word.size() == 2) {
            return fail(
                ErrorKind::refused,
                text::format("Unexpected argument '{}': options are written --name value or --name=value.", word));
        }
        std::string_view name = word.substr(2);
        std::optional<std::string_view> attached;  // the value of "--name=value"
        if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
            attached = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const std::string shown = "--" + std::string(name);
        if (std::ranges::find(flags, name) != flags.end()) {
            if (attached) return fail(ErrorKind::refused, text::format("Option {} takes no value.", shown));
            if (!options.flags_.emplace(name).second) {
                return fail(ErrorKind::refused, text::format("Option {} is given twice.", shown));
            }
            continue;
        }
        if (std::ranges::find(with_value, name) == with_value.end()) {
            return fail(ErrorKind::refused, text::format("Unknown option {}: this command does not take it.", shown));
        }
        if (!attached) {
            if (i + 1 >= arguments.size())
                return fail(ErrorKind::refused, text::format("Option {} needs a value.", shown));
            attached = arguments[++i];
        }
        if (!options.values_.emplace(std::string(name), std::string(*attached)).second) {
            return fail(ErrorKind::refused, text::format("Option {} is given twice.", shown));
        }
    }
    return options;
}

std::optional<std::string_view> Options::find(std::string_view name) const {
    const auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

Result<std::string_view> Options::required(std::string_view name) const {
    if (const auto value = find(name)) return *value;
    return fail(ErrorKind::refused, text::format("Option --{} is required by this command.", name));
}

bool Options::has_flag(std::string_view name) const { return flags_.contains(name); }

bool asks_for_help(std::span<const std::string_view> arguments) {
    // Anywhere among the words, as the help is what such a line most likely wants.
    return std::ranges::any_of(arguments, [](std::string_view word) { return word == "-h" || word == "--help"; });
}

}  // namespace velmarch::sign_tool

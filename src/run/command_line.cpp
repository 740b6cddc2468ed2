#include "run/command_line.h"

#include <map>
#include <optional>
#include <string_view>

#include "platform/path/path.h"
#include "text/ascii_case.h"
#include "text/format.h"
#include "text/trim.h"

namespace velmarch::run {
namespace {

constexpr std::string_view kUnexpectedArgument = "Unexpected argument: {}";
constexpr std::string_view kMissingValue = "Missing value for {}";
constexpr std::string_view kRequired = "--{} is required.";
constexpr std::string_view kBadProcessId = "--parent-process-id must be a process id.";

using OptionTable = std::map<std::string, std::string, std::less<>>;

[[nodiscard]] Result<OptionTable> collect_options(const std::vector<std::string>& arguments) {
    OptionTable table;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const std::string_view token = text::trim(arguments[i]);
        if (token.size() < 2 || !token.starts_with("--"))
            return fail(ErrorKind::refused, text::format(kUnexpectedArgument, token));
        if (i + 1 == arguments.size()) return fail(ErrorKind::refused, text::format(kMissingValue, token));
        std::string_view name = token;
        while (name.starts_with("--")) name.remove_prefix(2);
        table.insert_or_assign(std::string(name), arguments[i + 1]);
    }
    return table;
}

class OptionReader {
public:
    explicit OptionReader(const OptionTable& table) : table_(table) {}

    // The trimmed value of a required option.
    [[nodiscard]] Result<std::string> required(std::string_view name) const {
        auto it = table_.find(name);
        if (it == table_.end() || text::trim(it->second).empty())
            return fail(ErrorKind::refused, text::format(kRequired, name));
        return std::string(text::trim(it->second));
    }

    bool is_exactly(std::string_view name, std::string_view value) const {
        auto it = table_.find(name);
        return it != table_.end() && it->second == value;
    }

private:
    const OptionTable& table_;
};

std::optional<std::uint32_t> parse_process_id(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

Result<UpdateRequest> parse_command_line(const std::vector<std::string>& arguments) {
    auto table = collect_options(arguments);
    if (!table) return std::unexpected(table.error());
    const OptionReader options(*table);
    UpdateRequest request;

    auto process_id_text = options.required(kParentProcessIdOption);
    if (!process_id_text) return std::unexpected(process_id_text.error());
    auto process_id = parse_process_id(*process_id_text);
    if (!process_id) return fail(ErrorKind::refused, std::string(kBadProcessId));
    request.parent_process_id = *process_id;

    for (const PathOption& option : kPathOptions) {
        auto value = options.required(option.name);
        if (!value) return std::unexpected(value.error());
        request.*option.field = platform::path_from_utf8(*value);
    }
    for (const TextOption& option : kTextOptions) {
        auto value = options.required(option.name);
        if (!value) return std::unexpected(value.error());
        request.*option.field = option.lower_cased ? text::ascii_lower(*value) : std::move(*value);
    }

    request.repair_mode = options.is_exactly(kRepairModeOption, "true");
    return request;
}

}  // namespace velmarch::run

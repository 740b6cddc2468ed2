// parse_command_line against a model of the option rules. The input is the
// argument list, arguments separated by NUL bytes. Whatever the arguments, the
// parser must give exactly the model's message or exactly the model's request.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/command_line.h"
#include "run/update_request.h"
#include "support/check.h"
#include "support/unicode_trim.h"

namespace {

struct ModelRequest {
    std::uint32_t parent_process_id = 0;
    std::map<std::string, std::string> values;  // option name -> stored value
    bool repair_mode = false;
};

struct ModelOutcome {
    std::optional<std::string> error;
    ModelRequest request;
};

// The required options after the process id, in the parser's order: the
// run's own list of options names them.
std::vector<std::string_view> required_in_order() {
    std::vector<std::string_view> names;
    for (const auto& option : velmarch::run::kPathOptions) names.push_back(option.name);
    for (const auto& option : velmarch::run::kTextOptions) names.push_back(option.name);
    return names;
}

std::vector<std::string> split_arguments(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments;
    if (size == 0) return arguments;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (true) {
        const std::size_t nul = input.find('\0', start);
        arguments.emplace_back(
            input.substr(start, nul == std::string_view::npos ? std::string_view::npos : nul - start));
        if (nul == std::string_view::npos) break;
        start = nul + 1;
    }
    return arguments;
}

// Optional single "+", then decimal digits worth at most 4294967295.
std::optional<std::uint32_t> model_process_id(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
    constexpr std::string_view kMaximum = "4294967295";
    if (text.size() > kMaximum.size() || (text.size() == kMaximum.size() && text > kMaximum)) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) value = value * 10u + static_cast<std::uint32_t>(c - '0');
    return value;
}

ModelOutcome model_parse(const std::vector<std::string>& arguments) {
    ModelOutcome outcome;
    std::map<std::string, std::string> table;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const std::string_view token = fuzz_model::trim(arguments[i]);
        if (token.size() < 2 || token.substr(0, 2) != "--") {
            outcome.error = "Unexpected argument: " + std::string(token);
            return outcome;
        }
        if (i + 1 >= arguments.size()) {
            outcome.error = "Missing value for " + std::string(token);
            return outcome;
        }
        std::string_view name = token;
        while (name.substr(0, 2) == "--") name.remove_prefix(2);
        table[std::string(name)] = arguments[i + 1];
    }

    auto required = [&](std::string_view name) -> std::optional<std::string> {
        const auto it = table.find(std::string(name));
        if (it == table.end() || fuzz_model::trim(it->second).empty()) return std::nullopt;
        return std::string(fuzz_model::trim(it->second));
    };

    const auto process_id_text = required("parent-process-id");
    if (!process_id_text) {
        outcome.error = "--parent-process-id is required.";
        return outcome;
    }
    const auto process_id = model_process_id(*process_id_text);
    if (!process_id) {
        outcome.error = "--parent-process-id must be a process id.";
        return outcome;
    }
    outcome.request.parent_process_id = *process_id;
    for (std::string_view name : required_in_order()) {
        auto value = required(name);
        if (!value) {
            outcome.error = "--" + std::string(name) + " is required.";
            return outcome;
        }
        if (name == "expected-sha256") value = fuzz_model::ascii_lower(*value);
        outcome.request.values[std::string(name)] = *value;
    }
    const auto repair = table.find("repair-mode");
    outcome.request.repair_mode = repair != table.end() && repair->second == "true";
    return outcome;
}

bool trimmed_and_non_empty(std::string_view text) { return !text.empty() && fuzz_model::trim(text) == text; }

// The properties every accepted request has, whatever the arguments were.
void check_request_rules(const velmarch::run::UpdateRequest& request, const std::vector<std::string>& arguments) {
    for (char c : request.expected_sha256) FUZZ_CHECK(c < 'A' || c > 'Z', "expected_sha256 holds an upper-case letter");
    for (const auto& option : velmarch::run::kTextOptions)
        FUZZ_CHECK(trimmed_and_non_empty(request.*option.field), "a text field is empty or untrimmed");
    for (const auto& option : velmarch::run::kPathOptions)
        FUZZ_CHECK(trimmed_and_non_empty((request.*option.field).native()), "a path field is empty or untrimmed");
    if (request.repair_mode) {
        bool raw_true_given = false;
        for (std::size_t i = 0; i + 1 < arguments.size(); i += 2) {
            std::string_view name = fuzz_model::trim(arguments[i]);
            while (name.substr(0, 2) == "--") name.remove_prefix(2);
            if (name == "repair-mode") raw_true_given = arguments[i + 1] == "true";
        }
        FUZZ_CHECK(raw_true_given, "repair mode is on without a raw \"true\" as the last repair-mode value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> arguments = split_arguments(data, size);
    const auto parsed = velmarch::run::parse_command_line(arguments);
    const ModelOutcome expected = model_parse(arguments);

    if (expected.error) {
        FUZZ_CHECK(!parsed.has_value(), "a request was returned where parsing must fail");
        FUZZ_CHECK(parsed.error().text == *expected.error, "the parse error differs from the expected message");
        return 0;
    }
    FUZZ_CHECK(parsed.has_value(), "parsing failed where a request was expected");
    const velmarch::run::UpdateRequest& request = *parsed;
    check_request_rules(request, arguments);

    const auto& values = expected.request.values;
    FUZZ_CHECK(request.parent_process_id == expected.request.parent_process_id, "parent process id differs");
    for (const auto& option : velmarch::run::kPathOptions)
        FUZZ_CHECK((request.*option.field).native() == values.at(std::string(option.name)), "a path option differs");
    for (const auto& option : velmarch::run::kTextOptions)
        FUZZ_CHECK(request.*option.field == values.at(std::string(option.name)), "a text option differs");
    FUZZ_CHECK(request.repair_mode == expected.request.repair_mode, "repair mode differs");
    return 0;
}

// The result file's JSON: for any status, exit code, message and expected
// version, the text is compact JSON whose object holds exactly the four
// members in order, and reading it back gives the same strings and number.

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "run/result_json.h"
#include "support/check.h"
#include "support/json_reader.h"
#include "support/unicode_trim.h"
#include "text/json_string.h"

namespace {

constexpr velmarch::update::ResultStatus kStatuses[] = {
    velmarch::update::ResultStatus::success,
    velmarch::update::ResultStatus::error,
    velmarch::update::ResultStatus::install_verification_failed,
    velmarch::update::ResultStatus::restart_required,
    velmarch::update::ResultStatus::restart_initiated,
    velmarch::update::ResultStatus::version_conflict,
};
constexpr std::string_view kStatusWords[] = {
    "success", "error", "installVerificationFailed", "restartRequired", "restartInitiated", "versionConflict",
};

const std::string* member_string(const fuzz_json::Object& object, std::size_t index, std::string_view key) {
    if (index >= object.size() || object[index].first != key) return nullptr;
    return std::get_if<std::string>(&object[index].second.data);
}

void check_writer_choices(const fuzz_json::Reader& reader) {
    FUZZ_CHECK(!reader.choices().white_space, "the JSON text holds insignificant white space");
    FUZZ_CHECK(!reader.choices().needless_escape, "a character is escaped that needs no escape or has a short form");
    FUZZ_CHECK(!reader.choices().upper_case_hex_escape, "a \\u escape uses upper-case hexadecimal digits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t status_index = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kStatuses) - 1);
    const auto exit_code = input.ConsumeIntegral<std::int32_t>();
    const std::string message = input.ConsumeRandomLengthString();
    const std::string version = input.ConsumeRemainingBytesAsString();

    const std::string text = velmarch::run::compose_result_json(kStatuses[status_index], exit_code, message, version);
    if (fuzz_model::is_well_formed_utf8(message) && fuzz_model::is_well_formed_utf8(version))
        FUZZ_CHECK(fuzz_model::is_well_formed_utf8(text), "well-formed UTF-8 input gives ill-formed UTF-8 JSON");

    fuzz_json::Reader reader(text);
    const auto document = reader.read_document();
    FUZZ_CHECK(document.has_value(), "the result text is not JSON");
    check_writer_choices(reader);
    const auto* object_pointer = std::get_if<std::shared_ptr<fuzz_json::Object>>(&document->data);
    FUZZ_CHECK(object_pointer != nullptr, "the result text is not a JSON object");
    const fuzz_json::Object& object = **object_pointer;
    FUZZ_CHECK(object.size() == 4, "the result object does not hold exactly four members");

    const std::string* status = member_string(object, 0, "status");
    FUZZ_CHECK(status != nullptr && *status == kStatusWords[status_index], "\"status\" is not the status word");

    FUZZ_CHECK(object[1].first == "exitCode", "the second member is not \"exitCode\"");
    const auto* number = std::get_if<fuzz_json::Number>(&object[1].second.data);
    FUZZ_CHECK(number != nullptr, "\"exitCode\" is not a number");
    FUZZ_CHECK(number->text.find_first_of(".eE") == std::string::npos, "\"exitCode\" has a fraction or exponent");
    std::int64_t read_exit_code = 0;
    const auto [end, error] =
        std::from_chars(number->text.data(), number->text.data() + number->text.size(), read_exit_code);
    FUZZ_CHECK(error == std::errc() && end == number->text.data() + number->text.size() && read_exit_code == exit_code,
               "\"exitCode\" does not read back as the exit code");

    const std::string* read_message = member_string(object, 2, "message");
    FUZZ_CHECK(read_message != nullptr && *read_message == message, "\"message\" does not read back unchanged");
    const std::string* read_version = member_string(object, 3, "expectedVersion");
    FUZZ_CHECK(read_version != nullptr && *read_version == version, "\"expectedVersion\" does not read back unchanged");

    // json_string on its own is one JSON string with the same round trip.
    const std::string literal = velmarch::text::json_string(message);
    fuzz_json::Reader string_reader(literal);
    const auto string_document = string_reader.read_document();
    FUZZ_CHECK(string_document.has_value(), "json_string gives text that is not JSON");
    check_writer_choices(string_reader);
    const auto* read_back = std::get_if<std::string>(&string_document->data);
    FUZZ_CHECK(read_back != nullptr && *read_back == message, "json_string does not read back unchanged");
    return 0;
}

#include "run/result_json.h"

#include "text/format.h"
#include "text/hex.h"

namespace velmarch::run {

std::string json_string(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "\\u00";
                    out += text::encode_hex_lower(std::as_bytes(std::span(&c, 1)));
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string compose_result_json(update::ResultStatus status, std::int32_t exit_code, std::string_view message,
                                std::string_view expected_version) {
    return text::format(R"({"status":{},"exitCode":{},"message":{},"expectedVersion":{}})",
                        json_string(update::result_status_word(status)), exit_code, json_string(message),
                        json_string(expected_version));
}

}  // namespace velmarch::run

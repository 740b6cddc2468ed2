#include "json_text.h"

namespace velmarch::sign_tool {

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (const auto byte = static_cast<unsigned char>(c); byte < 0x20) {
                    constexpr std::string_view kDigits = "0123456789abcdef";
                    out += "\\u00";
                    out += kDigits[byte >> 4];
                    out += kDigits[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace velmarch::sign_tool

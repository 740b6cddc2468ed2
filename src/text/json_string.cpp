#include "text/json_string.h"

#include <span>

#include "text/hex.h"

namespace velmarch::text {

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
                    out += encode_hex_lower(std::as_bytes(std::span(&c, 1)));
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace velmarch::text

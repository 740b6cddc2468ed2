#include "public_key_file.h"

#include <algorithm>

#include "text/format.h"

namespace velmarch::sign_tool {
namespace {

constexpr std::size_t kDigits = 64;

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::string public_key_file_text(std::string_view hex) { return std::string(hex) + "\r\n"; }

Result<std::string> read_public_key_file_text(std::span<const std::uint8_t> content, std::string_view name) {
    const std::string_view text(reinterpret_cast<const char*>(content.data()), content.size());
    const std::string_view digits = text.substr(0, kDigits);
    const std::string_view line_end = text.size() >= kDigits ? text.substr(kDigits) : std::string_view();
    if (digits.size() != kDigits || !std::ranges::all_of(digits, is_lower_hex) ||
        (line_end != "\r\n" && line_end != "\n")) {
        return fail(ErrorKind::general,
                    text::format("The public key file {} does not hold 64 lower-case hexadecimal digits and a line end "
                                 "(velmarch-sign public-key --key KEY.pem --public-out FILE writes one).",
                                 name));
    }
    return std::string(digits);
}

}  // namespace velmarch::sign_tool

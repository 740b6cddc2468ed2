#include "public_key_file.h"

#include <algorithm>
#include <filesystem>

#include "file_input.h"
#include "text/format.h"

namespace velmarch::sign_tool {
namespace {

constexpr std::size_t kDigits = 64;

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

bool is_public_key_digits(std::string_view text) {
    return text.size() == kDigits && std::ranges::all_of(text, is_lower_hex);
}

std::string public_key_file_text(std::string_view hex) { return std::string(hex) + "\r\n"; }

Result<std::string> read_public_key_file_text(std::span<const std::uint8_t> content, std::string_view name) {
    const std::string_view text(reinterpret_cast<const char*>(content.data()), content.size());
    const std::string_view digits = text.substr(0, kDigits);
    const std::string_view line_end = text.size() >= kDigits ? text.substr(kDigits) : std::string_view();
    if (!is_public_key_digits(digits) || (line_end != "\r\n" && line_end != "\n")) {
        return fail(ErrorKind::general,
                    text::format("The public key file {} does not hold 64 lower-case hexadecimal digits and a line end "
                                 "(velmarch-sign public-key --key KEY.pem --public-out FILE writes one).",
                                 name));
    }
    return std::string(digits);
}

Result<std::string> read_public_key_file(std::string_view path) {
    const auto content = read_file_bytes(std::filesystem::path(path));
    if (!content) return fail(with_context(content.error(), "The public key file could not be read: {}"));
    return read_public_key_file_text(*content, path);
}

}  // namespace velmarch::sign_tool

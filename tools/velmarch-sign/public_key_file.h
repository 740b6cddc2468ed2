#pragma once
// The public key as the tool takes, prints and writes it, and as the build
// reads it: 64 lower-case hexadecimal digits. Its file
// (VELMARCH_UPDATE_PUBLIC_KEY_FILE, scripts/release --public-key-file) holds
// the digits and CR LF, 66 bytes; a plain LF is read as well.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/result.h"

namespace velmarch::sign_tool {

// Whether `text` is exactly 64 lower-case hexadecimal digits, nothing around
// them. Upper case is refused here as the build refuses it.
bool is_public_key_digits(std::string_view text);

// The 66 bytes of the file for `hex` (64 lower-case hexadecimal digits).
std::string public_key_file_text(std::string_view hex);

// The 64 digits of the file's content, or why the content is not such a file
// (`name` is the file's name in that sentence).
[[nodiscard]] Result<std::string> read_public_key_file_text(std::span<const std::uint8_t> content,
                                                            std::string_view name);

// The 64 digits of the public key file at `path`.
[[nodiscard]] Result<std::string> read_public_key_file(std::string_view path);

}  // namespace velmarch::sign_tool

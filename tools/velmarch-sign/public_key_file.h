#pragma once
// The public key file the build reads (VELMARCH_UPDATE_PUBLIC_KEY_FILE,
// scripts/release --public-key-file): 64 lower-case hexadecimal digits and
// CR LF, 66 bytes. A plain LF is read as well.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/result.h"

namespace velmarch::sign_tool {

// The 66 bytes of the file for `hex` (64 lower-case hexadecimal digits).
std::string public_key_file_text(std::string_view hex);

// The 64 digits of the file's content, or why the content is not such a file
// (`name` is the file's name in that sentence).
[[nodiscard]] Result<std::string> read_public_key_file_text(std::span<const std::uint8_t> content,
                                                            std::string_view name);

}  // namespace velmarch::sign_tool

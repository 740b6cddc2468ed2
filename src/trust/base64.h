#pragma once
// Standard Base64 (alphabet A-Z a-z 0-9 + /, "=" padding), decoded strictly:
// only the one canonical encoding of a byte string is accepted.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/result.h"

namespace velmarch::trust {

// Refuses any character outside the alphabet (white space and the URL-safe
// "-" and "_" included), text that is not whole groups of four, padding
// anywhere but the end or other than the canonical "=" / "==", a last group
// with one significant character, and non-zero bits left over after the
// last decoded byte. The empty text is zero bytes.
[[nodiscard]] Result<std::vector<std::uint8_t>> base64_decode_strict(std::string_view text);

// Canonical padded encoding; base64_decode_strict accepts it back.
std::string base64_encode(std::span<const std::uint8_t> bytes);

}  // namespace velmarch::trust

// decode_hex_32_bytes accepts a text exactly when, trimmed, it is 64 hexadecimal
// digits, and then the bytes re-encode to the trimmed text in lower case.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/check.h"
#include "support/unicode_trim.h"
#include "text/hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string_view trimmed = fuzz_model::trim(text);
    const bool is_key_text = trimmed.size() == 64 && std::ranges::all_of(trimmed, fuzz_model::is_hex_digit);

    const auto decoded = velmarch::text::decode_hex_32_bytes(text);
    FUZZ_CHECK(decoded.has_value() == is_key_text, "acceptance differs from \"64 hex digits after trimming\"");
    if (!decoded) {
        FUZZ_CHECK(decoded.error().text == "Invalid hexadecimal value.", "unexpected refusal message");
        return 0;
    }
    FUZZ_CHECK(velmarch::text::encode_hex_lower(*decoded) == fuzz_model::ascii_lower(trimmed),
               "the bytes do not re-encode to the lower-cased trimmed text");
    return 0;
}

// Strict Base64 accepts exactly the canonical encodings. The input is used
// twice: as a text (an accepted text must re-encode to itself) and as bytes
// (their encoding must be the canonical one and decode back to them).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/base64_model.h"
#include "support/check.h"
#include "trust/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto decoded = velmarch::trust::base64_decode_strict(text);
    FUZZ_CHECK(decoded.has_value() == fuzz_model::base64_decode_strict(text).has_value(),
               "acceptance differs from \"the text is a canonical encoding\"");
    if (decoded) {
        FUZZ_CHECK(velmarch::trust::base64_encode(*decoded) == text, "an accepted text is not the canonical encoding");
        FUZZ_CHECK(decoded->size() == size / 4 * 3 - (text.ends_with("==")  ? 2
                                                      : text.ends_with("=") ? 1
                                                                            : 0),
                   "the decoded length does not follow from the text length and padding");
    }

    const std::string encoded = velmarch::trust::base64_encode(bytes);
    FUZZ_CHECK(encoded == fuzz_model::base64_encode(bytes), "the encoding differs from the canonical RFC 4648 text");
    const auto round_trip = velmarch::trust::base64_decode_strict(encoded);
    FUZZ_CHECK(round_trip.has_value(), "the canonical encoding of some bytes is refused");
    FUZZ_CHECK(std::vector<std::uint8_t>(bytes.begin(), bytes.end()) == *round_trip,
               "decoding the encoding does not give the bytes back");
    return 0;
}

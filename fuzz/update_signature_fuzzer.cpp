// verify_update_signature on arbitrary texts. The input is NUL-separated:
// version, sha256, signature, key id, algorithm and, when a sixth piece is
// present, a public key text to check against instead of the embedded key.
// Every refusal must be the fixed message of the first step that refuses.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "embedded_public_key.h"
#include "support/check.h"
#include "support/update_signature_model.h"
#include "trust/update_signature.h"

namespace {

std::vector<std::string_view> split_pieces(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (pieces.size() < 6) {
        const std::size_t nul = input.find('\0', start);
        if (nul == std::string_view::npos) {
            pieces.push_back(input.substr(start));
            break;
        }
        pieces.push_back(input.substr(start, nul - start));
        start = nul + 1;
    }
    return pieces;
}

bool is_signature_message(std::string_view message) {
    return std::ranges::find(fuzz_model::kSignatureMessages, message) != std::end(fuzz_model::kSignatureMessages);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> pieces = split_pieces(data, size);
    const bool own_key = pieces.size() == 6;
    pieces.resize(6);
    const fuzz_model::SignatureInputs in{pieces[0], pieces[1], pieces[2], pieces[3], pieces[4]};
    const std::string_view key_text =
        own_key ? pieces[5] : std::string_view(velmarch::generated::kEmbeddedUpdatePublicKey);

    const auto result = own_key ? velmarch::trust::verify_update_signature_with_key(
                                      key_text, in.version, in.sha256, in.signature, in.key_id, in.algorithm)
                                : velmarch::trust::verify_update_signature(in.version, in.sha256, in.signature,
                                                                           in.key_id, in.algorithm);
    if (!result)
        FUZZ_CHECK(is_signature_message(result.error().text), "the refusal is not one of the six fixed messages");

    const auto refusal = fuzz_model::expected_refusal(in, key_text);
    if (refusal) {
        FUZZ_CHECK(!result.has_value(), "a signature was accepted although an earlier step must refuse it");
        FUZZ_CHECK(result.error().text == *refusal, "the refusal is not the message of the first refusing step");
    } else if (!result) {
        FUZZ_CHECK(result.error().text == fuzz_model::kVerificationFailed,
                   "a well-formed 64-byte signature was refused before the curve equation");
    }

    if (!own_key) {
        const auto same = velmarch::trust::verify_update_signature_with_key(key_text, in.version, in.sha256,
                                                                            in.signature, in.key_id, in.algorithm);
        FUZZ_CHECK(same == result, "the embedded key and the same key given as text disagree");
    }
    return 0;
}

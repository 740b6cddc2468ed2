#include "commands.h"

#include <array>
#include <ostream>

#include "file_input.h"
#include "options.h"
#include "signing_key.h"
#include "text/hex.h"
#include "text/trim.h"
#include "trust/base64.h"
#include "trust/update_signature.h"

namespace velmarch::sign_tool {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

Result<int> run_keygen(Arguments arguments, std::ostream& out) {
    static constexpr std::array<std::string_view, 1> kKnown = {"out"};
    const auto options = Options::parse(arguments, kKnown);
    if (!options) return std::unexpected(options.error());
    const auto path = options->required("out");
    if (!path) return std::unexpected(path.error());

    const auto key = SigningKey::generate();
    if (!key) return std::unexpected(key.error());
    const auto public_key = key->public_key();
    if (!public_key) return std::unexpected(public_key.error());
    if (auto saved = key->save(std::filesystem::path(*path)); !saved) return std::unexpected(saved.error());
    out << text::encode_hex_lower(*public_key) << '\n';
    return kExitVerified;
}

Result<int> run_public_key(Arguments arguments, std::ostream& out) {
    static constexpr std::array<std::string_view, 1> kKnown = {"key"};
    const auto options = Options::parse(arguments, kKnown);
    if (!options) return std::unexpected(options.error());
    const auto path = options->required("key");
    if (!path) return std::unexpected(path.error());

    const auto key = SigningKey::load(std::filesystem::path(*path));
    if (!key) return std::unexpected(key.error());
    const auto public_key = key->public_key();
    if (!public_key) return std::unexpected(public_key.error());
    out << text::encode_hex_lower(*public_key) << '\n';
    return kExitVerified;
}

Result<int> run_sign(Arguments arguments, std::ostream& out) {
    static constexpr std::array<std::string_view, 3> kKnown = {"key", "version", "package"};
    const auto options = Options::parse(arguments, kKnown);
    if (!options) return std::unexpected(options.error());
    const auto key_path = options->required("key");
    if (!key_path) return std::unexpected(key_path.error());
    const auto version_option = options->required("version");
    if (!version_option) return std::unexpected(version_option.error());
    const auto package = options->required("package");
    if (!package) return std::unexpected(package.error());

    // The updater trims the version before it composes the signed text.
    const std::string_view version = text::trim(*version_option);
    if (version.empty()) return std::unexpected(std::string("The version must not be empty."));

    const auto key = SigningKey::load(std::filesystem::path(*key_path));
    if (!key) return std::unexpected(key.error());
    const auto digest = file_sha256_hex(std::filesystem::path(*package));
    if (!digest) return std::unexpected(digest.error());

    const std::string metadata = trust::compose_signed_metadata(trust::kAcceptedKeyId, version, *digest);
    const auto signature = key->sign(bytes_of(metadata));
    if (!signature) return std::unexpected(signature.error());
    const std::string signature_text = trust::base64_encode(*signature);

    // Refuse to hand out anything the updater itself would not accept.
    const auto public_key = key->public_key();
    if (!public_key) return std::unexpected(public_key.error());
    if (auto check = trust::verify_update_signature_with_key(text::encode_hex_lower(*public_key), version, *digest,
                                                             signature_text, trust::kAcceptedKeyId,
                                                             trust::kAcceptedSignatureAlgorithm);
        !check) {
        return std::unexpected("The new signature does not verify: " + check.error());
    }

    out << "--expected-sha256 " << *digest << '\n'
        << "--expected-version " << version << '\n'
        << "--signature " << signature_text << '\n'
        << "--key-id " << trust::kAcceptedKeyId << '\n'
        << "--signature-algorithm " << trust::kAcceptedSignatureAlgorithm << '\n';
    return kExitVerified;
}

Result<int> run_verify(Arguments arguments, std::ostream& out) {
    static constexpr std::array<std::string_view, 5> kKnown = {"public-key", "signature", "version", "sha256",
                                                               "message-file"};
    const auto options = Options::parse(arguments, kKnown);
    if (!options) return std::unexpected(options.error());
    const auto public_key = options->required("public-key");
    if (!public_key) return std::unexpected(public_key.error());
    const auto signature = options->required("signature");
    if (!signature) return std::unexpected(signature.error());

    const auto message_file = options->find("message-file");
    const auto version = options->find("version");
    const auto sha256 = options->find("sha256");
    Result<void> outcome;
    if (message_file) {
        if (version || sha256) {
            return std::unexpected(std::string("Give either --message-file or --version with --sha256, not both."));
        }
        const auto message = read_file_bytes(std::filesystem::path(*message_file));
        if (!message) return std::unexpected(message.error());
        outcome = trust::verify_signed_message(*public_key, *message, *signature);
    } else {
        if (!version || !sha256) {
            return std::unexpected(std::string("Give --version with --sha256, or --message-file."));
        }
        outcome = trust::verify_update_signature_with_key(*public_key, *version, *sha256, *signature,
                                                          trust::kAcceptedKeyId, trust::kAcceptedSignatureAlgorithm);
    }
    if (!outcome) {
        out << outcome.error() << '\n';
        return kExitRefused;
    }
    out << "OK\n";
    return kExitVerified;
}

}  // namespace velmarch::sign_tool

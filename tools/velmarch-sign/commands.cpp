#include "commands.h"

#include <array>
#include <ostream>

#include "file_input.h"
#include "new_file.h"
#include "options.h"
#include "public_key_file.h"
#include "signing_key.h"
#include "text/format.h"
#include "text/hex.h"
#include "text/json_string.h"
#include "trust/base64.h"
#include "trust/ed25519.h"
#include "trust/package_check.h"
#include "trust/update_signature.h"
#include "version_text.h"

namespace velmarch::sign_tool {
namespace {

// The public half of keys/development/, whose private half is in the
// repository: set by the build.
constexpr std::string_view kDevelopmentPublicKey = VELMARCH_DEVELOPMENT_PUBLIC_KEY;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

PassphraseSource passphrase_source(const Options& options) {
    PassphraseSource source;
    if (const auto file = options.find("passphrase-file")) source.file = std::filesystem::path(*file);
    return source;
}

[[nodiscard]] Result<void> require_absent(std::string_view path) {
    std::error_code error;
    if (std::filesystem::symlink_status(std::filesystem::path(path), error).type() !=
        std::filesystem::file_type::not_found) {
        return fail(ErrorKind::refused,
                    text::format("The file {} already exists, and the tool never replaces a key file.", path));
    }
    return {};
}

[[nodiscard]] Result<void> write_public_key_file(std::string_view path, std::string_view hex) {
    const std::string content = public_key_file_text(hex);
    return write_new_file(std::filesystem::path(path), std::as_bytes(std::span(content.data(), content.size())),
                          FileKind::public_key);
}

void print_public_key(std::ostream& out, std::string_view hex, bool json) {
    if (json) {
        out << "{\"publicKey\":" << text::json_string(hex) << "}\n";
    } else {
        out << hex << '\n';
    }
}

// The public key to verify with, checked as the updater checks its own. Given
// or read from a file, it is the same 64 lower-case digits.
[[nodiscard]] Result<std::string> verification_key(const Options& options) {
    const auto given = options.find("public-key");
    const auto file = options.find("public-key-file");
    if (given && file) return fail(ErrorKind::refused, "Give --public-key or --public-key-file, not both.");
    if (!given && !file)
        return fail(ErrorKind::refused, "Option --public-key or --public-key-file is required by this command.");
    std::string hex;
    if (file) {
        auto digits = read_public_key_file(*file);
        if (!digits) return std::unexpected(std::move(digits.error()));
        hex = std::move(*digits);
    } else {
        hex = std::string(*given);
    }
    const auto key = text::decode_hex_32_bytes(hex);
    if (!is_public_key_digits(hex) || !key || !trust::is_ed25519_point(*key)) {
        return fail(ErrorKind::refused,
                    "The public key given is not an Ed25519 public key of 64 lower-case hexadecimal digits.");
    }
    return hex;
}

// Refuses a signing key whose public half is not the one in the updater's
// public key file: every updater built with that file would refuse the package.
[[nodiscard]] Result<void> require_matching_key(std::string_view key_path, std::string_view public_hex,
                                                std::string_view public_key_file) {
    const auto expected = read_public_key_file(public_key_file);
    if (!expected) return std::unexpected(expected.error());
    if (*expected == public_hex) return {};
    return fail(ErrorKind::refused,
                text::format("The key {} does not match the public key file {}: it signs for {}, and updaters built "
                             "with that file accept only {}.",
                             key_path, public_key_file, public_hex, *expected));
}

// The updater's verdict: nothing when it would accept the signature.
[[nodiscard]] Result<Result<void>> verification_outcome(const Options& options, std::string_view public_key,
                                                        std::string_view signature) {
    const auto message_file = options.find("message-file");
    const auto version = options.find("version");
    const auto sha256 = options.find("sha256");
    const auto package = options.find("package");
    if (message_file) {
        if (version || sha256 || package) {
            return fail(ErrorKind::refused,
                        "Give either --message-file or --version with --sha256 or --package, not both.");
        }
        const auto message = read_file_bytes(std::filesystem::path(*message_file));
        if (!message) return fail(with_context(message.error(), "The message file could not be read: {}"));
        return trust::verify_signed_message(public_key, *message, signature);
    }
    if (!version || (!sha256 && !package)) {
        return fail(ErrorKind::refused, "Give --version with --sha256 or --package, or --message-file.");
    }
    if (sha256 && package) return fail(ErrorKind::refused, "Give --sha256 or --package, not both.");
    std::string digest;
    if (package) {
        auto computed = file_sha256_hex(std::filesystem::path(*package));
        if (!computed) return std::unexpected(std::move(computed.error()));
        digest = std::move(*computed);
    } else {
        digest = std::string(*sha256);
    }
    return trust::verify_update_signature_with_key(public_key, *version, digest, signature, trust::kAcceptedKeyId,
                                                   trust::kAcceptedSignatureAlgorithm);
}

}  // namespace

Result<int> run_keygen(Arguments arguments, const Streams& streams) {
    static constexpr std::array<std::string_view, 3> kWithValue = {"out", "public-out", "passphrase-file"};
    static constexpr std::array<std::string_view, 2> kFlags = {"unencrypted", "json"};
    const auto options = Options::parse(arguments, kWithValue, kFlags);
    if (!options) return std::unexpected(options.error());
    const auto path = options->required("out");
    if (!path) return std::unexpected(path.error());
    const auto public_out = options->find("public-out");
    const bool unencrypted = options->has_flag("unencrypted");
    if (unencrypted && options->find("passphrase-file")) {
        return fail(ErrorKind::refused, "Give --passphrase-file or --unencrypted, not both.");
    }
    if (public_out && *public_out == *path)
        return fail(ErrorKind::refused, "The private and the public key need two different files.");
    if (auto absent = require_absent(*path); !absent) return std::unexpected(absent.error());
    if (public_out) {
        if (auto absent = require_absent(*public_out); !absent) return std::unexpected(absent.error());
    }

    std::optional<Passphrase> passphrase;
    if (!unencrypted) {
        auto obtained = obtain_passphrase(
            passphrase_source(*options), "Passphrase for the new key", true,
            "The new key is encrypted with a passphrase and standard input is not a terminal to ask for one: "
            "give --passphrase-file FILE, or --unencrypted for a key kept without one.");
        if (!obtained) return std::unexpected(std::move(obtained.error()));
        passphrase.emplace(std::move(*obtained));
    }

    const auto key = SigningKey::generate();
    if (!key) return std::unexpected(key.error());
    const auto public_key = key->public_key();
    if (!public_key) return std::unexpected(public_key.error());
    const std::string hex = text::encode_hex_lower(*public_key);
    if (auto saved = key->save(std::filesystem::path(*path), passphrase ? &*passphrase : nullptr); !saved) {
        return std::unexpected(saved.error());
    }
    if (public_out) {
        if (auto written = write_public_key_file(*public_out, hex); !written) {
            std::error_code ignored;
            std::filesystem::remove(std::filesystem::path(*path), ignored);  // all or nothing
            return std::unexpected(written.error());
        }
    }
    print_public_key(streams.out, hex, options->has_flag("json"));
    return kExitDone;
}

Result<int> run_public_key(Arguments arguments, const Streams& streams) {
    static constexpr std::array<std::string_view, 3> kWithValue = {"key", "public-out", "passphrase-file"};
    static constexpr std::array<std::string_view, 1> kFlags = {"json"};
    const auto options = Options::parse(arguments, kWithValue, kFlags);
    if (!options) return std::unexpected(options.error());
    const auto path = options->required("key");
    if (!path) return std::unexpected(path.error());
    const auto public_out = options->find("public-out");
    if (public_out) {
        if (auto absent = require_absent(*public_out); !absent) return std::unexpected(absent.error());
    }

    const auto key = SigningKey::load(std::filesystem::path(*path), passphrase_source(*options));
    if (!key) return std::unexpected(key.error());
    const auto public_key = key->public_key();
    if (!public_key) return std::unexpected(public_key.error());
    const std::string hex = text::encode_hex_lower(*public_key);
    if (public_out) {
        if (auto written = write_public_key_file(*public_out, hex); !written) return std::unexpected(written.error());
    }
    print_public_key(streams.out, hex, options->has_flag("json"));
    return kExitDone;
}

Result<int> run_sign(Arguments arguments, const Streams& streams) {
    static constexpr std::array<std::string_view, 5> kWithValue = {"key", "version", "package", "passphrase-file",
                                                                   "public-key-file"};
    static constexpr std::array<std::string_view, 2> kFlags = {"allow-development-key", "json"};
    const auto options = Options::parse(arguments, kWithValue, kFlags);
    if (!options) return std::unexpected(options.error());
    const auto key_path = options->required("key");
    if (!key_path) return std::unexpected(key_path.error());
    const auto version = options->required("version");
    if (!version) return std::unexpected(version.error());
    const auto package = options->required("package");
    if (!package) return std::unexpected(package.error());
    const auto public_key_file = options->find("public-key-file");

    if (auto checked = check_version_text(*version); !checked) return std::unexpected(checked.error());
    if (!trust::has_msi_extension(platform::Path(std::filesystem::path(*package).native()))) {
        return fail(
            ErrorKind::refused,
            text::format("The package {} would be refused by the updater: its name must end in .msi.", *package));
    }

    const auto key = SigningKey::load(std::filesystem::path(*key_path), passphrase_source(*options));
    if (!key) return std::unexpected(key.error());
    const auto public_key = key->public_key();
    if (!public_key) return std::unexpected(public_key.error());
    const std::string public_hex = text::encode_hex_lower(*public_key);
    if (public_hex == kDevelopmentPublicKey && !options->has_flag("allow-development-key")) {
        return fail(ErrorKind::refused,
                    text::format(
                        "The key {} is the development key, whose private half is public: give --allow-development-key "
                        "to sign a package for tests.",
                        *key_path));
    }
    if (public_key_file) {
        if (auto matching = require_matching_key(*key_path, public_hex, *public_key_file); !matching)
            return std::unexpected(matching.error());
    }
    const auto digest = file_sha256_hex(std::filesystem::path(*package));
    if (!digest) return std::unexpected(digest.error());

    const std::string metadata = trust::compose_signed_metadata(trust::kAcceptedKeyId, *version, *digest);
    const auto signature = key->sign(bytes_of(metadata));
    if (!signature) return std::unexpected(signature.error());
    const std::string signature_text = trust::base64_encode(*signature);

    // Refuse to hand out anything the updater itself would not accept.
    if (auto check = trust::verify_update_signature_with_key(public_hex, *version, *digest, signature_text,
                                                             trust::kAcceptedKeyId, trust::kAcceptedSignatureAlgorithm);
        !check) {
        return fail(with_context(check.error(), "The new signature does not verify: {}"));
    }

    // The five options go to the application as they are; which key signed is
    // for the publisher's eyes (and, with --json, the pipeline's).
    if (options->has_flag("json")) {
        streams.out << "{\"expectedSha256\":" << text::json_string(*digest)
                    << ",\"expectedVersion\":" << text::json_string(*version)
                    << ",\"signature\":" << text::json_string(signature_text)
                    << ",\"keyId\":" << text::json_string(trust::kAcceptedKeyId)
                    << ",\"signatureAlgorithm\":" << text::json_string(trust::kAcceptedSignatureAlgorithm)
                    << ",\"publicKey\":" << text::json_string(public_hex) << "}\n";
    } else {
        // One line per option: the name, one blank, and the value up to the
        // line's end, unquoted (a version may hold blanks).
        streams.out << "--expected-sha256 " << *digest << '\n'
                    << "--expected-version " << *version << '\n'
                    << "--signature " << signature_text << '\n'
                    << "--key-id " << trust::kAcceptedKeyId << '\n'
                    << "--signature-algorithm " << trust::kAcceptedSignatureAlgorithm << '\n';
    }
    streams.out.flush();  // the options first, then the line that names the key
    if (public_key_file) {
        streams.err << text::format("velmarch-sign: Signed with public key {}, the key in {}.\n", public_hex,
                                    *public_key_file);
    } else {
        streams.err << text::format(
            "velmarch-sign: Signed with public key {}; give --public-key-file FILE to compare it with the "
            "updater's key.\n",
            public_hex);
    }
    return kExitDone;
}

Result<int> run_verify(Arguments arguments, const Streams& streams) {
    static constexpr std::array<std::string_view, 7> kWithValue = {
        "public-key", "public-key-file", "signature", "version", "sha256", "package", "message-file"};
    static constexpr std::array<std::string_view, 1> kFlags = {"json"};
    const auto options = Options::parse(arguments, kWithValue, kFlags);
    if (!options) return std::unexpected(options.error());
    const auto public_key = verification_key(*options);
    if (!public_key) return std::unexpected(public_key.error());
    const auto signature = options->required("signature");
    if (!signature) return std::unexpected(signature.error());

    const auto outcome = verification_outcome(*options, *public_key, *signature);
    if (!outcome) return std::unexpected(outcome.error());
    const bool json = options->has_flag("json");
    if (!*outcome) {
        const std::string& reason = outcome->error().text;
        if (json) streams.out << "{\"verified\":false,\"reason\":" << text::json_string(reason) << "}\n";
        streams.err << "velmarch-sign: The updater would refuse this signature: " << reason << '\n';
        return kExitRefused;
    }
    streams.out << (json ? "{\"verified\":true}\n" : "OK\n");
    return kExitDone;
}

}  // namespace velmarch::sign_tool

#include "help_text.h"

#include <array>
#include <utility>

namespace velmarch::sign_tool {
namespace {

constexpr std::string_view kUsage =
    "usage: velmarch-sign COMMAND [OPTIONS]\n"
    "\n"
    "The update publisher's tool: makes the Ed25519 key pair, signs packages the way\n"
    "the updater verifies them, and runs the updater's own signature check.\n"
    "\n"
    "commands:\n"
    "  keygen      make a new key pair\n"
    "  public-key  print or write the public key of a private key\n"
    "  sign        sign a package: prints the updater's five options\n"
    "  verify      check a signature as the updater does\n"
    "  help        this text, or `help COMMAND` for one command (also COMMAND --help)\n"
    "\n"
    "Options are written --name value or --name=value. A public key is 64 lower-case\n"
    "hexadecimal digits, as keygen prints it and the build reads it.\n"
    "\n"
    "  velmarch-sign --version   prints the tool's version\n"
    "\n"
    "exit codes:\n"
    "  0  done (verify: the updater would accept the signature)\n"
    "  1  verify: the updater would refuse the signature (the reason on standard error)\n"
    "  2  usage or input error (one sentence on standard error)\n";

constexpr std::string_view kKeygen =
    "usage: velmarch-sign keygen --out KEY.pem [--public-out FILE]\n"
    "                            [--passphrase-file FILE | --unencrypted] [--json]\n"
    "\n"
    "Makes a new Ed25519 key pair. The private key goes to KEY.pem, a new file readable\n"
    "by its owner only, as PKCS#8 PEM encrypted with a passphrase (scrypt, AES-256-CBC).\n"
    "The public key is printed as 64 hexadecimal digits.\n"
    "\n"
    "  --out KEY.pem           the private key file to create (never replaced)\n"
    "  --public-out FILE       also create the public key file the build reads\n"
    "                          (VELMARCH_UPDATE_PUBLIC_KEY_FILE): 64 digits, CR, LF\n"
    "  --passphrase-file FILE  the passphrase is the file's first line (for CI);\n"
    "                          without it the passphrase is asked for twice on the\n"
    "                          terminal, without echo\n"
    "  --unencrypted           keep the private key without a passphrase\n"
    "  --json                  print {\"publicKey\":\"...\"}\n";

constexpr std::string_view kPublicKey =
    "usage: velmarch-sign public-key --key KEY.pem [--public-out FILE]\n"
    "                                [--passphrase-file FILE] [--json]\n"
    "\n"
    "Prints the public key of a private key as 64 hexadecimal digits.\n"
    "\n"
    "  --key KEY.pem           the private key (an encrypted one asks for its passphrase)\n"
    "  --public-out FILE       also create the public key file the build reads\n"
    "  --passphrase-file FILE  the passphrase is the file's first line\n"
    "  --json                  print {\"publicKey\":\"...\"}\n";

constexpr std::string_view kSign =
    "usage: velmarch-sign sign --key KEY.pem --version VERSION --package FILE.msi\n"
    "                          [--public-key-file FILE] [--passphrase-file FILE]\n"
    "                          [--allow-development-key] [--json]\n"
    "\n"
    "Signs a package for the updater and prints the five options the application\n"
    "passes to it: --expected-sha256, --expected-version, --signature, --key-id and\n"
    "--signature-algorithm, one line each: the name, one blank, and the value up to\n"
    "the end of the line, unquoted (a version may hold blanks: read the rest of the\n"
    "line, do not split it at blanks). Standard error then names the public key that\n"
    "signed.\n"
    "\n"
    "Refused: a version that is empty, not UTF-8, holds a control character or has\n"
    "white space around it; a package whose name does not end in .msi (the updater\n"
    "would refuse it); a key whose public half is not the one in --public-key-file\n"
    "(every updater built with that file would refuse the package); the development\n"
    "key of this repository, unless --allow-development-key says the package is for\n"
    "tests.\n"
    "\n"
    "  --key KEY.pem            the private key (an encrypted one asks for its passphrase)\n"
    "  --version VERSION        the version the package installs, as the application\n"
    "                           passes it to --expected-version\n"
    "  --package FILE.msi       the package\n"
    "  --public-key-file FILE   the updater's public key file, the one its build read\n"
    "                           (VELMARCH_UPDATE_PUBLIC_KEY_FILE): the key must match it\n"
    "  --passphrase-file FILE   the passphrase is the file's first line\n"
    "  --allow-development-key  sign with the development key (tests and demos only)\n"
    "  --json                   print one JSON object: expectedSha256, expectedVersion,\n"
    "                           signature, keyId, signatureAlgorithm, and publicKey,\n"
    "                           the public key that signed\n";

constexpr std::string_view kVerify =
    "usage: velmarch-sign verify (--public-key HEX | --public-key-file FILE) --signature BASE64\n"
    "                            (--version VERSION (--sha256 HEX | --package FILE) | --message-file FILE)\n"
    "                            [--json]\n"
    "\n"
    "Runs the updater's own signature check. Prints OK and exits 0 when the updater\n"
    "would accept the signature; exits 1 with the updater's reason on standard error\n"
    "when it would refuse it.\n"
    "\n"
    "  --public-key HEX        the public key, 64 lower-case hexadecimal digits\n"
    "  --public-key-file FILE  the public key file the build reads: the same digits,\n"
    "                          then CR LF or LF\n"
    "  --signature BASE64      the signature, as the application passes it to --signature\n"
    "  --version VERSION       the version signed\n"
    "  --sha256 HEX            the package's SHA-256 digest, or\n"
    "  --package FILE          the package itself: its digest is computed here\n"
    "  --message-file FILE     the signed text itself, byte for byte\n"
    "  --json                  print {\"verified\":true} or {\"verified\":false,\"reason\":\"...\"}\n";

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kCommands = {{
    {"keygen", kKeygen},
    {"public-key", kPublicKey},
    {"sign", kSign},
    {"verify", kVerify},
    {"help", kUsage},
}};

}  // namespace

std::string_view usage_text() { return kUsage; }

std::optional<std::string_view> command_help_text(std::string_view command) {
    for (const auto& [name, help] : kCommands) {
        if (name == command) return help;
    }
    return std::nullopt;
}

}  // namespace velmarch::sign_tool

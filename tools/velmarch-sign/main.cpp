// velmarch-sign: the update publisher's tool. It makes the Ed25519 key pair,
// signs packages the way the updater verifies them, and runs the updater's
// own signature check.

#include <iostream>
#include <string_view>
#include <vector>

#include "commands.h"

namespace {

constexpr std::string_view kUsage =
    "usage:\n"
    "  velmarch-sign keygen --out KEY.pem\n"
    "  velmarch-sign public-key --key KEY.pem\n"
    "  velmarch-sign sign --key KEY.pem --version VERSION --package FILE.msi\n"
    "  velmarch-sign verify --public-key HEX --signature BASE64 (--version VERSION --sha256 HEX | --message-file FILE)\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace velmarch::sign_tool;
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    if (words.empty()) {
        std::cerr << "velmarch-sign: a command is required (keygen, public-key, sign, verify or help).\n";
        return kExitBadInput;
    }
    const std::string_view command = words.front();
    const Arguments options = Arguments(words).subspan(1);

    velmarch::Result<int> outcome;
    if (command == "keygen") {
        outcome = run_keygen(options, std::cout);
    } else if (command == "public-key") {
        outcome = run_public_key(options, std::cout);
    } else if (command == "sign") {
        outcome = run_sign(options, std::cout);
    } else if (command == "verify") {
        outcome = run_verify(options, std::cout);
    } else if (command == "help" || command == "--help") {
        std::cout << kUsage;
        return kExitVerified;
    } else {
        std::cerr << "velmarch-sign: unknown command '" << command
                  << "' (commands: keygen, public-key, sign, verify, help).\n";
        return kExitBadInput;
    }
    std::cout.flush();
    if (!outcome) {
        std::cerr << "velmarch-sign: " << outcome.error() << '\n';
        return kExitBadInput;
    }
    if (!std::cout) return kExitBadInput;
    return *outcome;
}

// velmarch-sign: the update publisher's tool. It makes the Ed25519 key pair,
// signs packages the way the updater verifies them, and runs the updater's
// own signature check.

#include <iostream>
#include <string_view>
#include <vector>

#include "commands.h"
#include "help_text.h"
#include "options.h"

namespace {

using namespace velmarch::sign_tool;

int print_help(std::string_view topic) {
    const auto help = command_help_text(topic);
    if (!help) {
        std::cerr << "velmarch-sign: There is no command '" << topic
                  << "': the commands are keygen, public-key, sign, verify and help.\n";
        return kExitBadInput;
    }
    std::cout << *help;
    return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    if (words.empty()) {
        std::cerr << "velmarch-sign: A command is required.\n\n" << usage_text();
        return kExitBadInput;
    }
    const std::string_view command = words.front();
    const Arguments options = Arguments(words).subspan(1);
    if (command == "--version" && options.empty()) {
        std::cout << "velmarch-sign " << VELMARCH_VERSION << '\n';
        return kExitDone;
    }
    if (command == "help" || command == "--help" || command == "-h") {
        if (options.size() > 1) {
            std::cerr << "velmarch-sign: The help takes one command at most.\n";
            return kExitBadInput;
        }
        return print_help(options.empty() ? std::string_view("help") : options.front());
    }
    if (command_help_text(command) && asks_for_help(options)) return print_help(command);

    const Streams streams{std::cout, std::cerr};
    velmarch::Result<int> outcome;
    if (command == "keygen") {
        outcome = run_keygen(options, streams);
    } else if (command == "public-key") {
        outcome = run_public_key(options, streams);
    } else if (command == "sign") {
        outcome = run_sign(options, streams);
    } else if (command == "verify") {
        outcome = run_verify(options, streams);
    } else {
        std::cerr << "velmarch-sign: There is no command '" << command
                  << "': the commands are keygen, public-key, sign, verify and help.\n";
        return kExitBadInput;
    }
    std::cout.flush();
    if (!outcome) {
        std::cerr << "velmarch-sign: " << outcome.error().text << '\n';
        return kExitBadInput;
    }
    if (!std::cout) {
        std::cerr << "velmarch-sign: The output could not be written.\n";
        return kExitBadInput;
    }
    return *outcome;
}

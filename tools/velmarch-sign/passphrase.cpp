#include "passphrase.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include <openssl/crypto.h>

#include "file_input.h"
#include "text/format.h"

namespace velmarch::sign_tool {
namespace {

// Echo off for as long as it lives; the terminal's settings come back even
// when reading fails.
class EchoOff {
public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    [[nodiscard]] bool active() const { return active_; }

private:
    termios saved_{};
    bool active_ = false;
};

[[nodiscard]] Result<Passphrase> read_terminal_line(std::string_view prompt) {
    // Echo off before the prompt: TCSAFLUSH drops what was typed before it.
    const EchoOff echo_off;
    if (!echo_off.active())
        return fail(ErrorKind::general, std::string("The terminal's echo could not be turned off."));
    std::cerr << prompt << std::flush;
    std::string text;
    text.reserve(256);  // never reallocated below this size: no copy left behind unwiped
    char c = 0;
    while (true) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || c == '\n') break;
        if (c != '\r') text.push_back(c);
    }
    return Passphrase(std::move(text));
}

[[nodiscard]] Result<void> require_not_empty(const Passphrase& passphrase) {
    if (passphrase.text().empty()) {
        return fail(
            ErrorKind::general,
            std::string(
                "An empty passphrase is refused: give one, or --unencrypted for a key kept without encryption."));
    }
    return {};
}

}  // namespace

Passphrase::Passphrase(Passphrase&& other) noexcept : text_(std::move(other.text_)) { other.wipe(); }

Passphrase& Passphrase::operator=(Passphrase&& other) noexcept {
    if (this != &other) {
        wipe();
        text_ = std::move(other.text_);
        other.wipe();
    }
    return *this;
}

Passphrase::~Passphrase() { wipe(); }

void Passphrase::wipe() noexcept {
    if (!text_.empty()) OPENSSL_cleanse(text_.data(), text_.size());
    text_.clear();
}

Result<Passphrase> read_passphrase_file(const std::filesystem::path& path) {
    auto bytes = read_file_bytes(path);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    std::string text(bytes->begin(), bytes->end());
    OPENSSL_cleanse(bytes->data(), bytes->size());
    const auto line_end = text.find_first_of("\r\n");
    if (line_end != std::string::npos) {
        OPENSSL_cleanse(text.data() + line_end, text.size() - line_end);
        text.resize(line_end);
    }
    Passphrase passphrase(std::move(text));
    if (passphrase.text().empty()) {
        return fail(ErrorKind::general,
                    text::format("The passphrase file {} holds no passphrase on its first line.", path.string()));
    }
    return passphrase;
}

Result<Passphrase> ask_passphrase(std::string_view prompt, bool confirm, std::string_view no_terminal) {
    if (::isatty(STDIN_FILENO) != 1) return fail(ErrorKind::general, std::string(no_terminal));
    auto first = read_terminal_line(text::format("{}: ", prompt));
    if (!first) return first;
    if (auto checked = require_not_empty(*first); !checked) return std::unexpected(std::move(checked.error()));
    if (!confirm) return first;
    auto second = read_terminal_line(text::format("{} (again): ", prompt));
    if (!second) return second;
    if (second->text() != first->text())
        return fail(ErrorKind::general, std::string("The two passphrases typed differ."));
    return first;
}

Result<Passphrase> obtain_passphrase(const PassphraseSource& source, std::string_view prompt, bool confirm,
                                     std::string_view no_terminal) {
    if (source.file) return read_passphrase_file(*source.file);
    return ask_passphrase(prompt, confirm, no_terminal);
}

}  // namespace velmarch::sign_tool

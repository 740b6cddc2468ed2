#pragma once
// The passphrase that encrypts a private key: read from a file (for CI) or
// typed at the terminal without echo. Its bytes are wiped when it goes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "text/result.h"

namespace velmarch::sign_tool {

class Passphrase {
public:
    explicit Passphrase(std::string text) : text_(std::move(text)) {}
    Passphrase(Passphrase&& other) noexcept;
    Passphrase& operator=(Passphrase&& other) noexcept;
    Passphrase(const Passphrase&) = delete;
    Passphrase& operator=(const Passphrase&) = delete;
    ~Passphrase();

    [[nodiscard]] const std::string& text() const { return text_; }

private:
    void wipe() noexcept;
    std::string text_;
};

// Where a passphrase comes from: the file named by --passphrase-file, else
// the terminal on standard input.
struct PassphraseSource {
    std::optional<std::filesystem::path> file;
};

// The first line of the file (its line end removed); refuses an empty one.
[[nodiscard]] Result<Passphrase> read_passphrase_file(const std::filesystem::path& path);

// Asks on the terminal with `prompt`, echo off; with `confirm`, asks twice
// and refuses two different answers. When standard input is not a terminal
// the refusal is `no_terminal`, a sentence that says what to give instead.
[[nodiscard]] Result<Passphrase> ask_passphrase(std::string_view prompt, bool confirm, std::string_view no_terminal);

// From the file when one is named, else from the terminal.
[[nodiscard]] Result<Passphrase> obtain_passphrase(const PassphraseSource& source, std::string_view prompt,
                                                   bool confirm, std::string_view no_terminal);

}  // namespace velmarch::sign_tool

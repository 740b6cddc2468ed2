#pragma once
// velmarch-sign run as the publisher runs it, in a scratch folder of the
// test's own: with standard input empty (not a terminal), or at a terminal
// of its own that the test reads and types at.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/scratch_folder.h"

namespace velmarch::e2e::sign_tool_run {

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

inline std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_text(const std::filesystem::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string shell_quoted(std::string_view word) {
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A fresh folder for each test, removed with everything in it.
class SignToolScratch : public ::testing::Test {
protected:
    // The tool with standard input from /dev/null.
    ToolRun run(const std::vector<std::string_view>& words) const {
        std::error_code ignored;
        std::filesystem::remove(dir_ / "out", ignored);
        std::filesystem::remove(dir_ / "err", ignored);
        // Appended piece by piece: GCC 12 at -O3 takes `" " + std::string` (an
        // insert at the front) for an overlapping copy (-Wrestrict, GCC bug 105329).
        std::string command = shell_quoted(VELMARCH_SIGN_PATH);
        for (const auto word : words) command.append(" ").append(shell_quoted(word));
        command.append(" </dev/null >").append(shell_quoted((dir_ / "out").string()));
        command.append(" 2>").append(shell_quoted((dir_ / "err").string()));
        const int status = std::system(command.c_str());
        ToolRun result;
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = read_text(dir_ / "out");
        result.err = read_text(dir_ / "err");
        return result;
    }

    velmarch::testing::ScratchFolder folder_{"velmarch-sign-test."};
    std::filesystem::path dir_ = folder_.path();
    const std::string development_key_ = std::string(VELMARCH_SOURCE_DIR) + "/keys/development/update-signing-key.pem";
};

// The tool at a terminal of its own: what it writes there is the screen.
class ToolAtATerminal {
public:
    explicit ToolAtATerminal(const std::vector<std::string>& words) {
        std::vector<char*> argv{const_cast<char*>(VELMARCH_SIGN_PATH)};
        for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        child_ = ::forkpty(&terminal_, nullptr, nullptr, nullptr);
        if (child_ == 0) {
            ::execv(VELMARCH_SIGN_PATH, argv.data());
            ::_exit(127);
        }
        if (child_ < 0) ADD_FAILURE() << "no terminal for the tool";
    }
    ToolAtATerminal(const ToolAtATerminal&) = delete;
    ToolAtATerminal& operator=(const ToolAtATerminal&) = delete;
    ~ToolAtATerminal() { static_cast<void>(finish()); }

    // Reads until `wanted` shows, the tool closes the terminal or 20 s pass;
    // whether it showed.
    bool read_until(std::string_view wanted) {
        std::array<char, 256> chunk{};
        while (screen_.find(wanted) == std::string::npos) {
            pollfd ready{terminal_, POLLIN, 0};
            if (terminal_ < 0 || ::poll(&ready, 1, 20'000) <= 0) return false;
            const ssize_t got = ::read(terminal_, chunk.data(), chunk.size());
            if (got <= 0) return false;
            screen_.append(chunk.data(), static_cast<std::size_t>(got));
        }
        return true;
    }

    void type_line(std::string_view text) {
        const std::string line = std::string(text) + "\n";
        EXPECT_EQ(::write(terminal_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }

    // Reads what is left and waits for the tool; its exit code, -1 when it
    // had to be ended.
    int finish() {
        if (child_ <= 0) return -1;
        read_until("\n\xff");  // everything until the tool is gone
        ::close(terminal_);
        terminal_ = -1;
        ::kill(child_, SIGKILL);  // if it still waits, the test has failed already
        int status = 0;
        const pid_t waited = ::waitpid(child_, &status, 0);
        child_ = -1;
        return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& screen() const { return screen_; }

private:
    int terminal_ = -1;
    pid_t child_ = -1;
    std::string screen_;
};

}  // namespace velmarch::e2e::sign_tool_run

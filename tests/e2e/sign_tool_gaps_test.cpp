// velmarch-sign at the edges of what it refuses: the last C1 control in a
// version, a key file name taken by a dangling link or taken while keygen
// waits for the passphrase, and a public key file without its line end.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/sign_tool_run.h"

namespace velmarch::e2e::sign_tool_run {
namespace {

namespace fs = std::filesystem;

using SignToolEdges = SignToolScratch;

// C1 controls are U+0080 to U+009F: both ends are refused and named, the
// first character above them is signed.
TEST_F(SignToolEdges, EveryC1ControlInAVersionIsRefusedAndNoneAbove) {
    const fs::path package = dir_ / "p.msi";
    write_text(package, "package");
    struct Case {
        std::string version;
        std::string refusal;  // "" when the version is signed
    } cases[] = {
        {"2.4\xC2\x80", "The version holds the control character U+0080"},
        {"2.4\xC2\x9F", "The version holds the control character U+009F"},
        {"2.4-\xC2\xA1", ""},  // U+00A1, a printable sign
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const ToolRun signed_run = run({"sign", "--key", development_key_, "--allow-development-key", "--version",
                                        c.version, "--package", package.string()});
        if (c.refusal.empty()) {
            EXPECT_EQ(signed_run.exit_code, 0) << signed_run.err;
            EXPECT_NE(signed_run.out.find("--expected-version " + c.version + "\n"), std::string::npos)
                << signed_run.out;
        } else {
            EXPECT_EQ(signed_run.exit_code, 2);
            EXPECT_EQ(signed_run.out, "");
            EXPECT_TRUE(signed_run.err.starts_with("velmarch-sign: " + c.refusal)) << signed_run.err;
        }
    }
}

// A link at a key file's name is an existing file, even one that leads
// nowhere: refused before the passphrase is asked for (with no terminal to
// ask at, the question would end the run with its own refusal), and nothing
// is made where the link leads.
TEST_F(SignToolEdges, ADanglingLinkAtAKeyFileNameIsRefusedBeforeThePassphrase) {
    const std::string link = (dir_ / "link.pem").string();
    const fs::path nowhere = dir_ / "nowhere";
    fs::create_symlink(nowhere, link);
    const std::string key = (dir_ / "key.pem").string();
    const std::vector<std::vector<std::string_view>> cases = {
        {"keygen", "--out", link},
        {"keygen", "--out", key, "--public-out", link},
    };
    for (const auto& words : cases) {
        SCOPED_TRACE(words.back());
        const ToolRun refused = run(words);
        EXPECT_EQ(refused.exit_code, 2);
        EXPECT_EQ(refused.err,
                  "velmarch-sign: The file " + link + " already exists, and the tool never replaces a key file.\n");
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere)));
        EXPECT_FALSE(fs::exists(key));
    }
}

// Nobody's file is replaced by a new key: a file made at --out while the
// tool waits at the terminal for the passphrase stays as it was, and no
// public key file is written for a key that was not saved.
TEST_F(SignToolEdges, AFileMadeAtTheKeysNameDuringThePassphraseStays) {
    const std::string key = (dir_ / "key.pem").string();
    const std::string public_file = (dir_ / "public.txt").string();
    ToolAtATerminal tool({"keygen", "--out", key, "--public-out", public_file});
    ASSERT_TRUE(tool.read_until("Passphrase for the new key: ")) << tool.screen();
    write_text(key, "someone's key");
    tool.type_line("tty passphrase 42");
    ASSERT_TRUE(tool.read_until("(again): ")) << tool.screen();
    tool.type_line("tty passphrase 42");
    EXPECT_EQ(tool.finish(), 2) << tool.screen();
    EXPECT_NE(tool.screen().find("velmarch-sign: The key file " + key + " could not be created: File exists."),
              std::string::npos)
        << tool.screen();
    EXPECT_EQ(read_text(key), "someone's key");
    EXPECT_FALSE(fs::exists(public_file));
}

// The key file keygen writes ends its line; one without a line end is not
// that file, and is refused as the build refuses it.
TEST_F(SignToolEdges, APublicKeyFileWithoutItsLineEndIsRefused) {
    const ToolRun shown = run({"public-key", "--key", development_key_});
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    const std::string digits = shown.out.substr(0, 64);
    const fs::path package = dir_ / "p.msi";
    write_text(package, "package");
    const ToolRun made = run({"sign", "--key", development_key_, "--allow-development-key", "--version", "1",
                              "--package", package.string(), "--json"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const std::string signature = made.out.substr(made.out.find("\"signature\":\"") + 13, 88);

    struct Case {
        const char* name;
        std::string content;
        bool accepted;
    } cases[] = {
        {"crlf", digits + "\r\n", true},
        {"none", digits, false},
        {"cr", digits + "\r", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir_ / (std::string(c.name) + ".txt");
        write_text(file, c.content);
        const ToolRun verified = run({"verify", "--public-key-file", file.string(), "--signature", signature,
                                      "--version", "1", "--package", package.string()});
        if (c.accepted) {
            EXPECT_EQ(verified.exit_code, 0) << verified.err;
            EXPECT_EQ(verified.out, "OK\n");
        } else {
            EXPECT_EQ(verified.exit_code, 2);
            EXPECT_EQ(verified.out, "");
            EXPECT_EQ(verified.err, "velmarch-sign: The public key file " + file.string() +
                                        " does not hold 64 lower-case hexadecimal digits and a line end "
                                        "(velmarch-sign public-key --key KEY.pem --public-out FILE writes one).\n");
        }
    }
}

}  // namespace
}  // namespace velmarch::e2e::sign_tool_run

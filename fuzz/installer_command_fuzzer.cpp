// Windows Installer reads the installer command exactly as meant: for every
// request the stage accepts, msiexec's splitting of the composed command line
// (the model in tests/support) gives the program, the fixed options, the
// staged package, the staged log and INSTALLDIR=<install directory>, in order,
// with nothing that another reading of msiexec's rules could split otherwise.
// The caller's log path is never on it, whatever it holds. A request is
// refused exactly when a text that msiexec receives holds a double quote, CR
// or LF.
//
// The input: a first byte whose low bit is the repair flag, then
// NUL-separated pieces: caller's log path, install directory, staged package,
// program and, optionally, the staged log (else the package's text + ".log").
// A byte below 0x80 is that code unit; bytes from 0x80 up stand for the
// Unicode white space characters, lone surrogates and other code units.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path/path.h"
#include "process/installer_command.h"
#include "support/check.h"
#include "support/msiexec_command_line.h"
#include "text/utf.h"

namespace {

constexpr std::array<char16_t, 24> kSpecial{u'\x85',   u'\xA0',   u'\x1680', u'\x2000', u'\x2001', u'\x2002',
                                            u'\x2003', u'\x2004', u'\x2005', u'\x2006', u'\x2007', u'\x2008',
                                            u'\x2009', u'\x200A', u'\x2028', u'\x2029', u'\x202F', u'\x205F',
                                            u'\x3000', u'\xFEFF', u'\xD800', u'\xDC00', u'\xFFFF', u'\xE9'};

char16_t code_unit(std::uint8_t byte) {
    if (byte < 0x80) return byte;
    const std::size_t index = byte - 0x80u;
    return index < kSpecial.size() ? kSpecial[index] : static_cast<char16_t>(byte * 0x101u);
}

std::vector<std::u16string> split_pieces(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            pieces.emplace_back();
        else
            pieces.back() += code_unit(data[i]);
    }
    return pieces;
}

velmarch::platform::Path as_path(std::u16string_view text) {
    return velmarch::platform::path_from_utf8(velmarch::text::utf16_to_utf8_lossy(text));
}

bool refusable(std::u16string_view text) { return text.find_first_of(u"\"\r\n") != std::u16string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<std::u16string> pieces = split_pieces(data + 1, size - 1);
    pieces.resize(5);
    if (pieces[4].empty()) pieces[4] = pieces[2] + u".log";
    // The options are never empty after parsing, nor are the staged package
    // and the program the stage names.
    for (const auto& piece : pieces)
        if (piece.empty()) return 0;

    velmarch::process::InstallerInputs inputs;
    inputs.repair_mode = (data[0] & 1) != 0;
    inputs.msi_log_path = as_path(pieces[0]);
    inputs.install_dir = as_path(pieces[1]);
    const velmarch::process::StagedInstall staged{as_path(pieces[2]), as_path(pieces[4])};
    const velmarch::platform::Path program = as_path(pieces[3]);

    // The texts as the stage passes them on (ill-formed UTF-16 already replaced).
    using velmarch::platform::path_to_utf16;
    const std::u16string log = path_to_utf16(inputs.msi_log_path);
    const std::u16string dir = path_to_utf16(inputs.install_dir);
    const std::u16string package = path_to_utf16(staged.package);
    const std::u16string staged_log = path_to_utf16(staged.installer_log);
    const std::u16string installer = path_to_utf16(program);

    const auto command = velmarch::process::build_installer_command(inputs, staged, program);
    if (refusable(dir)) {
        FUZZ_CHECK(
            !command && command.error().text == "The current install directory cannot be passed to Windows Installer.",
            "an install directory with a quote, CR or LF was not refused");
        return 0;
    }
    if (refusable(package) || refusable(staged_log) || refusable(installer)) {
        FUZZ_CHECK(!command && command.error().text == "The Windows directory cannot be passed to Windows Installer.",
                   "a staged package, staged log or program path with a quote, CR or LF was not refused");
        return 0;
    }
    FUZZ_CHECK(command.has_value(), "a request without a quote, CR or LF was refused");
    if (installer.find(u'\0') != std::u16string::npos || log.find(u'\0') != std::u16string::npos ||
        dir.find(u'\0') != std::u16string::npos || package.find(u'\0') != std::u16string::npos ||
        staged_log.find(u'\0') != std::u16string::npos)
        return 0;  // cannot come from the pieces

    const auto composed = velmarch::process::compose_command_line(installer, command->arguments);
    FUZZ_CHECK(composed.has_value(), "composition failed");

    std::vector<std::u16string> intended{
        installer, u"/i", package, u"/passive", u"/norestart", u"VELMARCH_INSTALLDIR_LOCK=1", u"/L*v", staged_log};
    if (inputs.repair_mode) intended.insert(intended.end(), {u"REINSTALL=ALL", u"REINSTALLMODE=amus"});
    intended.push_back(u"INSTALLDIR=" + dir);

    const velmarch::testing::MsiexecSplit split = velmarch::testing::split_msiexec_command_line(*composed);
    FUZZ_CHECK(split.doubts.empty(), "msiexec could read the command line otherwise");
    FUZZ_CHECK(split.arguments == intended, "msiexec does not read the intended arguments");
    return 0;
}

#!/usr/bin/env python3
"""Shows that check_resources.py refuses what it must: the import rule over
lists of names, and the whole check over copies of the built executable whose
import directory was rewritten to name bcrypt.dll or crypt32.dll statically,
or whose Terminal-Server-aware flag was cleared.

Usage: check_resources_test.py <velmarch-updater.exe> --version <major.minor.patch>
"""

import argparse
import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parent))
import check_resources  # noqa: E402

EXPECTED_STATIC = ["ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll", "ntdll.dll", "USER32.dll"]
EXECUTABLE = None
VERSION = None


def import_failures(static, delayed):
    findings = check_resources.Findings()
    check_resources.check_imports(static, delayed, findings)
    return findings.failures


class ImportRule(unittest.TestCase):
    def test_the_expected_imports_pass(self):
        self.assertEqual(import_failures(EXPECTED_STATIC, ["bcrypt.dll"]), [])

    def test_a_static_crypto_import_fails(self):
        for name in ("bcrypt.dll", "BCRYPT.dll", "crypt32.dll", "CRYPT32.dll"):
            failures = import_failures(EXPECTED_STATIC + [name], ["bcrypt.dll"])
            self.assertIn(f"{name} is imported statically; it may only be loaded lazily, from System32", failures)

    def test_any_other_difference_fails(self):
        for static, delayed in ((EXPECTED_STATIC + ["shell32.dll"], ["bcrypt.dll"]),
                                (EXPECTED_STATIC[1:], ["bcrypt.dll"]),
                                (EXPECTED_STATIC, []),
                                (EXPECTED_STATIC, ["bcrypt.dll", "crypt32.dll"])):
            self.assertNotEqual(import_failures(static, delayed), [], (static, delayed))


def rewrite_static_import(source: Path, target: Path, old: str, new: str):
    """Copies the executable with the name of the static import `old` replaced by `new` (no longer than it)."""
    pe = pefile.PE(str(source))
    entry = next(entry for entry in pe.DIRECTORY_ENTRY_IMPORT if entry.dll.decode().lower() == old.lower())
    offset = pe.get_offset_from_rva(entry.struct.Name)
    pe.close()
    data = bytearray(source.read_bytes())
    assert data[offset:offset + len(old)].decode().lower() == old.lower()
    data[offset:offset + len(old) + 1] = new.encode().ljust(len(old) + 1, b"\0")
    target.write_bytes(bytes(data))


class CraftedExecutable(unittest.TestCase):
    def run_check(self, path: Path):
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            code = check_resources.main([str(path), "--version", VERSION])
        return code, err.getvalue()

    def test_the_built_executable_passes(self):
        self.assertEqual(self.run_check(Path(EXECUTABLE)), (0, ""))

    def test_a_static_bcrypt_or_crypt32_import_fails(self):
        with tempfile.TemporaryDirectory() as work:
            for old, new in (("USER32.dll", "bcrypt.dll"), ("ADVAPI32.dll", "crypt32.dll")):
                crafted = Path(work) / f"static-{new}.exe"
                rewrite_static_import(Path(EXECUTABLE), crafted, old, new)
                code, err = self.run_check(crafted)
                self.assertEqual(code, 1, err)
                self.assertIn(f"{new} is imported statically", err)

    def test_an_executable_not_marked_terminal_server_aware_fails(self):
        with tempfile.TemporaryDirectory() as work:
            crafted = Path(work) / "not-ts-aware.exe"
            pe = pefile.PE(EXECUTABLE)
            pe.OPTIONAL_HEADER.DllCharacteristics &= ~check_resources.TERMINAL_SERVER_AWARE
            pe.write(str(crafted))
            pe.close()
            code, err = self.run_check(crafted)
            self.assertEqual(code, 1, err)
            self.assertIn("not marked Terminal-Server-aware", err)


def main():
    global EXECUTABLE, VERSION
    parser = argparse.ArgumentParser()
    parser.add_argument("executable")
    parser.add_argument("--version", required=True)
    args, rest = parser.parse_known_args()
    EXECUTABLE, VERSION = args.executable, args.version
    return unittest.main(argv=[sys.argv[0], *rest], exit=False).result.wasSuccessful()


if __name__ == "__main__":
    sys.exit(0 if main() else 1)

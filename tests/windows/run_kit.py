#!/usr/bin/env python3
"""The Windows test kit under Wine.

Packs the kit with scripts/make-test-kit, unpacks it into a temporary folder
and runs velmarch-windows-checks.exe in a fresh Wine prefix. What Wine can do
must pass (the real update through Wine's msiexec, the unit tests); what it
cannot (stored access lists, junctions, symbolic links, RedirectionGuard) must
show as skipped with a reason, never as passed; the last line must be the
summary.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

WINE_PASSES = {"real-update", "unit-tests"}
WINE_SKIPS = {"staging-access-list", "planted-junction", "share-junction", "created-folder-junction",
              "swapped-log-folder", "user-symbolic-link", "redirection-guard", "stale-staging"}
SUMMARY = re.compile(r"^(\d+) passed, (\d+) failed, (\d+) skipped$")
CHECK_LINE = re.compile(r"^(PASS|FAIL|SKIP) ([a-z-]+): (.*)$")


def refuses_another_key(make_test_kit, work: Path):
    """A build that embeds another key than the development key gets no kit."""
    build = work / "production-build"
    (build / "generated").mkdir(parents=True)
    (build / "CMakeCache.txt").write_text("CMAKE_PROJECT_VERSION:STATIC=9.9.9\n")
    (build / "generated" / "embedded_public_key.h").write_text(
        'inline constexpr char kEmbeddedUpdatePublicKey[] = "' + "ab" * 32 + '\\r\\n";\n')
    completed = subprocess.run([make_test_kit, str(build), str(work / "refused.zip")],
                               capture_output=True, text=True)
    refused = completed.returncode != 0 and "development key" in completed.stderr \
        and not (work / "refused.zip").exists()
    return None if refused else f"make-test-kit packed a build with another key: {completed.stderr!r}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--make-test-kit", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--sign", required=True)
    args = parser.parse_args()

    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="velmarch-windows-kit.") as work:
        work = Path(work)
        archive = work / "kit.zip"
        refusal = refuses_another_key(args.make_test_kit, work)
        subprocess.run([args.make_test_kit, "--sign-tool", args.sign, args.build, str(archive)],
                       check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, WINEPREFIX=str(work / "prefix"), WINEDEBUG="-all", WINEARCH="win64",
                   WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
        subprocess.run(["wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, check=True)
        # No drive Z: the kit must bring everything it reads, as on a machine
        # without this source tree.
        (work / "prefix" / "dosdevices" / "z:").unlink(missing_ok=True)
        unpacked = work / "prefix" / "drive_c" / "kit"
        with zipfile.ZipFile(archive) as opened:
            opened.extractall(unpacked)
        folders = list(unpacked.iterdir())
        if len(folders) != 1 or not re.fullmatch(r"velmarch-updater-[0-9.]+-windows-tests", folders[0].name):
            print(f"FAILED the zip holds {[f.name for f in folders]}, not one kit folder")
            return 1
        kit = folders[0]

        try:
            completed = subprocess.run(["wine", str(kit / "velmarch-windows-checks.exe")], env=env,
                                       capture_output=True, timeout=240, cwd=kit)
        finally:
            subprocess.run(["wineserver", "-k"], env=env)
            subprocess.run(["wineserver", "-w"], env=env)
    output = completed.stdout.decode(errors="replace").replace("\r\n", "\n")
    print(output, end="")
    print(f"(kit run under Wine, packing included: {time.monotonic() - started:.1f} s)")

    problems = [refusal] if refusal else []
    lines = output.rstrip("\n").split("\n")
    summary = SUMMARY.match(lines[-1])
    verdicts = {}
    for line in lines:
        match = CHECK_LINE.match(line)
        if match:
            verdicts[match.group(2)] = (match.group(1), match.group(3))
    if summary is None:
        problems.append(f"the last line is not the summary: {lines[-1]!r}")
    else:
        passed, failed, skipped = (int(n) for n in summary.groups())
        if failed != 0:
            problems.append(f"{failed} checks failed")
        if passed < len(WINE_PASSES):
            problems.append(f"only {passed} checks passed")
        if (passed, failed, skipped) != tuple(
                sum(1 for verdict, _ in verdicts.values() if verdict == word) for word in ("PASS", "FAIL", "SKIP")):
            problems.append("the summary does not count the check lines")
    for name in WINE_PASSES:
        if verdicts.get(name, ("missing",))[0] != "PASS":
            problems.append(f"{name} did not pass under Wine: {verdicts.get(name)}")
    for name in WINE_SKIPS:
        verdict, reason = verdicts.get(name, ("missing", ""))
        if verdict != "SKIP" or not reason:
            problems.append(f"{name} is not skipped with a reason under Wine: {verdicts.get(name)}")
    if completed.returncode != (1 if summary and int(summary.group(2)) else 0):
        problems.append(f"exit code {completed.returncode} does not match the summary")
    for problem in problems:
        print("FAILED " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

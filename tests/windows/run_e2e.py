#!/usr/bin/env python3
"""The real Windows updater, end to end, under Wine.

One private Wine prefix per run, shared by the cases of that run. Cases:
a real update with Wine's own Windows Installer and a real MSI, the same
through the example launcher of examples/, every installer exit code
through a stand-in msiexec.exe, refused packages, failures before the
installer and awkward paths.

The updater is started through velmarch-run-and-report.exe, which reads its
full 32-bit exit code; a POSIX shell would see only 8 bits of it.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

STARTED = "Velmarch native updater started."
STAGED = "The update package was copied to restricted staging and verified again."
ALREADY_EXITED = "The previous process has already exited."
STARTING = "Starting Windows Installer."
RESTART_LINE = re.compile(r"^Application restart requested through C:\\windows\\explorer\.exe with process id \d+\.$",
                          re.IGNORECASE)
VERSION = "2.4.0"
STAGING_NAME = re.compile(r"^VelmarchUpdate-\d+-[0-9a-f]{32}$")
STAGED_LOG = r"C:\\windows\\Temp\\VelmarchUpdate-\d+-[0-9a-f]{32}\\velmarch-installer\.log"
BUSY = "Windows Installer is busy with another installation; trying again in {} seconds."


class Failures:
    def __init__(self):
        self.messages = []
        self.case = ""

    def check(self, condition, what, detail=""):
        if not condition:
            self.messages.append(f"[{self.case}] {what}" + (f"\n    {detail}" if detail else ""))
        return condition

    def equal(self, actual, expected, what):
        return self.check(actual == expected, what, f"expected: {expected!r}\n    actual:   {actual!r}")


class Wine:
    """A private prefix; Windows paths are derived from paths under drive_c."""

    def __init__(self, prefix: Path):
        self.prefix = prefix
        self.drive_c = prefix / "drive_c"
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=",
                        LC_ALL="C.UTF-8")
        subprocess.run(["wineboot", "-i"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, check=True)
        self.system32 = self.drive_c / "windows" / "system32"
        self.temp = self.drive_c / "windows" / "temp"
        self.wine_msiexec = prefix / "wine-msiexec.exe"
        shutil.copy2(self.system32 / "msiexec.exe", self.wine_msiexec)

    def win(self, path: Path) -> str:
        return "C:\\" + str(Path(path).relative_to(self.drive_c)).replace("/", "\\")

    def run(self, arguments, extra_env=None, timeout=120):
        env = dict(self.env, **(extra_env or {}))
        return subprocess.run(["wine", *arguments], env=env, capture_output=True, timeout=timeout)

    def start(self, arguments):
        return subprocess.Popen(["wine", *arguments], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def use_stand_in_installer(self, stand_in: Path):
        shutil.copy2(stand_in, self.system32 / "msiexec.exe")

    def use_wine_installer(self):
        shutil.copy2(self.wine_msiexec, self.system32 / "msiexec.exe")

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        subprocess.run(["wineserver", "-w"], env=self.env)


def wait_for(predicate, seconds=15.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


def read_text(path: Path):
    try:
        return path.read_text(encoding="utf-8")
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
        return None


def log_messages(path: Path):
    """The helper log's messages without their "[seconds] " stamps."""
    text = read_text(path)
    if text is None:
        return None
    messages = []
    for line in text.split("\n")[:-1]:
        match = re.fullmatch(r"\[(\d+)\] (.*)", line, re.DOTALL)
        messages.append(match.group(2) if match else "UNSTAMPED: " + line)
    return messages


def installer_log_text(path: Path):
    """Windows Installer writes its verbose log in UTF-16 with a byte-order mark; Wine's in ANSI."""
    if not path.exists():
        return ""
    data = path.read_bytes()
    if data.startswith(b"\xff\xfe"):
        return data.decode("utf-16", errors="replace")
    return data.decode("utf-8", errors="replace")


def stand_in_log(run, code):
    """What the stand-in installer writes after /L*v: UTF-16 with a byte-order mark."""
    return b"\xff\xfe" + f"stand-in run {run}, exit code {code}\r\n".encode("utf-16-le")


def quoted(path):
    """How the launcher writes a path argument: quoted only around blanks."""
    return f'"{path}"' if " " in path or "\t" in path else path


def expected_result(status, code, message, version=VERSION):
    return json.dumps({"status": status, "exitCode": code, "message": message, "expectedVersion": version},
                      separators=(",", ":"), ensure_ascii=False)


class Suite:
    def __init__(self, args, work: Path):
        self.args = args
        self.work = work
        self.failures = Failures()
        self.wine = Wine(work / "prefix")
        tools = self.wine.drive_c / "velmarch-tools"
        tools.mkdir()
        helpers = Path(args.helpers)
        for name in ("velmarch-run-and-report.exe", "stand-in-msiexec.exe", "test-app.exe"):
            shutil.copy2(helpers / name, tools / name)
        shutil.copy2(args.launcher, tools / "launch-updater.exe")
        shutil.copy2(args.updater, tools / "velmarch-updater.exe")
        self.tools = tools
        self.package = self.build_package(VERSION)
        self.signatures = {}

    # --- packages ----------------------------------------------------------------

    def build_package(self, version):
        source = self.work / f"package-{version}"
        source.mkdir()
        shutil.copy2(self.tools / "test-app.exe", source / "test-app.exe")
        (source / "version.txt").write_text(version + "\n")
        package = source / "velmarch.msi"
        subprocess.run(["wixl", "-a", "x64", "-D", f"Version={version}", "-o", str(package),
                        self.args.package_source], cwd=source, check=True, capture_output=True)
        return package

    def sign(self, package: Path, version=VERSION):
        lines = subprocess.run([self.args.sign, "sign", "--key", self.args.key, "--allow-development-key", "--version", version,
                                "--package", str(package)], check=True, capture_output=True,
                               text=True).stdout.split("\n")
        options = {}
        for line in filter(None, lines):
            name, value = line.split(" ", 1)
            options[name] = value
        return options

    # --- one updater run -----------------------------------------------------------

    def machine(self, name, decoration=""):
        """A fresh case directory with Downloads, Logs and an install directory."""
        root = self.wine.drive_c / "e2e" / (name + decoration)
        for sub in ("Downloads", "Logs"):
            (root / (sub + decoration)).mkdir(parents=True)
        install = root / ("Program Files" + decoration) / ("Velmarch" + decoration)
        downloaded = root / ("Downloads" + decoration) / f"velmarch-{VERSION}.msi"
        shutil.copy2(self.package, downloaded)
        logs = root / ("Logs" + decoration)
        return {
            "root": root, "install": install, "downloaded": downloaded,
            "app": install / "test-app.exe", "msi_log": logs / "msi.log",
            "helper_log": logs / "helper.log", "result": logs / "result.json",
            "record": root / "stand-in.record",
        }

    def preinstall(self, m, version):
        m["install"].mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.tools / "test-app.exe", m["app"])
        (m["install"] / "version.txt").write_text(version + "\n")

    def options(self, m, parent_pid, signed, overrides=None):
        w = self.wine.win
        values = {
            "--parent-process-id": str(parent_pid),
            "--msi-path": w(m["downloaded"]),
            "--install-dir": w(m["install"]),
            "--app-path": w(m["app"]),
            "--msi-log-path": w(m["msi_log"]),
            "--helper-log-path": w(m["helper_log"]),
            "--result-path": w(m["result"]),
        }
        values.update(signed)
        values.update(overrides or {})
        return [item for pair in values.items() for item in pair]

    def run_updater(self, arguments, extra_env=None, stderr_file=None):
        env = dict(extra_env or {})
        if stderr_file is not None:
            env["VELMARCH_REPORT_STDERR"] = self.wine.win(stderr_file)
        before = set(os.listdir(self.wine.temp))
        completed = self.wine.run([str(self.tools / "velmarch-run-and-report.exe"),
                                   self.wine.win(self.tools / "velmarch-updater.exe"), *arguments], env)
        self.failures.check(completed.returncode == 0, "velmarch-run-and-report could not run the updater",
                            completed.stderr.decode(errors="replace"))
        output = completed.stdout.decode(errors="replace").strip()
        code = int(output) if re.fullmatch(r"-?\d+", output) else None
        left = sorted(set(os.listdir(self.wine.temp)) - before)
        self.failures.equal(left, [], "nothing is left in C:\\windows\\Temp after the run")
        return code

    def stand_in_env(self, m, exit_code, digest, busy_runs=None):
        env = {"WINEDLLOVERRIDES": "mscoree,mshtml=;msiexec.exe=n",
               "VELMARCH_STAND_IN_RECORD": self.wine.win(m["record"]),
               "VELMARCH_STAND_IN_EXPECTED_SHA256": digest,
               "VELMARCH_STAND_IN_EXIT_CODE": str(exit_code & 0xFFFFFFFF)}
        if busy_runs is not None:
            busy = m["root"] / "busy-runs.txt"
            busy.write_text(str(busy_runs))
            env["VELMARCH_STAND_IN_BUSY_FILE"] = self.wine.win(busy)
        return env

    def restarted(self, m, expected):
        """Whether the shell started the installed application (it records "started")."""
        record = m["install"] / "test-app.record"
        started = lambda: "started in " in (read_text(record) or "")
        if expected:
            return wait_for(started)
        time.sleep(1.0)
        return started()

    def check_stand_in_record(self, m):
        text = read_text(m["record"]) or ""
        f = self.failures
        f.check("digest ok" in text.split("\n"), "the stand-in installer found the signed package", text)
        package = re.search(r"^package: (.*)$", text, re.MULTILINE)
        if f.check(package is not None, "the stand-in installer was given a package", text):
            parts = package.group(1).split("\\")
            f.check(len(parts) == 5 and parts[0].upper() == "C:" and parts[1].lower() == "windows"
                    and parts[2].lower() == "temp" and STAGING_NAME.match(parts[3]) is not None
                    and parts[4] == "velmarch-update.msi",
                    "the installer runs on the staged copy in the protected temporary directory", package.group(1))
        f.check("package directory exists: yes" in text, "the staging directory exists while the installer runs")
        return text

    # --- cases ---------------------------------------------------------------------

    def case(self, name):
        self.failures.case = name
        print(f"--- {name}", flush=True)
        return time.monotonic()

    def real_update(self, decoration=""):
        started = self.case("real update with Wine's Windows Installer" +
                            (f", paths decorated with {decoration!r}" if decoration else ""))
        f = self.failures
        self.wine.use_wine_installer()
        m = self.machine("real", decoration)
        signed = self.sign(self.package)
        pid_file = m["root"] / "previous.pid"
        previous = self.wine.start([str(self.tools / "test-app.exe"), "--sleep-ms", "4000",
                                    "--pid-file", self.wine.win(pid_file)])
        try:
            f.check(wait_for(lambda: (read_text(pid_file) or "").endswith("\n")), "the previous process is up")
            pid = int((read_text(pid_file) or "0").strip())
            code = self.run_updater(self.options(m, pid, signed))
        finally:
            previous.wait(timeout=30)
        f.equal(code, 0, "exit code")
        f.equal(read_text(m["result"]), expected_result("success", 0, ""), "result file")
        messages = log_messages(m["helper_log"]) or []
        f.equal(messages[:5], [STARTED, STAGED, f"Waiting for process {pid} to exit.", STARTING,
                               "Windows Installer exited with code 0."], "helper log")
        f.check(len(messages) == 6 and RESTART_LINE.match(messages[-1]) is not None, "restart line", messages)
        f.equal((read_text(m["install"] / "version.txt") or "").strip(), VERSION, "installed version file")
        record = read_text(m["install"] / "test-app.record") or ""
        f.check(f"verify {VERSION} in {self.wine.win(m['install'])}" in record,
                "the installed application confirmed its version in the install directory", record)
        f.check(self.restarted(m, True), "the shell restarted the installed application")
        msi_log = installer_log_text(m["msi_log"])
        staged = re.search(r"C:\\windows\\Temp\\VelmarchUpdate-\d+-[0-9a-f]{32}\\velmarch-update\.msi",
                           msi_log, re.IGNORECASE)
        f.check(staged is not None, "Windows Installer's log, copied from staging to the caller's path, names the "
                "staged package", msi_log[:400])
        f.check(m["downloaded"].exists(), "the downloaded package is kept")
        print(f"    {time.monotonic() - started:.1f} s", flush=True)

    def smuggled_installer_options(self):
        """msiexec reads a double quote as the end of a quoted value and a backslash literally, so a log path
        holding one could carry options of its own: a second package, or an INSTALLDIR that moves the install.
        The caller's log path never reaches msiexec (/L*v names the staged log), so with Wine's real msiexec in
        place such a run installs the verified package where it was asked to, and nothing else anywhere."""
        f = self.failures
        self.wine.use_wine_installer()
        signed = self.sign(self.package)
        second = self.build_package("9.9.9")
        installed_files = lambda: {path for name in ("version.txt", "test-app.exe")
                                   for path in self.wine.drive_c.rglob(name)}
        # Paths without blanks, as an attacker would choose them: msiexec would
        # take every smuggled option whole.
        for name, machine, tail in (("a second package", "smuggle-package", ' /i {second} Z='),
                                    ("another install directory", "smuggle-installdir", ' INSTALLDIR={elsewhere} Z=')):
            self.case(f"a log path that would smuggle {name} into Windows Installer")
            m = self.machine(machine)
            second_copy = m["root"] / "Downloads" / "second.msi"
            shutil.copy2(second, second_copy)
            elsewhere = m["root"] / "Elsewhere"
            log_path = self.wine.win(m["msi_log"]) + '"' + tail.format(second=self.wine.win(second_copy),
                                                                        elsewhere=self.wine.win(elsewhere))
            before = installed_files()
            code = self.run_updater(self.options(m, 0, signed, {"--msi-log-path": log_path}))
            f.equal(code, 0, "the updater's exit code")
            f.equal(read_text(m["result"]), expected_result("success", 0, ""), "result file")
            messages = log_messages(m["helper_log"]) or []
            f.equal(messages[:5], [STARTED, STAGED, ALREADY_EXITED, STARTING, "Windows Installer exited with code 0."],
                    "helper log")
            f.equal((read_text(m["install"] / "version.txt") or "").strip(), VERSION, "installed version file")
            f.check(not elsewhere.exists(), "nothing is installed in the smuggled install directory")
            second_files = [str(path) for path in self.wine.drive_c.rglob("version.txt")
                            if (read_text(path) or "").strip() == "9.9.9"]
            f.equal(second_files, [], "files of the second package")
            f.equal(sorted(str(path) for path in installed_files() - before if m["install"] not in path.parents), [],
                    "files installed outside the install directory")

    def exit_code_rows(self):
        signed = self.sign(self.package)
        digest = signed["--expected-sha256"]
        not_confirmed = (f"The installed application did not report expected version {VERSION} "
                         "after Windows Installer completed.")
        rows = [
            # installer code, installed version, status, result code, message, process code, restart
            (0, VERSION, "success", 0, "", 0, True),
            (0, "2.3.1", "installVerificationFailed", 1603, not_confirmed, 1603, True),
            (1638, VERSION, "versionConflict", 1638,
             f"Windows Installer reported that version {VERSION} conflicts with the product already "
             "registered on this computer.", 1638, True),
            (1641, VERSION, "restartInitiated", 1641, "Windows has started a restart to finish the update.", 0, False),
            (3010, VERSION, "restartRequired", 3010, "Windows restart is required to finish the update.", 0, False),
            (1603, VERSION, "error", 1603, "Windows Installer exited with code 1603.", 1603, True),
            (-1073741819, VERSION, "error", -1073741819, "Windows Installer exited with code -1073741819.",
             -1073741819, True),
        ]
        for installer_code, installed, status, result_code, message, process_code, restart in rows:
            self.case(f"installer exit code {installer_code}, installed version {installed}")
            f = self.failures
            m = self.machine(f"code {installer_code} {installed}")
            self.preinstall(m, installed)
            m["msi_log"].write_text("an earlier run's installer log, longer than this run's " * 4)
            code = self.run_updater(self.options(m, 0, signed), self.stand_in_env(m, installer_code, digest))
            f.equal(code, process_code, "the updater's 32-bit exit code")
            f.equal(read_text(m["result"]), expected_result(status, result_code, message), "result file")
            expected_log = [STARTED, STAGED, ALREADY_EXITED, STARTING,
                            f"Windows Installer exited with code {installer_code}."]
            if status == "installVerificationFailed":
                expected_log.append(message)
            messages = log_messages(m["helper_log"]) or []
            f.equal(messages[:len(expected_log)], expected_log, "helper log")
            if restart:
                f.check(len(messages) == len(expected_log) + 1 and RESTART_LINE.match(messages[-1]) is not None,
                        "restart line ends the log", messages)
            else:
                f.equal(len(messages), len(expected_log), "no restart line")
            f.equal(self.restarted(m, restart), restart, "application restarted")
            text = self.check_stand_in_record(m)
            arguments = re.search(r"^command line: (.*)$", text, re.MULTILINE)
            f.check(arguments is not None and re.search(
                " /passive /norestart VELMARCH_INSTALLDIR_LOCK=1 /L\\*v " + STAGED_LOG + " " +
                re.escape(f'INSTALLDIR="{self.wine.win(m["install"])}"') + "$", arguments.group(1),
                re.IGNORECASE) is not None, "installer command line: its log goes into staging", text)
            f.equal(m["msi_log"].read_bytes() if m["msi_log"].exists() else None, stand_in_log(1, installer_code),
                    "the caller's installer log holds exactly what the installer wrote")
            verified = (read_text(m["install"] / "test-app.record") or "").count("verify ")
            f.equal(verified, 1 if installer_code == 0 else 0, "version checks run")

    def busy_installer(self):
        """Windows Installer answers 1618 while another installation holds it: the updater starts it again after
        5, 10 and 20 seconds, four runs in all, and delivers every run's log in order. The case that never stops
        being busy takes the whole 35 s wait, once."""
        signed = self.sign(self.package)
        digest = signed["--expected-sha256"]
        for busy_runs, runs, final_code in ((1, 2, 0), (4, 4, 1618)):
            started = self.case(f"Windows Installer busy for {busy_runs} run(s)")
            f = self.failures
            m = self.machine(f"busy {busy_runs}")
            self.preinstall(m, VERSION)
            code = self.run_updater(self.options(m, 0, signed), self.stand_in_env(m, 0, digest, busy_runs))
            elapsed = time.monotonic() - started
            waits = [5, 10, 20][:runs - 1]
            f.check(elapsed >= sum(waits), f"the run waited {sum(waits)} s in all", f"{elapsed:.1f} s")
            f.equal(code, final_code, "the updater's 32-bit exit code")
            if final_code == 0:
                f.equal(read_text(m["result"]), expected_result("success", 0, ""), "result file")
            else:
                f.equal(read_text(m["result"]),
                        expected_result("error", 1618, "Windows Installer exited with code 1618."), "result file")
            expected_log = [STARTED, STAGED, ALREADY_EXITED, STARTING]
            for run in range(runs):
                expected_log.append(f"Windows Installer exited with code {1618 if run < busy_runs else 0}.")
                if run < runs - 1:
                    expected_log.append(BUSY.format(waits[run]))
            messages = log_messages(m["helper_log"]) or []
            f.equal(messages[:len(expected_log)], expected_log, "helper log")
            f.check(len(messages) == len(expected_log) + 1 and RESTART_LINE.match(messages[-1]) is not None,
                    "restart line ends the log", messages)
            record = read_text(m["record"]) or ""
            f.equal(record.count("command line: "), runs, "installer runs")
            f.equal(record.count("digest ok"), runs, "every run installs the verified staged copy")
            delivered = b"".join(stand_in_log(run + 1, 1618 if run < busy_runs else 0) for run in range(runs))
            f.equal(m["msi_log"].read_bytes() if m["msi_log"].exists() else None, delivered,
                    "the caller's installer log holds every run's log, in order")
            f.equal((read_text(m["install"] / "test-app.record") or "").count("verify "), 1 if final_code == 0 else 0,
                    "version checks run")
            print(f"    {elapsed:.1f} s", flush=True)

    def refused_packages(self):
        signed = self.sign(self.package)
        cases = [
            ("digest mismatch", {"--expected-sha256": "0" * 64}, None,
             "Update package SHA-256 verification failed."),
            ("signature of another version", self.sign(self.package, "2.5.0") | {"--expected-version": VERSION},
             None, "Update signature verification failed."),
            ("not an .msi", None, "velmarch-2.4.0.txt", "The downloaded update package is not a valid MSI file."),
        ]
        for name, overrides, renamed, message in cases:
            self.case(f"refused package: {name}")
            f = self.failures
            m = self.machine("refused " + name)
            self.preinstall(m, VERSION)
            options = dict(signed)
            if renamed:
                moved = m["downloaded"].with_name(renamed)
                m["downloaded"].rename(moved)
                m["downloaded"] = moved
                # The signature of the same bytes under their .msi name (it does not cover the name):
                # velmarch-sign refuses to sign a name the updater would refuse.
            options.update(overrides or {})
            digest = signed["--expected-sha256"]
            code = self.run_updater(self.options(m, 0, options), self.stand_in_env(m, 0, digest))
            f.equal(code, 1603, "the updater's exit code")
            f.equal(read_text(m["result"]), expected_result("error", 1603, message), "result file")
            messages = log_messages(m["helper_log"]) or []
            f.equal(messages[:2], [STARTED, "Package verification failed: " + message], "helper log")
            f.check(len(messages) == 3 and RESTART_LINE.match(messages[-1]) is not None, "restart line", messages)
            f.check(self.restarted(m, True), "the application is restarted")
            if renamed:
                f.check(m["downloaded"].exists(), "a file not named like a package is never deleted")
            else:
                f.check(not m["downloaded"].exists(), "the refused download is deleted")
            f.check(not m["record"].exists(), "Windows Installer is not started")

    def failures_before_the_installer(self):
        signed = self.sign(self.package)
        digest = signed["--expected-sha256"]
        f = self.failures

        self.case("command line that does not parse")
        m = self.machine("parse failure")
        m["helper_log"].write_text("earlier log\n")
        m["result"].write_text("earlier result")
        stderr = m["root"] / "stderr.txt"
        code = self.run_updater(["--msi-path", "a", "b"], stderr_file=stderr)
        f.equal(code, 1603, "the updater's exit code")
        f.equal(read_text(stderr), "Unexpected argument: b\n", "standard error")
        f.equal(read_text(m["helper_log"]), "earlier log\n", "the earlier helper log is untouched")
        f.equal(read_text(m["result"]), "earlier result", "the earlier result file is untouched")

        self.case("a directory in the way of the helper log")
        m = self.machine("helper log blocked")
        m["helper_log"].mkdir()
        m["result"].write_text("earlier result")
        stderr = m["root"] / "stderr.txt"
        code = self.run_updater(self.options(m, 0, signed), self.stand_in_env(m, 0, digest), stderr)
        f.equal(code, 1603, "the updater's exit code")
        f.check(re.fullmatch(r"[^\n]+ \(os error \d+\)\n", read_text(stderr) or "") is not None,
                "the OS error text goes to standard error", read_text(stderr))
        f.equal(read_text(m["result"]), "earlier result", "the earlier result file is untouched")
        f.check(m["downloaded"].exists() and not m["record"].exists(), "nothing else happens")

        self.case("an install directory with a double quote")
        m = self.machine("quoted install dir")
        self.preinstall(m, VERSION)
        stderr = m["root"] / "stderr.txt"
        overrides = {"--install-dir": self.wine.win(m["install"]) + '"quoted"'}
        code = self.run_updater(self.options(m, 0, signed, overrides), self.stand_in_env(m, 0, digest), stderr)
        f.equal(code, 1603, "the updater's exit code")
        f.equal(read_text(stderr), "The current install directory cannot be passed to Windows Installer.\n",
                "standard error")
        f.equal(log_messages(m["helper_log"]), [STARTED, STAGED, ALREADY_EXITED, STARTING], "helper log")
        f.check(not m["result"].exists(), "no result file")
        f.check(not m["record"].exists(), "Windows Installer is not started")
        f.check(not self.restarted(m, False), "no restart")
        f.check(m["downloaded"].exists(), "the downloaded package is kept")

    def long_paths(self):
        """Package, helper log and result deeper than MAX_PATH (the manifest declares longPathAware)."""
        self.case("package, helper log and result paths longer than 260 characters")
        f = self.failures
        signed = self.sign(self.package)
        m = self.machine("long paths")
        self.preinstall(m, VERSION)
        deep = m["root"] / "Logs"
        for index in range(6):
            deep = deep / (f"level-{index}-" + "x" * 40)
        m["helper_log"] = deep / "helper.log"
        m["result"] = deep / "result.json"
        deep_download = m["root"] / "Downloads" / deep.relative_to(m["root"] / "Logs") / m["downloaded"].name
        deep_download.parent.mkdir(parents=True)
        m["downloaded"].rename(deep_download)
        m["downloaded"] = deep_download
        f.check(min(len(self.wine.win(m[key])) for key in ("result", "helper_log", "downloaded")) > 260,
                "the paths are longer than 260 characters")
        code = self.run_updater(self.options(m, 0, signed),
                                self.stand_in_env(m, 0, signed["--expected-sha256"]))
        f.equal(code, 0, "the updater's exit code")
        f.equal(read_text(m["result"]), expected_result("success", 0, ""), "result file at the long path")
        messages = log_messages(m["helper_log"]) or []
        f.equal(messages[:5], [STARTED, STAGED, ALREADY_EXITED, STARTING, "Windows Installer exited with code 0."],
                "helper log at the long path")
        self.check_stand_in_record(m)
        f.check(m["downloaded"].exists(), "the downloaded package is kept")

    def example_launcher(self):
        """examples/launch_updater.cpp used as an application uses it: it composes the command line, starts the
        updater elevated with ShellExecuteExW and "runas" (Wine starts it without a prompt), exits at once, and
        on the next start reads the result file back into a status."""
        started = self.case("the example launcher")
        f = self.failures
        w = self.wine.win
        launcher = str(self.tools / "launch-updater.exe")
        updater = w(self.tools / "velmarch-updater.exe")

        def launcher_output(*arguments):
            # To a file, not a pipe: the updater it starts may hold an inherited pipe open after it exits.
            out = self.work / "launcher.out"
            with open(out, "wb") as sink:
                code = subprocess.run(["wine", launcher, *arguments], env=self.wine.env, stdout=sink,
                                      stderr=subprocess.DEVNULL, timeout=120).returncode
            return code, out.read_bytes().decode(errors="replace").replace("\r\n", "\n")

        code, text = launcher_output("check-quoting")
        f.check(code == 0 and text.startswith("OK:"), "the launcher's quoting splits back into the same arguments",
                text)

        def run_through_launcher(m, signed):
            before = set(os.listdir(self.wine.temp))
            options = self.options(m, 0, signed)[2:]  # the launcher adds its own process id
            code, text = launcher_output("start", updater, *options)
            f.check(code == 0 and text.startswith("started "), "the launcher started the updater and exited", text)
            # Complete once the result is written and the staging directory is gone again.
            f.check(wait_for(lambda: m["result"].exists() and not set(os.listdir(self.wine.temp)) - before, 120),
                    "the updater started by the launcher finished its run")
            return launcher_output("read-result", w(m["result"]))[1]

        self.wine.use_wine_installer()
        m = self.machine("launcher", " with blanks ✓")
        signed = self.sign(self.package)
        f.equal(run_through_launcher(m, signed), "success\n0\n\n", "the launcher reads a successful update")
        f.equal((read_text(m["install"] / "version.txt") or "").strip(), VERSION, "installed version file")
        f.check(self.restarted(m, True), "the shell restarted the installed application")

        refused = self.machine("launcher-refused")
        f.equal(run_through_launcher(refused, dict(signed, **{"--expected-sha256": "0" * 64})),
                "error\n1603\nUpdate package SHA-256 verification failed.\n", "the launcher reads a refused package")
        f.equal(launcher_output("read-result", w(refused["root"] / "none.json"))[1], "aborted\n",
                "the launcher reads a missing result as an aborted run")
        print(f"    {time.monotonic() - started:.1f} s", flush=True)

    def main(self):
        total = time.monotonic()
        only = self.args.only
        try:
            if only:
                for name in only:
                    getattr(self, name)()
            else:
                self.real_update()
                self.real_update(" Ünïcødé ✓")
                self.example_launcher()
                self.smuggled_installer_options()
                self.wine.use_stand_in_installer(self.tools / "stand-in-msiexec.exe")
                self.exit_code_rows()
                self.busy_installer()
                self.refused_packages()
                self.failures_before_the_installer()
                self.long_paths()
        finally:
            self.wine.stop()
        print(f"whole run: {time.monotonic() - total:.1f} s")
        for message in self.failures.messages:
            print("FAILED " + message)
        return 1 if self.failures.messages else 0


def main():
    parser = argparse.ArgumentParser()
    for option in ("--updater", "--helpers", "--sign", "--key", "--package-source", "--launcher"):
        parser.add_argument(option, required=True)
    parser.add_argument("--keep", action="store_true", help="keep the prefix and case directories")
    parser.add_argument("--only", action="append", metavar="CASE",
                        help="run only this group of cases (a Suite method such as smuggled_installer_options)")
    args = parser.parse_args()
    for name in ("updater", "helpers", "sign", "key", "package_source", "launcher"):
        setattr(args, name, str(Path(getattr(args, name)).resolve()))
    for tool in ("wine", "wineboot", "wineserver", "wixl"):
        if shutil.which(tool) is None:
            print(f"{tool} is missing: scripts/install-deps windows installs it", file=sys.stderr)
            return 1
    if not Path(args.sign).is_file():
        print(f"velmarch-sign not found at {args.sign}", file=sys.stderr)
        return 1
    work = Path(tempfile.mkdtemp(prefix="velmarch-windows-e2e."))
    try:
        return Suite(args, work).main()
    finally:
        if args.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

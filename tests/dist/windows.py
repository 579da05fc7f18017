"""A Windows to install on: one Wine prefix, its registry, its user's folders, programs run in it."""

import os
import pwd
import subprocess
import time
from pathlib import Path

from clients import listening
from kavenor_app import ROOT, wait_until

WINE_RUN = ROOT / "scripts" / "wine-run"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kavenor"


class Windows:
    def __init__(self, prefix, env, scratch):
        self.prefix = Path(prefix)
        self.env = env
        self.scratch = Path(scratch)
        user = self.prefix / "drive_c" / "users" / pwd.getpwuid(os.getuid()).pw_name
        self.local_app_data = user / "AppData" / "Local"
        self.install_dir = self.local_app_data / "Programs" / "Kavenor"
        self.start_menu = user / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"

    def path(self, path):
        """The path as Windows programs in this prefix see it: C: is the prefix's drive_c, Z: the root."""
        path = Path(path).resolve()
        drive_c = (self.prefix / "drive_c").resolve()
        if path.is_relative_to(drive_c):
            return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")
        return "Z:" + str(path).replace("/", "\\")

    def run(self, program, *args, encoding="utf-8", timeout=600):
        """Runs a Windows program to its end: (exit code, standard output as text)."""
        # A file, not a pipe: a program that this one starts (the installer starts Kavenor.exe) keeps
        # the output open after this one has ended.
        output = self.scratch / f"run-{time.monotonic_ns()}.txt"
        with open(output, "wb") as out:
            code = subprocess.run([str(WINE_RUN), str(program), *args], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.DEVNULL, timeout=timeout).returncode
        return code, output.read_bytes().decode(encoding, errors="replace")

    def reg_value(self, key, name):
        """A registry value as `reg query` prints it, or None when it is missing."""
        # reg writes in the code page (936).
        code, out = self.run("reg", "query", key, "/v", name, encoding="gbk")
        if code != 0:
            return None
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

    def start(self, folder):
        """Starts Kavenor.exe in `folder`, as a double-click does."""
        return Program(self, Path(folder))

    def answer_message_boxes(self, count):
        """Waits for `count` message boxes of the program, answers each with OK: their texts."""
        helper = ROOT / "build" / "win64" / "bin" / "answer_message_boxes.exe"
        code, out = self.run(helper, str(count))
        lines = [line for line in out.replace("\r\n", "\n").split("\n") if line]
        assert code == 0, f"{len(lines)} of {count} message boxes seen: {lines}"
        return lines


class Program:
    """One run of Kavenor.exe; its output goes to files beside its folder."""

    def __init__(self, system, folder):
        self.output = system.scratch / f"{folder.name}-{time.monotonic_ns()}.txt"
        with open(self.output, "wb") as out:
            self.proc = subprocess.Popen([str(WINE_RUN), str(folder / "Kavenor.exe")], cwd=folder, env=system.env,
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def text(self):
        return self.output.read_bytes().decode("utf-8", errors="replace")

    def wait_listening(self, port):
        """Waits until the port takes connections (a guard of three minutes against a hang)."""
        wait_until(lambda: listening(port) or self.proc.poll() is not None)
        assert self.proc.poll() is None, f"the program ended before listening:\n{self.text()[-3000:]}"
        assert listening(port), f"nothing listens on port {port}:\n{self.text()[-3000:]}"
        return self

    def ended(self):
        """Waits for the process to end on its own (a guard of three minutes against a hang)."""
        try:
            self.proc.wait(timeout=180)
            return True
        except subprocess.TimeoutExpired:
            return False

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=30)

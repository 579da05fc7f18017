"""The program under test: a scratch copy of an app folder, its settings and scenarios, its process.

One `App` is one run of the program in a folder of its own: the folder is copied from the build's app
folder, `Config.ini` and the scenario files are written before the start, standard output and
standard error go to files beside the folder, and the process is ended by its id when the test is done.
"""

import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SDK_FOLDERS = ("ORV5A", "ORV5U", "ORV5ULN")
PAGES = ("03_idcard.html", "NFC_idcard.html", "idcardM1.html")

# "YYYY-MM-DD HH:MM:SS " and the log text of one posted status code.
STATUS_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (.+)$")


class Target:
    """A build target: where its program and simulated reader are and how the program is started."""

    def __init__(self, name):
        if name not in ("linux", "win64"):
            raise ValueError(f"unknown target {name!r} (linux, win64)")
        self.name = name
        self.wine = name == "win64"
        # KAVENOR_E2E_BUILD: another build folder of this target (default build/<target>).
        self.build = Path(os.environ.get("KAVENOR_E2E_BUILD") or ROOT / "build" / name)
        self.program = "Kavenor.exe" if self.wine else "kavenor"
        # The child process that alone loads the SDK.
        self.host = "KavenorReaderHost.exe" if self.wine else "kavenor-reader-host"
        self.library = "kadrel.dll" if self.wine else "libkadrel.so"
        # Wine needs seconds to start a program; the very first start in a new prefix also creates it.
        self.start_timeout = 180.0 if self.wine else 15.0
        # How long "at once" may take: one round trip through the service.
        self.prompt = 5.0 if self.wine else 2.0
        self.env = dict(os.environ)
        if self.wine:
            self.env.setdefault("KAVENOR_WINEPREFIX", str(self.build / "wineprefix"))

    def missing(self):
        """Why the target cannot be run, or None."""
        if (self.build / "app" / self.program).is_file():
            return None
        if (self.build / "bin" / self.program).is_file() and (self.build / "bin/sim/full" / self.library).is_file():
            return None
        return f"{self.build / 'app' / self.program} is missing: run scripts/build.sh {self.name}"

    def lay_out(self, dest):
        """Copies an app folder to `dest`: the build's own, or one assembled from its parts."""
        app = self.build / "app"
        if (app / self.program).is_file():
            shutil.copytree(app, dest, ignore=shutil.ignore_patterns("Config.ini", "calls.log", "scenario.ini"))
            return
        dest.mkdir(parents=True)
        shutil.copy2(self.build / "bin" / self.program, dest / self.program)
        # The pages are generated, as the build does.
        subprocess.run([sys.executable, str(ROOT / "pages" / "make_pages.py"), str(dest)], check=True)
        for folder in SDK_FOLDERS:
            (dest / folder).mkdir()
            shutil.copy2(self.build / "bin/sim/full" / self.library, dest / folder / self.library)

    def command(self, exe):
        if self.wine:
            return [str(ROOT / "scripts" / "wine-run"), str(exe)]
        return [str(exe)]


def start_xvfb(env):
    """A display for the program's window under Wine, when `env` names none and Xvfb is there: the
    Xvfb process (to be ended by the caller), or None."""
    if env.get("DISPLAY") or not shutil.which("Xvfb"):
        return None
    read, write = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        if not select.select([read], [], [], max(0.0, deadline - time.monotonic()))[0]:
            break
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    if not number.strip().isdigit():
        proc.kill()
        proc.wait(timeout=10)
        return None
    env["DISPLAY"] = ":" + number.strip().decode()
    return proc


def wait_until(done, timeout=180.0, interval=0.05):
    """Whether `done` came to hold within `timeout` seconds (a guard against a hang, not a bound)."""
    deadline = time.monotonic() + timeout
    while not done():
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)
    return True


def process_state(pid):
    """The state letter of a process in /proc/<pid>/stat (R, S, Z, ...), or None when it has gone."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return None


def free_port():
    """A TCP port that nothing listens on, on IPv4 nor IPv6 (chosen by the kernel, then released)."""
    for _ in range(50):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if port_is_free(port):
            return port
    raise RuntimeError("no free port found")


def port_is_free(port):
    families = [(socket.AF_INET, "0.0.0.0")]
    if socket.has_ipv6:
        families.append((socket.AF_INET6, "::"))
    for family, address in families:
        try:
            with socket.socket(family, socket.SOCK_STREAM) as s:
                # As the program binds: a port left in TIME_WAIT counts as free.
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                if family == socket.AF_INET6:
                    s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
                s.bind((address, port))
        except OSError:
            return False
    return True


def ipv6_loopback_works():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def scenario_text(lines):
    """A scenario file from a dict (key -> value) or a ready text."""
    if isinstance(lines, str):
        return lines
    return "".join(f"{key}={value}\n" for key, value in lines.items())


def write_atomically(path, text):
    # The simulated reader reads its scenario at every ORV_InitComm: it must never see half a file.
    tmp = path.with_name(path.name + ".tmp")
    tmp.write_bytes(text.encode("utf-8"))
    os.replace(tmp, path)


class App:
    """One run of the program in a scratch app folder under `base`."""

    def __init__(self, target, base, model=0, port=None, scenarios=None, config=None, folder_name="app",
                 normal_start=False):
        self.target = target
        # Programs run side by side here: all but a normal start skip the single-instance check.
        self.normal_start = normal_start
        self.base = Path(base)
        self.dir = self.base / folder_name
        self.port = free_port() if port is None else port
        self.model = model
        self.proc = None
        self.stdout_path = self.base / "stdout.txt"
        self.stderr_path = self.base / "stderr.txt"
        target.lay_out(self.dir)
        # A reader on the port every driver tries first (Config.ini [IP] Com, default 1).
        for folder in SDK_FOLDERS:
            self.set_scenario(folder, {"ports": "1"})
        for folder, lines in (scenarios or {}).items():
            self.set_scenario(folder, lines)
        self.write_config(config)

    # --- files -----------------------------------------------------------------------------------

    def write_config(self, text=None):
        if text is None:
            restart = 0 if self.normal_start else 1
            text = f"[IP]\nport={self.port}\nRestart={restart}\n[Device]\nID={self.model}\n"
        if self.target.wine:
            text = text.replace("\r\n", "\n").replace("\n", "\r\n")
        (self.dir / "Config.ini").write_bytes(text.encode("utf-8"))

    def set_scenario(self, folder, lines):
        write_atomically(self.dir / folder / "scenario.ini", scenario_text(lines))

    def calls(self, folder):
        """The simulated reader's call log: (ms, entry point, arguments) per call, in order."""
        path = self.dir / folder / "calls.log"
        if not path.exists():
            return []
        out = []
        for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
            parts = line.split(" ", 2)
            if len(parts) >= 2:
                out.append((int(parts[0]), parts[1], parts[2] if len(parts) > 2 else ""))
        return out

    def call_names(self, folder):
        return [name for _, name, _ in self.calls(folder)]

    def clear_calls(self):
        for folder in SDK_FOLDERS:
            (self.dir / folder / "calls.log").unlink(missing_ok=True)

    def stdout(self):
        return self.stdout_path.read_bytes().decode("utf-8", errors="replace") if self.stdout_path.exists() else ""

    def stderr(self):
        return self.stderr_path.read_bytes().decode("utf-8", errors="replace") if self.stderr_path.exists() else ""

    def stdout_lines(self):
        return self.stdout().replace("\r\n", "\n").split("\n")

    def status_lines(self):
        """The log texts of the status-log lines written so far."""
        return [m.group(1) for m in map(STATUS_LINE.match, self.stdout_lines()) if m]

    def wait_for_output(self, predicate, timeout=5.0, what="output"):
        """Waits until predicate(stdout, stderr) holds; returns what it returned."""
        deadline = time.monotonic() + timeout
        while True:
            result = predicate(self.stdout(), self.stderr())
            if result or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        assert result, f"timed out waiting for {what}\n{self.describe()}"
        return result

    def describe(self):
        out, err = self.stdout(), self.stderr()
        return (f"--- stdout (last 3000 chars) ---\n{out[-3000:]}\n"
                f"--- stderr (last 3000 chars) ---\n{err[-3000:]}")

    # --- process ---------------------------------------------------------------------------------

    def start(self, wait_listening=True):
        exe = self.dir / self.target.program
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen(self.target.command(exe), cwd=self.dir, stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=err, env=self.target.env)
        if wait_listening:
            self.wait_listening()
        return self

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_listening(self, port=None, timeout=None):
        port = self.port if port is None else port
        deadline = time.monotonic() + (timeout or self.target.start_timeout)
        while time.monotonic() < deadline:
            assert self.alive(), f"the program ended (exit {self.proc.returncode}) before listening\n{self.describe()}"
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=1.0):
                    return
            except OSError:
                time.sleep(0.05)
        raise AssertionError(f"nothing listens on port {port}\n{self.describe()}")

    def pids(self):
        """Linux: every running process of this folder's program, the relaunched ones included."""
        exe = str(self.dir / self.target.program)
        found = []
        for entry in Path("/proc").iterdir():
            if entry.name.isdigit():
                try:
                    if os.readlink(entry / "exe") == exe:
                        found.append(int(entry.name))
                except OSError:
                    pass
        return found

    def host_pids(self):
        """The running reader hosts of this folder's program (under Wine, the processes running them)."""
        found = []
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                if self.target.wine:
                    words = (entry / "cmdline").read_bytes().decode("utf-8", "replace").split("\0")
                    if words and words[0].lower() == "z:" + str(self.dir / self.target.host).replace("/", "\\").lower():
                        found.append(int(entry.name))
                elif os.readlink(entry / "exe") == str(self.dir / self.target.host):
                    found.append(int(entry.name))
            except OSError:
                pass
        return found

    def end_host_from_outside(self):
        """Ends the running reader host as another program would (under Wine: taskkill, by the id the
        program printed, so that Wine's own view of the process is up to date when it returns)."""
        [host] = self.host_pids()
        if self.target.wine:
            ids = re.findall(r"The reader host runs: process (\d+)", self.stdout())
            subprocess.run([str(ROOT / "scripts" / "wine-run"), "taskkill", "/F", "/PID", ids[-1]], env=self.target.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180, check=True)
        else:
            os.kill(host, signal.SIGKILL)
            # Its executable leaves /proc before its descriptors close; only a zombie has closed them all.
            assert wait_until(lambda: process_state(host) in ("Z", None)), f"host {host} still running"
        return host

    def cpu_seconds(self):
        """The program's processor time so far (user and system), from /proc/<pid>/stat."""
        fields = Path(f"/proc/{self.proc.pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        if not self.target.wine:
            for pid in self.pids():
                if self.proc is None or pid != self.proc.pid:
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except OSError:
                        pass
        if not self.alive():
            return
        if self.target.wine:
            # Only this program's own process: the prefix's wineserver serves other runs too.
            self.proc.kill()
        else:
            self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)

    def memory_kib(self, field):
        """A size from /proc/<pid>/status of the program's process (VmRSS, VmSize), in KiB."""
        text = Path(f"/proc/{self.proc.pid}/status").read_text()
        match = re.search(rf"^{field}:\s+(\d+) kB", text, re.M)
        assert match, f"no {field} in /proc/{self.proc.pid}/status"
        return int(match.group(1))

    def thread_count(self):
        return len(os.listdir(f"/proc/{self.proc.pid}/task"))

    def url(self, host="127.0.0.1", path="/"):
        host = f"[{host}]" if ":" in host else host
        return f"ws://{host}:{self.port}{path}"

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Sampler:
    """The program's largest resident size (KiB), read every 50 ms while it runs."""

    def __init__(self, app):
        self.app, self.peak, self.stopped = app, app.memory_kib("VmRSS"), threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopped.wait(0.05):
            self.peak = max(self.peak, self.app.memory_kib("VmRSS"))

    def stop(self):
        self.stopped.set()
        self.thread.join()
        return self.peak

"""Fixtures of the end-to-end suite: the target (linux or win64, from --target or KAVENOR_E2E_TARGET)
and programs started in scratch app folders, stopped by their id when their scope ends.

  /usr/bin/python3 -m pytest tests/e2e                      # build/linux/app/kavenor
  KAVENOR_E2E_TARGET=win64 /usr/bin/python3 -m pytest tests/e2e   # build/win64/app/Kavenor.exe, Wine

Under Wine the prefix is KAVENOR_WINEPREFIX (default build/win64/wineprefix)."""

import os
import re
import select
import shutil
import subprocess
import time

import pytest

from kavenor_app import App, Target


def pytest_addoption(parser):
    parser.addoption("--target", default=os.environ.get("KAVENOR_E2E_TARGET", "linux"),
                     help="linux (build/linux/app/kavenor) or win64 (build/win64/app/Kavenor.exe under Wine)")


@pytest.fixture(scope="session")
def target(request):
    t = Target(request.config.getoption("--target"))
    why = t.missing()
    if why:
        pytest.skip(why)
    if t.wine:
        display = _start_xvfb(t)
        yield t
        if display:
            display.kill()
            display.wait(timeout=10)
    else:
        yield t


def _start_xvfb(t):
    """A display for the program's window under Wine, when none is given and Xvfb is there."""
    if os.environ.get("DISPLAY") or not shutil.which("Xvfb"):
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
    t.env["DISPLAY"] = ":" + number.strip().decode()
    return proc


class Launcher:
    """Starts programs for one scope; each gets a folder of its own."""

    def __init__(self, target, tmp_path_factory, name):
        self.target = target
        self.tmp = tmp_path_factory
        self.name = name
        self.apps = []

    def __call__(self, start=True, **options):
        app = App(self.target, self.tmp.mktemp(self.name), **options)
        self.apps.append(app)
        return app.start() if start else app

    def stop_all(self):
        for app in self.apps:
            app.stop()


def _launcher(request, target, tmp_path_factory):
    name = re.sub(r"[^\w.-]+", "-", os.path.basename(request.node.name)).strip("-")[:40] or "app"
    launcher = Launcher(target, tmp_path_factory, name)
    request.addfinalizer(launcher.stop_all)
    return launcher


@pytest.fixture
def launch(request, target, tmp_path_factory):
    """A fresh program per test."""
    return _launcher(request, target, tmp_path_factory)


@pytest.fixture(scope="module")
def module_launch(request, target, tmp_path_factory):
    """Programs shared by the tests of one module."""
    return _launcher(request, target, tmp_path_factory)

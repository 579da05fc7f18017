"""Fixtures of the end-to-end suite: the target (linux or win64, from --target or KAVENOR_E2E_TARGET)
and programs started in scratch app folders, stopped by their id when their scope ends.

  /usr/bin/python3 -m pytest tests/e2e                      # build/linux/app/kavenor
  KAVENOR_E2E_TARGET=win64 /usr/bin/python3 -m pytest tests/e2e   # build/win64/app/Kavenor.exe, Wine

Under Wine the prefix is KAVENOR_WINEPREFIX (default build/win64/wineprefix)."""

import os
import re

import pytest

from kavenor_app import App, Target, start_xvfb


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
        display = start_xvfb(t.env)
        yield t
        if display:
            display.kill()
            display.wait(timeout=10)
    else:
        yield t


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

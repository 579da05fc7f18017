"""Fixtures of the download tests: the files scripts/dist.sh wrote (build/dist, or KAVENOR_DIST_DIR) and
a Windows of their own to install them on: a fresh Wine prefix (Chinese code page) with a display.

  scripts/dist.sh && /usr/bin/python3 -m pytest tests/dist
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from kavenor_app import start_xvfb  # noqa: E402
from windows import Windows  # noqa: E402


def product_version():
    cache = ROOT / "build" / "win64" / "CMakeCache.txt"
    for line in cache.read_text().splitlines() if cache.is_file() else ():
        if line.startswith("CMAKE_PROJECT_VERSION:STATIC="):
            return line.split("=", 1)[1]
    return None


@pytest.fixture(scope="session")
def dist():
    """The download folder and the version in its names."""
    folder = Path(os.environ.get("KAVENOR_DIST_DIR") or ROOT / "build" / "dist")
    version = product_version()
    if not version or not (folder / "SHA256SUMS").is_file():
        pytest.skip(f"no downloads in {folder}: run scripts/dist.sh")
    return folder, version


@pytest.fixture(scope="session")
def windows(tmp_path_factory):
    """A Windows that nothing was installed on yet, shared by the tests of the session in order."""
    if not shutil.which("wine"):
        pytest.skip("Wine is not installed")
    prefix = ROOT / "build" / "win64" / "dist-wineprefix"
    shutil.rmtree(prefix, ignore_errors=True)
    env = dict(os.environ, KAVENOR_WINEPREFIX=str(prefix))
    display = start_xvfb(env)
    system = Windows(prefix, env, tmp_path_factory.mktemp("windows"))
    # Made before the first test: two programs started at once in a missing prefix race to make it.
    system.run("wineboot", "--init")
    yield system
    subprocess.run(["wineserver", "-k"], env=dict(env, WINEPREFIX=str(prefix)), check=False)
    if display:
        display.kill()
        display.wait(timeout=10)

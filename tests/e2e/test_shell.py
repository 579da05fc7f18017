"""The program's own shell, where no window is involved: the single-instance rule, the relaunch (SIGHUP
on Linux stands in for a settings change in the window), and standard output in whole lines."""

import configparser
import os
import re
import signal
import subprocess
import threading

import pytest

import kavenor_app
from clients import WsClient, listening
from kavenor_app import free_port

STATUS_STAMP = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (读卡成功|卡认证失败|读卡失败|设备无法连接)")
ACCESS_STAMP = re.compile(r"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[")


def wait_until(predicate, timeout, what):
    assert kavenor_app.wait_until(predicate, timeout), f"gave up waiting for {what}"


def settings(app):
    parser = configparser.ConfigParser()
    parser.read_string((app.dir / "Config.ini").read_text(encoding="utf-8"))
    return parser


def linux_only(app):
    if app.target.wine:
        pytest.skip("under Wine the window test drives the same through the real window")


def second_start(app):
    """A normal start in the same folder: refused, exit code 0."""
    result = subprocess.run(app.target.command(app.dir / app.target.program), cwd=app.dir, env=app.target.env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return result.returncode, result.stderr.decode("utf-8", "replace")


def relaunch(app, old_pid):
    """SIGHUP: the program starts itself anew and ends; returns the new process's id."""
    os.kill(old_pid, signal.SIGHUP)
    wait_until(lambda: old_pid not in app.pids() and len(app.pids()) == 1, 30, "the old instance to end")
    return app.pids()[0]


def test_second_start_refused_until_a_relaunch_takes_the_name_over(launch):
    app = launch(model=0, normal_start=True)
    linux_only(app)
    assert second_start(app) == (0, "只能启动一个程序\n")
    with WsClient(app.url()) as c:
        assert c.request("5")  # the first one undisturbed

    # Same port: the new instance listens once the old one has let go of it.
    new_pid = relaunch(app, app.proc.pid)
    wait_until(lambda: listening(app.port), 30, "the relaunched instance to serve")
    with WsClient(app.url()) as c:
        assert c.request("3").startswith("ORV5U|大厅1|")
    assert settings(app)["IP"]["Restart"] == "0"
    assert second_start(app) == (0, "只能启动一个程序\n")

    # A port changed in Config.ini takes effect at the next relaunch.
    new_port = free_port()
    text = (app.dir / "Config.ini").read_text(encoding="utf-8").replace(f"port={app.port}", f"port={new_port}")
    (app.dir / "Config.ini").write_text(text, encoding="utf-8")
    relaunch(app, new_pid)
    wait_until(lambda: listening(new_port), 30, "the service on the new port")
    assert second_start(app) == (0, "只能启动一个程序\n")
    assert app.stdout().count(f"Kavenor serves on port {new_port}") == 1


def test_standard_output_keeps_whole_lines_under_load(launch):
    # No card: every read is answered at once and posts a status line from the other thread.
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "card": "0"}})
    reads_per_client, clients = 40, 6
    before = len(app.status_lines())

    def reader():
        with WsClient(app.url()) as c:
            for _ in range(reads_per_client):
                assert c.request("3") == "卡认证失败"

    threads = [threading.Thread(target=reader) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    expected = before + reads_per_client * clients
    app.wait_for_output(lambda out, err: len(app.status_lines()) >= expected, 30, "every status line")
    assert len(app.status_lines()) == expected
    for line in app.stdout_lines():
        # A stamp anywhere but at the start of its line means two lines cut into each other.
        for stamp in (STATUS_STAMP, ACCESS_STAMP):
            for match in stamp.finditer(line):
                assert match.start() == 0, f"a line cut into another: {line!r}"

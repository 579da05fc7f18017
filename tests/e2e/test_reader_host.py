"""The reader SDK in the reader host, a child process: a crash or a hung call in the SDK costs one
command, never the program; a host ended from outside or failing at every start is replaced; none
outlives the program. Failures are the simulated reader's real ones (scenario.ini crash./hang. keys)."""

import signal
import time

import pytest

from clients import WsClient
from kavenor_app import wait_until

GUARD = 180
CRASHED = "读卡组件意外退出，已重新启动"
HUNG = "读卡组件无响应，已重新启动"
FAILING = "读卡组件无法启动，稍后自动重试"


def is_record(reply):
    return reply.startswith("ORV5U|")


def test_a_crash_during_read_content_costs_its_command_and_the_next_read_works(launch):
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "crash.ORV_Read_Content": "once"}})
    program = app.proc.pid
    with WsClient(app.url(), timeout=GUARD) as client:
        assert client.request("3", timeout=GUARD) == "读卡失败"
        assert app.call_names("ORV5U")[-1] == "ORV_Read_Content", "the read crashed inside the SDK"
        assert wait_until(lambda: CRASHED in app.status_lines()), app.describe()
        assert is_record(client.request("3", timeout=GUARD))
    assert app.alive() and app.proc.pid == program
    assert app.status_lines().count(CRASHED) == 1
    assert len(app.host_pids()) == 1


def test_a_hung_authenticate_is_ended_after_the_call_timeout_and_the_next_command_is_served(launch):
    app = launch(start=False, model=0, scenarios={"ORV5U": {"ports": "1", "hang.ORV_Authenticate": "once"}})
    app.write_config(f"[IP]\nport={app.port}\nRestart=1\n[Device]\nID=0\n[Reader]\nCallTimeoutMs=2000\n")
    app.start()
    with WsClient(app.url(), timeout=GUARD) as client:
        began = time.monotonic()
        assert client.request("3", timeout=GUARD) == "读卡失败"
        assert time.monotonic() - began >= 2.0, "answered before the call's time was up"
        assert app.call_names("ORV5U")[-1] == "ORV_Authenticate"
        assert wait_until(lambda: HUNG in app.status_lines()), app.describe()
        assert client.request("5", timeout=GUARD) == "05.01-00002019-0000123456-0000000007"
    # The hung host is gone; only the fresh one runs.
    assert wait_until(lambda: len(app.host_pids()) == 1), app.host_pids()


def test_a_host_ended_from_outside_between_two_commands_serves_the_next(launch, target):
    app = launch(model=0)
    with WsClient(app.url(), timeout=GUARD) as client:
        assert is_record(client.request("3", timeout=GUARD))
        host = app.end_host_from_outside()
        assert wait_until(lambda: host not in app.host_pids())
        assert is_record(client.request("3", timeout=GUARD))
    assert wait_until(lambda: CRASHED in app.status_lines()), app.describe()


def test_a_host_that_crashes_at_every_start_is_told_once_and_costs_no_processor_time(launch, target):
    app = launch(model=0, scenarios={"ORV5A": {"ports": "1", "abort.load": "always"}})
    with WsClient(app.url(), timeout=GUARD) as client:
        assert client.request("3", timeout=GUARD) == "连接设备失败"
        cpu = app.cpu_seconds()
        for _ in range(20):
            assert client.request("3", timeout=GUARD) == "连接设备失败"
            time.sleep(0.25)
        # Tried again after pauses that double, not in a tight loop.
        assert app.cpu_seconds() - cpu < 2.0
        assert app.status_lines().count(FAILING) == 1, app.describe()
        assert not app.calls("ORV5U"), "no host ran a command"
        app.set_scenario("ORV5A", {"ports": "1"})
        # After the pause under way (at most 30 s) the next command starts a host that works.
        assert wait_until(lambda: is_record(client.request("3", timeout=GUARD)), timeout=GUARD, interval=0.5)
    assert app.status_lines().count(FAILING) == 1


def test_no_host_outlives_the_program_that_closes_during_a_command(launch, target):
    if target.wine:
        pytest.skip("the Windows program is closed from its window: tests/window")
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "delay.ORV_Read_Content": "1500"}})
    [host] = app.host_pids()
    with WsClient(app.url(), timeout=GUARD) as client:
        client.send("3")
        assert wait_until(lambda: "ORV_Read_Content" in app.call_names("ORV5U"))
        app.proc.send_signal(signal.SIGTERM)
        app.proc.wait(timeout=GUARD)
    assert wait_until(lambda: not app.host_pids()), app.host_pids()
    assert app.call_names("ORV5U")[-1] == "ORV_CloseComm", "the command under way finished and closed the reader"


def test_no_host_outlives_a_program_ended_by_force(launch, target):
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "hang.ORV_Authenticate": "always"}})
    assert len(app.host_pids()) == 1
    with WsClient(app.url(), timeout=GUARD) as client:
        client.send("3")
        assert wait_until(lambda: "ORV_Authenticate" in app.call_names("ORV5U"))
        app.proc.kill()
        app.proc.wait(timeout=GUARD)
    # The job object (Windows) or the parent-death signal (Linux) ends the host stuck in its call.
    assert wait_until(lambda: not app.host_pids(), timeout=GUARD), app.host_pids()

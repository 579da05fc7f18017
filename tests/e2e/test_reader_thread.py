"""The reader on a thread of its own: no page's command holds up another page, the network side or
the end of the program. Proofs of "at once" come from the simulated reader's call log, not clocks."""

import os
import signal
import socket
import struct
import threading

import pytest

from clients import OP_CLOSE, OP_TEXT, RawClient, WsClient, frame, http_get, listening
from kavenor_app import wait_until

HANG_GUARD = 180
SAM_REPLY = "05.01-00002019-0000123456-0000000007"


def cycles(calls):
    """The reader cycles of a call log: the (ms, name) lists from each ORV_InitComm to its ORV_CloseComm."""
    out = []
    for ms, name, _ in calls:
        if name == "ORV_InitComm":
            out.append([])
        if out:
            out[-1].append((ms, name))
    return out


def assert_one_at_a_time(calls):
    current_open = False
    for _, name, _ in calls:
        if name == "ORV_InitComm":
            assert not current_open, f"a reader cycle began inside another: {[c[1] for c in calls]}"
            current_open = True
        elif name == "ORV_CloseComm":
            current_open = False


def test_a_page_and_a_quick_command_are_served_during_another_clients_wait(launch):
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "card": "0"}})
    with WsClient(app.url(), timeout=HANG_GUARD) as waiting, WsClient(app.url(), timeout=HANG_GUARD) as other:
        app.clear_calls()
        waiting.send("2?timeout=6000")
        assert wait_until(lambda: "ORV_CloseComm" in app.call_names("ORV5U")), "the wait's first attempt"
        status, _, body = http_get(app.port, timeout=HANG_GUARD)
        assert status == 200 and b"<html" in body.lower()
        with WsClient(app.url(), timeout=HANG_GUARD) as late:  # a handshake during the wait
            assert late.request("5", timeout=HANG_GUARD) == SAM_REPLY
        assert other.request("9", timeout=HANG_GUARD) == "设备无此功能"
        # Both were answered before the wait's reply, which is the one it gets alone.
        assert waiting.no_message_within(0.01)
        assert waiting.recv(timeout=HANG_GUARD) == "读卡失败"
    names = app.call_names("ORV5U")
    sam = names.index("ORV_GetSAMID")
    assert names.count("ORV_Authenticate") >= 2, names
    assert "ORV_Authenticate" in names[:sam] and "ORV_Authenticate" in names[sam:], "the query ran between attempts"
    assert_one_at_a_time(app.calls("ORV5U"))


def test_three_clients_with_three_commands_each_get_their_own_replies_in_order(launch):
    app = launch(model=1, scenarios={"ORV5A": {"ports": "1", "delay_ms": "5"}})
    commands = ["6", "7?Key=ffffffffffff|Block=4", "9"]
    clients = [RawClient(app.port, timeout=HANG_GUARD) for _ in range(3)]
    try:
        for c in clients:
            c.handshake()
        app.clear_calls()
        for c in clients:  # all nine on their way before the first reply
            c.send(b"".join(frame(OP_TEXT, command.encode()) for command in commands))
        replies = [[c.read_frame(HANG_GUARD)[2].decode() for _ in commands] for c in clients]
    finally:
        for c in clients:
            c.close()
    for got in replies:
        assert got[0] == "04 03 02 01 |04 00 "
        assert got[1].startswith("04 03 02 01 |") and len(got[1]) == len("04 03 02 01 |") + 16 * 3
        assert got[2] == "6222021234567890123|01"
    calls = app.calls("ORV5A")
    assert len(cycles(calls)) == 9
    assert_one_at_a_time(calls)


def test_the_queued_commands_of_a_client_that_has_gone_never_reach_the_reader(launch):
    app = launch(model=1, scenarios={"ORV5A": {"ports": "1", "delay_ms": "300"}})
    with WsClient(app.url(), timeout=HANG_GUARD) as other:
        app.clear_calls()
        leaving = RawClient(app.port, timeout=HANG_GUARD)
        leaving.handshake()
        leaving.send(b"".join(frame(OP_TEXT, b"6") for _ in range(4)))
        assert wait_until(lambda: "ORV_InitComm" in app.call_names("ORV5A")), "the first command began"
        leaving.close()
        assert other.request("9", timeout=HANG_GUARD) == "6222021234567890123|01"
    names = app.call_names("ORV5A")
    assert names.count("ORV_M1_Request") == 1, names
    assert names[-3:] == ["ORV_InitComm", "M1_MF_GetFisCardID", "ORV_CloseComm"]


@pytest.mark.parametrize("ending", ["close", "reset"])
def test_a_waiting_read_ends_when_its_client_goes_after_a_large_message(launch, ending):
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "card": "0"}})
    with WsClient(app.url(), timeout=HANG_GUARD) as other:
        app.clear_calls()
        leaving = RawClient(app.port, timeout=HANG_GUARD)
        leaving.handshake()
        leaving.send(frame(OP_TEXT, b"2?timeout=60000"))
        assert wait_until(lambda: "ORV_CloseComm" in app.call_names("ORV5U")), "the wait's first attempt"
        leaving.send(frame(OP_TEXT, b"x" * 5000))  # no command: it gets no reply
        if ending == "close":
            leaving.send(frame(OP_CLOSE, struct.pack("!H", 1000)))
            leaving.close()
        else:
            leaving.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            leaving.close()
        app.wait_for_output(lambda out, _: "The waiting read ends: its client has gone" in out, HANG_GUARD,
                            "the wait to end")
        app.set_scenario("ORV5U", {"ports": "1"})
        attempts = app.call_names("ORV5U").count("ORV_Authenticate")
        assert other.request("5", timeout=HANG_GUARD) == SAM_REPLY
    # Nothing of the wait after its end: the query was the last reader cycle.
    names = app.call_names("ORV5U")
    assert names.count("ORV_Authenticate") == attempts
    assert names[-3:] == ["ORV_InitComm", "ORV_GetSAMID", "ORV_CloseComm"]



def test_a_client_with_more_than_64_commands_waiting_is_closed_with_1008(launch):
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "card": "0"}})
    with WsClient(app.url(), timeout=HANG_GUARD) as other:
        flooding = RawClient(app.port, timeout=HANG_GUARD)
        flooding.handshake()
        # A wait holds the client's queue; 64 more commands stand behind it, one too many.
        flooding.send(frame(OP_TEXT, b"2?timeout=60000") + b"".join(frame(OP_TEXT, b"5") for _ in range(64)))
        code, before = flooding.close_code(timeout=HANG_GUARD)
        flooding.close()
        assert code == 1008 and before == []
        assert other.request("5", timeout=HANG_GUARD) == SAM_REPLY
    assert "Closing a connection with 1008: more than 64 of its commands wait for the reader" in app.stdout()


def test_sigterm_ends_the_program_in_order_after_the_running_command(launch):
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "delay_ms": "100"}})
    if app.target.wine:
        pytest.skip("under Wine the window test closes the real window from its menu")
    with WsClient(app.url(), timeout=HANG_GUARD) as client:
        app.clear_calls()
        client.send("3")
        assert wait_until(lambda: "ORV_Authenticate" in app.call_names("ORV5U")), "the read began"
        os.kill(app.proc.pid, signal.SIGTERM)
        assert app.proc.wait(timeout=HANG_GUARD) == 0
    names = app.call_names("ORV5U")
    assert "ORV_Read_Content" in names, "the read ran to its end"
    assert names[-1] == "ORV_CloseComm"
    assert names.count("ORV_InitComm") == names.count("ORV_CloseComm")


def test_sighup_relaunch_ends_the_old_instance_in_order(launch):
    app = launch(model=0, scenarios={"ORV5U": {"ports": "1", "card": "0"}})
    if app.target.wine:
        pytest.skip("under Wine the window test relaunches through the real window")
    old = app.proc.pid
    with WsClient(app.url(), timeout=HANG_GUARD) as client:
        app.clear_calls()
        client.send("2?timeout=60000")
        assert wait_until(lambda: "ORV_CloseComm" in app.call_names("ORV5U")), "the wait began"
        os.kill(old, signal.SIGHUP)
        assert app.proc.wait(timeout=HANG_GUARD) == 0
    assert app.call_names("ORV5U")[-1] == "ORV_CloseComm"
    assert wait_until(lambda: len([p for p in app.pids() if p != old]) == 1), "the new instance"
    assert wait_until(lambda: listening(app.port)), "the new instance serves"
    with WsClient(app.url(), timeout=HANG_GUARD) as client:
        assert client.request("5", timeout=HANG_GUARD) == SAM_REPLY

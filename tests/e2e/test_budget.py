"""What no page can do to the service: hold more memory than the budget for messages still arriving
(64 MiB over all connections), or hold the service with a waiting read after it has gone."""

import threading
import time

import pytest

from clients import OP_TEXT, RawClient, WsClient, frame
from kavenor_app import Sampler, wait_until

MIB = 1024 * 1024
BUDGET_KIB = 64 * 1024
MESSAGE = 31_000_000
HANG_GUARD = 180
SAM_REPLY = "05.01-00002019-0000123456-0000000007"


@pytest.fixture
def app(launch):
    return launch(model=0)


def send_all_but_the_last_byte(client, data):
    try:
        client.sock.settimeout(HANG_GUARD)
        client.send(data[:-1])
    except OSError:
        pass  # closed by the service under us: what the test looks for


def closed_with(client, code):
    """Whether the service has closed the connection with `code` (looked at briefly: an open
    connection has nothing to read)."""
    try:
        return client.close_code(timeout=0.5)[0] == code
    except (TimeoutError, OSError):
        return False


def test_unfinished_messages_on_thirty_connections_stay_within_the_budget(app):
    with WsClient(app.url()) as warm:
        assert warm.request("5") == SAM_REPLY
    idle = app.memory_kib("VmRSS")
    data = frame(OP_TEXT, b"5?" + b"x" * (MESSAGE - 2), key=bytes(4))
    sampler = Sampler(app)
    clients = []
    try:
        for _ in range(30):
            client = RawClient(app.port, timeout=HANG_GUARD)
            client.handshake()
            clients.append(client)
        senders = [threading.Thread(target=send_all_but_the_last_byte, args=(c, data)) for c in clients]
        for sender in senders:
            sender.start()
        for sender in senders:
            sender.join()
        # The others are untouched: a fresh client is served while the held messages wait.
        app.clear_calls()
        with WsClient(app.url(), timeout=HANG_GUARD) as fresh:
            assert fresh.request("5", timeout=HANG_GUARD) == SAM_REPLY
        assert app.call_names("ORV5U") == ["ORV_InitComm", "ORV_GetSAMID", "ORV_CloseComm"]
        closed = [c for c in clients if closed_with(c, 1009)]
        peak = sampler.stop()
    finally:
        sampler.stop()
        for client in clients:
            client.close()
    assert peak < idle + BUDGET_KIB + 32 * 1024, f"resident {peak} KiB at most, idle {idle} KiB"
    assert closed, "connections past the budget are closed with 1009"
    assert len(closed) < len(clients), "connections within the budget stay open"
    app.wait_for_output(lambda out, _: "Closing a connection with 1009" in out, what="the line of the refusal")
    # Their bytes return to the budget: memory goes back near idle, and the whole budget is free
    # for one more message of the same size.
    assert wait_until(lambda: app.memory_kib("VmRSS") < idle + 32 * 1024), app.memory_kib("VmRSS")
    with RawClient(app.port, timeout=HANG_GUARD) as raw:
        raw.handshake()
        raw.send(data)
        raw.send(frame(OP_TEXT, b"5"))
        fin, opcode, reply = raw.read_frame(timeout=HANG_GUARD)
    assert reply.decode() == SAM_REPLY


def test_one_whole_message_of_31_mb_is_received_and_the_connection_stays_usable(app):
    with RawClient(app.port, timeout=HANG_GUARD) as raw:
        raw.handshake()
        # "x…" is no command: it gets no reply, and the connection goes on.
        raw.send(frame(OP_TEXT, b"x" * MESSAGE, key=bytes(4)))
        raw.send(frame(OP_TEXT, b"5"))
        fin, opcode, reply = raw.read_frame(timeout=HANG_GUARD)
        assert (fin, opcode, reply.decode()) == (True, OP_TEXT, SAM_REPLY)
    assert "Closing a connection with 1009" not in app.stdout()


def attempts(app):
    """The times (ms, the reader's clock) at which the waiting read's attempts opened the reader."""
    return [ms for ms, name, _ in app.calls("ORV5U") if name == "ORV_InitComm"]


def test_a_waiting_read_ends_when_its_client_has_gone(app):
    app.set_scenario("ORV5U", {"ports": "1", "card": "0"})
    with WsClient(app.url(), timeout=HANG_GUARD) as other:
        app.clear_calls()
        waiting = WsClient(app.url())
        sent = time.monotonic()
        waiting.send("2?timeout=60000")
        time.sleep(1.0)
        waiting.close()
        closed = time.monotonic()
        app.set_scenario("ORV5U", {"ports": "1"})
        assert other.request("5", timeout=HANG_GUARD) == SAM_REPLY
    names = app.call_names("ORV5U")
    # The second client's command came right after the waiting read's attempts: none after it.
    assert names[-3:] == ["ORV_InitComm", "ORV_GetSAMID", "ORV_CloseComm"]
    read_attempts = attempts(app)[:-1]
    assert "ORV_GetSAMID" not in names[:-3]
    # Attempts start at least 500 ms apart: those begun before the close number at most
    # 1 + (time open) / 500 ms; one more may have begun while the close was on its way.
    assert 1 <= len(read_attempts) <= int((closed - sent) / 0.5) + 2, names
    assert "The waiting read ends: its client has gone" in app.stdout()


def test_a_waiting_read_whose_client_stays_goes_on_to_its_end(app):
    app.set_scenario("ORV5U", {"ports": "1", "card": "0"})
    with WsClient(app.url(), timeout=HANG_GUARD) as client:
        app.clear_calls()
        started = time.monotonic()
        assert client.request("2?timeout=1500", timeout=HANG_GUARD) == "读卡失败"
        assert time.monotonic() - started >= 1.5
    assert len(attempts(app)) >= 3


def test_messages_that_stop_arriving_give_the_budget_back_after_ten_seconds(app):
    # Three clients hold nearly all of the budget with messages that never go on.
    data = frame(OP_TEXT, b"5?" + b"x" * (MESSAGE - 2), key=bytes(4))
    holders = []
    try:
        for _ in range(3):
            holder = RawClient(app.port, timeout=HANG_GUARD)
            holder.handshake()
            holder.sock.settimeout(HANG_GUARD)
            holder.send(data[:22_300_000])
            holders.append(holder)
        stalled_at = time.monotonic()
        # Ten seconds without a byte, and they are closed with 1008: the budget is free again.
        assert all(h.close_code(timeout=HANG_GUARD)[0] == 1008 for h in holders)
        assert time.monotonic() - stalled_at >= 10
        app.wait_for_output(lambda out, _: out.count("a message has had no byte for 10 s") == 3, HANG_GUARD,
                            "the three lines")
        for holder in holders:
            holder.close()

        # Once their connections are gone, a message of 1 MB is taken again.
        def served():
            with RawClient(app.port, timeout=HANG_GUARD) as later:
                later.handshake()
                later.send(frame(OP_TEXT, b"x" * 1_000_000, key=bytes(4)) + frame(OP_TEXT, b"5"))
                got = later.read_frame(timeout=HANG_GUARD)
                return got is not None and got[1] == OP_TEXT and got[2] == SAM_REPLY.encode()

        assert wait_until(served, HANG_GUARD, interval=0.5)
    finally:
        for holder in holders:
            holder.close()

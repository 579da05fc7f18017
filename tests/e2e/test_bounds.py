"""What no client can make the service hold without bound: replies it never reads, pongs to a ping
flood, request bodies, handshakes that never finish."""

import os
import resource
import socket
import time

import pytest

from clients import OP_PING, OP_TEXT, RawClient, WsClient, frame
from kavenor_app import Sampler, wait_until

MIB = 1024  # in KiB, as /proc reports memory
HANG_GUARD = 180
SAM_REPLY = "05.01-00002019-0000123456-0000000007"


@pytest.fixture
def app(launch):
    return launch(model=0)


def unread_client(app):
    """A client that reads nothing, with a small receive buffer."""
    client = RawClient(app.port, timeout=HANG_GUARD)
    client.handshake()
    client.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    client.sock.settimeout(HANG_GUARD)  # the service reads a flood at its own pace
    return client


def assert_memory_returns(app, idle, peak):
    assert peak < idle + 200 * MIB, f"resident {peak} KiB at most, idle {idle} KiB"
    assert wait_until(lambda: app.memory_kib("VmRSS") < idle + 48 * MIB, HANG_GUARD), app.memory_kib("VmRSS")


def warm_idle(app):
    with WsClient(app.url(), timeout=HANG_GUARD) as warm:
        assert warm.request("3", timeout=HANG_GUARD).startswith("ORV5U|")
        assert warm.request("5", timeout=HANG_GUARD) == SAM_REPLY
    return app.memory_kib("VmRSS")


def test_replies_that_are_never_read_close_their_client_and_give_the_memory_back(app):
    idle = warm_idle(app)
    sampler = Sampler(app)
    unread = unread_client(app)
    try:
        # 50 card records of about 1 MB each, within the 64 commands a client may have waiting.
        unread.send(b"".join(frame(OP_TEXT, b"3") for _ in range(50)))
        # Replies that came while the network side was busy go out as one write and no longer count as
        # waiting; the rest may then stay under the bound, and the stall closes the client instead.
        app.wait_for_output(lambda out, _: "bytes of its replies wait unread" in out
                            or "its replies have not moved" in out, HANG_GUARD, "the client to be closed")
        with WsClient(app.url(), timeout=HANG_GUARD) as fresh:
            assert fresh.request("5", timeout=HANG_GUARD) == SAM_REPLY
    finally:
        peak = sampler.stop()
        unread.close()
    assert_memory_returns(app, idle, peak)


def test_a_ping_flood_from_a_client_that_reads_nothing_stays_small(app):
    idle = warm_idle(app)
    sampler = Sampler(app)
    unread = unread_client(app)
    # Past about 500,000 unread pongs this machine's loopback stops taking the client's bytes at all,
    # with or without the bound; 200,000 pongs unbounded were some 60 MB.
    pings = 200_000
    try:
        ping = frame(OP_PING, b"ping", key=b"\x01\x02\x03\x04")
        chunk = ping * 10_000
        for _ in range(pings // 10_000):
            unread.sock.sendall(chunk)
        # The pings were all read once a command behind them is answered.
        unread.send(frame(OP_TEXT, b"5"))
        with WsClient(app.url(), timeout=HANG_GUARD) as fresh:
            assert fresh.request("5", timeout=HANG_GUARD) == SAM_REPLY
        assert wait_until(lambda: app.call_names("ORV5U").count("ORV_GetSAMID") == 3, HANG_GUARD), \
            "the command behind the pings"
    finally:
        peak = sampler.stop()
        unread.close()
    assert_memory_returns(app, idle, peak)


@pytest.mark.parametrize("upgrade", [False, True])
def test_request_bodies_are_refused_before_they_are_read(app, upgrade):
    idle = warm_idle(app)
    head = ["POST / HTTP/1.1", "Host: 127.0.0.1", "Content-Length: 31999999"]
    if upgrade:
        head = ["GET / HTTP/1.1", "Host: 127.0.0.1", "Upgrade: websocket", "Connection: Upgrade",
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version: 13", "Content-Length: 31999999"]
    request = ("\r\n".join(head) + "\r\n\r\n").encode()
    sampler = Sampler(app)
    clients = []
    try:
        for _ in range(40):
            client = RawClient(app.port, timeout=HANG_GUARD)
            client.send(request + b"x" * 10_000)  # the start of a body that never ends
            clients.append(client)
        statuses = [int(c.read_until(b"\r\n\r\n").split(b" ", 2)[1]) for c in clients]
        peak = sampler.stop()
    finally:
        sampler.stop()
        for client in clients:
            client.close()
    assert statuses == [413] * 40
    assert peak < idle + 64 * MIB + 32 * MIB, f"resident {peak} KiB at most, idle {idle} KiB"


def test_handshakes_that_never_finish_are_closed_after_ten_seconds(app):
    count = 3000 if not app.target.wine else 1000
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < count + 200:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, count + 1000), hard))
    opened = time.monotonic()
    clients = []
    try:
        for _ in range(count):
            client = RawClient(app.port, timeout=HANG_GUARD)
            client.send(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"y" * 15_000)
            clients.append(client)
        with WsClient(app.url(), timeout=HANG_GUARD) as fresh:  # others are served meanwhile
            assert fresh.request("5", timeout=HANG_GUARD) == SAM_REPLY
        assert all(client.peer_closed(HANG_GUARD) for client in clients)
        assert time.monotonic() - opened >= 10
    finally:
        for client in clients:
            client.close()


def cpu_seconds(app):
    fields = open(f"/proc/{app.proc.pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_with_no_descriptor_left_the_listener_pauses_and_goes_on_after(app):
    if app.target.wine:
        pytest.skip("a lowered open-file limit is a matter of the Linux program")
    resource.prlimit(app.proc.pid, resource.RLIMIT_NOFILE, (64, 64))
    clients = []
    try:
        for _ in range(80):  # taken by the kernel's backlog, though the program cannot accept them all
            clients.append(RawClient(app.port, timeout=HANG_GUARD))
        app.wait_for_output(lambda out, _: "Not accepting connections for now" in out, HANG_GUARD, "the pause")
        before, errors = cpu_seconds(app), len(app.stderr())
        time.sleep(2)
        # A spinning accept loop would take a whole processor and write to standard error all along.
        assert cpu_seconds(app) - before < 1.0
        assert len(app.stderr()) - errors < 2000
    finally:
        for client in clients:
            client.close()
    with WsClient(app.url(), timeout=HANG_GUARD) as fresh:
        assert fresh.request("5", timeout=HANG_GUARD) == SAM_REPLY

"""Listening and the end of the service: "stop-listening", the port taken from Config.ini, a port that
cannot be bound, an opening handshake that does not complete in time. A fresh program for each test that ends
or moves the listener."""

import socket
import time

import pytest

from clients import OP_TEXT, RawClient, WsClient, connection_refused, frame, http_get
from kavenor_app import ipv6_loopback_works, port_is_free, wait_until

SAM_REPLY = "05.01-00002019-0000123456-0000000007"
HANG_GUARD = 180


def loopbacks():
    return ["127.0.0.1", "::1"] if ipv6_loopback_works() else ["127.0.0.1"]


def test_stop_listening_refuses_new_connections_serves_open_ones_then_ends(launch):
    app = launch(model=0)
    with WsClient(app.url()) as other:
        c = WsClient(app.url())
        c.send("stop-listening")
        assert c.no_message_within(0.5), "stop-listening got a reply"
        for host in loopbacks():
            assert wait_until(lambda: connection_refused(app.port, host), 5), f"{host} still accepts connections"
        assert c.request("5") == SAM_REPLY
        assert other.request("5") == SAM_REPLY
        # A second one finds the endpoint no longer listening and is ignored.
        c.send("stop-listening")
        assert c.request("5") == SAM_REPLY
        assert other.request("5") == SAM_REPLY
        threads = app.thread_count()
        c.close()
        assert other.request("5") == SAM_REPLY, "the service ended while a connection was still open"
    # The last connection has gone: the service thread ends, the program stays up.
    assert wait_until(lambda: app.thread_count() < threads, 10), \
        f"the service thread did not end ({app.thread_count()} threads, {threads} before)\n{app.describe()}"
    time.sleep(0.5)
    assert app.alive()
    assert all(connection_refused(app.port, host) for host in loopbacks())


def test_port_above_16_bits_listens_on_its_low_16_bits(launch):
    if not port_is_free(4464):
        pytest.skip("port 4464 is taken on this machine")
    app = launch(port=70000, start=False).start(wait_listening=False)
    app.wait_listening(port=4464)
    with WsClient("ws://127.0.0.1:4464/") as c:
        assert c.request("5") == SAM_REPLY
    status, _, body = http_get(4464)
    assert status == 200 and body


def _blocker(port):
    """A listening socket on the port, on IPv4 and IPv6 alike."""
    if socket.has_ipv6 and ipv6_loopback_works():
        s = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
        s.bind(("::", port))
    else:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind(("0.0.0.0", port))
    s.listen(8)
    return s


def test_port_that_cannot_be_bound_ends_the_service_not_the_program(launch):
    # A normal start: a relaunched one would first wait for its predecessor to let go of the port.
    app = launch(model=0, start=False, normal_start=True)
    blocker = _blocker(app.port)
    try:
        app.start(wait_listening=False)
        # The endpoint's error log names the failed listen; the status log tells the operator.
        app.wait_for_output(lambda out, err: "listen" in err.lower(), app.target.start_timeout,
                            "a line about the failed listen on standard error")
        app.wait_for_output(lambda out, err: f"服务未能启动：端口{app.port}已被占用或无法使用" in app.status_lines(),
                            app.target.start_timeout, "the failure as a status-log line")
        time.sleep(1.0)
        assert app.alive(), f"the program ended with the service\n{app.describe()}"
    finally:
        blocker.close()
    # Nothing tries again: the port stays closed once it is free.
    time.sleep(1.0)
    assert connection_refused(app.port)
    assert app.alive()


def test_an_opening_handshake_has_ten_seconds(launch):
    app = launch(model=0)
    with RawClient(app.port) as silent, RawClient(app.port) as partial, RawClient(app.port) as slow:
        opened = time.monotonic()
        partial.send(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n")
        slow.send(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n")
        # More than the library's usual 5 s: a slow client still finishes in time.
        assert not silent.peer_closed(6.5) and not partial.peer_closed(0.1)
        with WsClient(app.url()) as c:
            assert c.request("5") == SAM_REPLY
        partial.send(b"Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                     b"Sec-WebSocket-Version: 13\r\n\r\n")
        head = partial.read_until(b"\r\n\r\n")
        assert b" 101 " in head.split(b"\r\n", 1)[0], head
        # Those that never finish are closed, once their 10 s have passed.
        assert silent.peer_closed(HANG_GUARD) and slow.peer_closed(HANG_GUARD)
        assert time.monotonic() - opened >= 10
        partial.send(frame(OP_TEXT, b"5"))  # the one that finished in time stays open
        assert partial.read_frame(HANG_GUARD)[2].decode() == SAM_REPLY

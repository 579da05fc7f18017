"""Input no well-behaved client sends. Each case must leave the service serving a fresh client in one
reader cycle; frames that break the protocol close only their own connection, with the close code
that names the fault. One program (model 0) for the whole module."""

import random
import struct
import time

import pytest

from clients import OP_BINARY, OP_CLOSE, OP_CONT, OP_PING, OP_PONG, OP_TEXT, RawClient, WsClient, frame

SAM_REPLY = "05.01-00002019-0000123456-0000000007"
LIMIT = 32_000_000
MIB_IN_KIB = 1024
# Only stops a hung test: a service stuck behind a bad connection that stays open never answers.
HANG_GUARD = 120


@pytest.fixture(scope="module")
def app(module_launch):
    return module_launch(model=0)


def assert_serves_a_fresh_client(app):
    app.clear_calls()
    with WsClient(app.url(), timeout=HANG_GUARD) as c:
        assert c.request("5", timeout=HANG_GUARD) == SAM_REPLY
    # Served at once: one reader cycle of ORV5U (model 0) and no other reader touched.
    assert app.call_names("ORV5U") == ["ORV_InitComm", "ORV_GetSAMID", "ORV_CloseComm"]
    assert app.calls("ORV5A") == [] and app.calls("ORV5ULN") == []
    assert app.alive()


def idle_headers(kind):
    """A frame header that claims a payload of about 32 MB that never comes."""
    if kind == "first frame":
        return frame(OP_TEXT, claimed=LIMIT)
    return frame(OP_TEXT, b"5", fin=False) + frame(OP_CONT, claimed=LIMIT - 1)


@pytest.mark.parametrize("kind", ["first frame", "continuation frame"])
def test_connections_claiming_32_mb_each_take_memory_only_as_bytes_arrive(app, kind):
    assert_serves_a_fresh_client(app)
    rss, size = app.memory_kib("VmRSS"), app.memory_kib("VmSize")
    clients = []
    try:
        for _ in range(200):
            c = RawClient(app.port)
            clients.append(c)
            c.handshake()
            c.send(idle_headers(kind))
        time.sleep(1.0)
        assert_serves_a_fresh_client(app)
        grown_rss = app.memory_kib("VmRSS") - rss
        grown_size = app.memory_kib("VmSize") - size
    finally:
        for c in clients:
            c.close()
    assert grown_rss < 64 * MIB_IN_KIB, f"resident memory grew by {grown_rss} KiB"
    # A reservation is not resident until it is written; the address space shows what was claimed.
    assert grown_size < 1024 * MIB_IN_KIB, f"address space grew by {grown_size} KiB"
    assert_serves_a_fresh_client(app)


BAD_FRAMES = [
    ("unmasked frame", frame(OP_TEXT, b"5", mask=False), 1002),
    ("RSV1 without an extension", frame(OP_TEXT, b"5", rsv=4), 1002),
    ("RSV2 and RSV3", frame(OP_TEXT, b"5", rsv=3), 1002),
    ("126-byte ping", frame(OP_PING, b"p" * 126), 1002),
    ("fragmented ping", frame(OP_PING, b"p", fin=False), 1002),
    ("reserved opcode", frame(0x3, b"5"), 1002),
    ("continuation without a start", frame(OP_CONT, b"5"), 1002),
    ("new message inside a fragmented one", frame(OP_TEXT, b"5", fin=False) + frame(OP_BINARY, b"5"), 1002),
    ("close with a reserved code", frame(OP_CLOSE, struct.pack("!H", 1005)), 1002),
    ("invalid UTF-8", frame(OP_TEXT, b"5?\xff\xfe"), 1007),
    ("overlong UTF-8", frame(OP_TEXT, b"5?\xc0\xaf"), 1007),
    ("surrogate in UTF-8", frame(OP_TEXT, b"5?\xed\xa0\x80"), 1007),
    ("invalid UTF-8 across fragments", frame(OP_TEXT, b"5?\xe8\xaf", fin=False) + frame(OP_CONT, b"\x41"), 1007),
    ("header over the message limit", frame(OP_TEXT, claimed=LIMIT + 1), 1009),
    ("fragments over the message limit",
     frame(OP_TEXT, b"x" * 1000, fin=False) + frame(OP_CONT, claimed=LIMIT - 1000 + 1), 1009),
]


@pytest.mark.parametrize("data, code", [(d, c) for _, d, c in BAD_FRAMES], ids=[n for n, _, _ in BAD_FRAMES])
def test_frame_that_breaks_the_protocol_closes_its_connection(app, data, code):
    with RawClient(app.port) as raw:
        raw.handshake()
        raw.send(data)
        got, before = raw.close_code(timeout=HANG_GUARD)
        assert got == code
        assert all(opcode not in (OP_TEXT, OP_BINARY) for _, opcode, _ in before), before
    assert_serves_a_fresh_client(app)


def test_message_of_exactly_the_limit_is_answered(app):
    payload = b"5?" + b"x" * (LIMIT - 2)
    with RawClient(app.port, timeout=HANG_GUARD) as raw:
        raw.handshake()
        raw.send(frame(OP_TEXT, payload, key=bytes(4)))
        fin, opcode, reply = raw.read_frame(timeout=HANG_GUARD)
    assert (fin, opcode, reply.decode()) == (True, OP_TEXT, SAM_REPLY)
    assert_serves_a_fresh_client(app)


def _random_bytes(seed, n, end=b""):
    rng = random.Random(seed)
    return bytes(rng.getrandbits(8) for _ in range(n)) + end


NOT_A_HANDSHAKE = [
    ("random bytes", _random_bytes(1, 4096)),
    ("random bytes and a blank line", _random_bytes(2, 1000, b"\r\n\r\n")),
    ("TLS client hello", b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + _random_bytes(3, 500, b"\r\n\r\n")),
    ("upgrade without a key", b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                              b"Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n\r\n"),
    ("unknown protocol version", b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 99\r\n\r\n"),
    ("header line without end", b"GET / HTTP/1.1\r\nX-Long: " + b"a" * 100000),
]


@pytest.mark.parametrize("data", [d for _, d in NOT_A_HANDSHAKE], ids=[n for n, _ in NOT_A_HANDSHAKE])
def test_bytes_instead_of_a_handshake(app, data):
    with RawClient(app.port) as raw:
        try:
            raw.send(data)
        except OSError:
            pass  # refused before the last byte: fine
        assert_serves_a_fresh_client(app)
        raw.peer_closed(0.5)  # an answer, a close or nothing: either way the service goes on
    assert_serves_a_fresh_client(app)


def test_the_log_shows_no_forged_line_no_key_and_little_per_ping(app):
    with WsClient(app.url(), timeout=HANG_GUARD) as c:
        c.send("5\n[2026-01-01 00:00:00] forged line\r\n")
        c.send("7?Key=A1B2C3D4E5F6|Block=4")
        assert c.recv(timeout=HANG_GUARD)  # the read's reply, whatever it is
        app.wait_for_output(lambda out, _: "Key=***" in out, HANG_GUARD, what="the read's log line")
        out = app.stdout()
        assert "\n[2026-01-01 00:00:00] forged line" not in out
        assert "message: 5\\x0a[2026-01-01 00:00:00] forged line\\x0d\\x0a\n" in out
        assert "A1B2C3D4E5F6" not in out
    before = len(app.stdout())
    with RawClient(app.port) as raw:
        raw.handshake()
        for _ in range(100):
            raw.send(frame(OP_PING, b"ping"))
        raw.send(frame(OP_TEXT, b"5"))
        opcodes = [raw.read_frame(HANG_GUARD)[1]]
        while opcodes[-1] != OP_TEXT:  # the pongs, then the reply
            opcodes.append(raw.read_frame(HANG_GUARD)[1])
        assert opcodes[0] == OP_PONG
    assert_serves_a_fresh_client(app)
    # A page's whole life and a hundred pings: a few lines, not a dozen per frame (one ping wrote 23.7 KB).
    assert len(app.stdout()) - before < 4000

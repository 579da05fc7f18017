"""Clients of the service: a real WebSocket client (websockets 10.4) behind a blocking surface, a raw
socket client for frames no well-behaved client sends, and plain HTTP."""

import asyncio
import base64
import http.client
import os
import socket
import struct
import time

import websockets
import websockets.client
import websockets.exceptions

OP_CONT, OP_TEXT, OP_BINARY, OP_CLOSE, OP_PING, OP_PONG = 0x0, 0x1, 0x2, 0x8, 0x9, 0xA


class WsClient:
    """websockets' client run on a private event loop; every call is bounded by a time-out."""

    def __init__(self, url, timeout=10.0, **options):
        self.loop = asyncio.new_event_loop()
        options.setdefault("max_size", None)
        options.setdefault("ping_interval", None)  # a waiting read keeps the service from answering pings
        options.setdefault("close_timeout", 2)
        options.setdefault("open_timeout", timeout)
        async def connect():  # made inside the loop, so that it binds to this loop
            return await websockets.client.connect(url, **options)

        try:
            self.ws = self._run(connect(), timeout)
        except BaseException:
            self.loop.close()
            raise

    def _run(self, coroutine, timeout):
        return self.loop.run_until_complete(asyncio.wait_for(coroutine, timeout))

    def send(self, message, timeout=10.0):
        self._run(self.ws.send(message), timeout)

    def recv(self, timeout=10.0):
        return self._run(self.ws.recv(), timeout)

    def request(self, message, timeout=10.0):
        self.send(message)
        return self.recv(timeout)

    def no_message_within(self, seconds):
        """True when nothing arrives within `seconds`."""
        try:
            self._run(self.ws.recv(), seconds)
        except asyncio.TimeoutError:
            return True
        return False

    @property
    def subprotocol(self):
        return self.ws.subprotocol

    @property
    def response_headers(self):
        return self.ws.response_headers

    def close(self):
        if self.loop.is_closed():
            return
        try:
            self._run(self.ws.close(), 5)
        except Exception:
            pass
        finally:
            self.loop.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def frame(opcode, payload=b"", fin=True, mask=True, rsv=0, claimed=None, key=None):
    """One WebSocket frame. `rsv` holds the bits RSV1..RSV3 as 4, 2, 1; `claimed` overrides the
    payload length written in the header (for headers whose payload never follows); a key of four
    zero bytes leaves a large payload as it is."""
    length = len(payload) if claimed is None else claimed
    head = bytes([(0x80 if fin else 0) | (rsv << 4) | opcode])
    mask_bit = 0x80 if mask else 0
    if length < 126:
        head += bytes([mask_bit | length])
    elif length < 1 << 16:
        head += bytes([mask_bit | 126]) + struct.pack("!H", length)
    else:
        head += bytes([mask_bit | 127]) + struct.pack("!Q", length)
    if not mask:
        return head + payload
    key = os.urandom(4) if key is None else key
    if key == bytes(4):
        return head + key + payload
    return head + key + bytes(b ^ key[i % 4] for i, b in enumerate(payload))


class RawClient:
    """A TCP connection that speaks the opening handshake and frames by hand."""

    def __init__(self, port, host="127.0.0.1", timeout=10.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.buffer = b""

    def handshake(self, path="/", headers=()):
        status, head = self.try_handshake(path, headers)
        assert status == 101, f"handshake refused: {head!r}"
        return head

    def try_handshake(self, path="/", headers=()):
        """The opening handshake: (HTTP status, response head)."""
        key = base64.b64encode(os.urandom(16)).decode()
        lines = [f"GET {path} HTTP/1.1", "Host: 127.0.0.1", "Upgrade: websocket", "Connection: Upgrade",
                 f"Sec-WebSocket-Key: {key}", "Sec-WebSocket-Version: 13", *headers]
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        head = self.read_until(b"\r\n\r\n")
        return int(head.split(b" ", 2)[1]), head

    def send(self, data):
        self.sock.sendall(data)

    def read_until(self, marker, timeout=10.0):
        deadline = time.monotonic() + timeout
        while marker not in self.buffer:
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError(f"closed before {marker!r}; got {self.buffer[:200]!r}")
            self.buffer += chunk
        head, self.buffer = self.buffer.split(marker, 1)
        return head + marker

    def _read_exactly(self, n, deadline):
        while len(self.buffer) < n:
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed in the middle of a frame")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def read_frame(self, timeout=10.0):
        """(fin, opcode, payload) of the next frame from the server, or None when it closed the TCP
        connection between frames."""
        deadline = time.monotonic() + timeout
        try:
            b0, b1 = self._read_exactly(2, deadline)
        except ConnectionError:  # a reset too
            if self.buffer:
                raise
            return None
        length = b1 & 0x7F
        if length == 126:
            length = struct.unpack("!H", self._read_exactly(2, deadline))[0]
        elif length == 127:
            length = struct.unpack("!Q", self._read_exactly(8, deadline))[0]
        key = self._read_exactly(4, deadline) if b1 & 0x80 else None
        payload = self._read_exactly(length, deadline)
        if key:
            payload = bytes(b ^ key[i % 4] for i, b in enumerate(payload))
        return bool(b0 & 0x80), b0 & 0x0F, payload

    def close_code(self, timeout=10.0):
        """(status code of the server's close frame or None when the connection ends without one,
        the frames that came before it)."""
        deadline = time.monotonic() + timeout
        before = []
        while time.monotonic() < deadline:
            got = self.read_frame(deadline - time.monotonic())
            if got is None:
                return None, before
            _, opcode, payload = got
            if opcode == OP_CLOSE:
                return (struct.unpack("!H", payload[:2])[0] if len(payload) >= 2 else None), before
            before.append(got)
        raise TimeoutError("no close frame")

    def peer_closed(self, timeout):
        """True when the server closes the TCP connection within `timeout` seconds."""
        self.sock.settimeout(timeout)
        try:
            return self.sock.recv(65536) == b""
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def http_get(port, path="/", host="127.0.0.1", timeout=10.0, method="GET", headers=None):
    """(status, headers, body) of one plain HTTP request (a POST carries a small form)."""
    conn = http.client.HTTPConnection(host, port, timeout=timeout)
    try:
        body = b"name=value" if method == "POST" else None
        conn.request(method, path, body=body, headers={"User-Agent": "kavenor-e2e", **(headers or {})})
        response = conn.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        conn.close()


def listening(port, host="127.0.0.1"):
    """Whether a connection to the port is taken."""
    try:
        with socket.create_connection((host, port), timeout=1.0):
            return True
    except OSError:
        return False


def connection_refused(port, host="127.0.0.1", timeout=2.0):
    try:
        with socket.create_connection((host, port), timeout=timeout):
            return False
    except ConnectionRefusedError:
        return True

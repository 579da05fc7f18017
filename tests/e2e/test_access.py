"""Who may connect: the web sites of [Security] AllowedOrigins and DeniedOrigins, the operator's
questions about the others (AskOperator), and the addresses of [IP] Bind. Traffic goes to loopback
addresses only. The questions themselves are answered in the window tests."""

import socket
from pathlib import Path

import pytest

from clients import OP_TEXT, RawClient, WsClient, frame, http_get
from kavenor_app import free_port, ipv6_loopback_works, wait_until

LISTED = "https://counter.example.cn, http://10.1.2.3:8080  null"


def config(port, origins=None, bind=None, denied=None, ask=None):
    text = f"[IP]\nport={port}\nRestart=1\n"
    if bind is not None:
        text += f"Bind={bind}\n"
    text += "[Security]\n"
    for key, value in (("AllowedOrigins", origins), ("DeniedOrigins", denied), ("AskOperator", ask)):
        if value is not None:
            text += f"{key}={value}\n"
    return text


def start(launch, **keys):
    port = free_port()
    return launch(port=port, config=config(port, **keys))


def handshake_status(app, origin):
    headers = [] if origin is None else [f"Origin: {origin.format(port=app.port)}"]
    with RawClient(app.port) as raw:
        return raw.try_handshake(headers=headers)[0]


@pytest.fixture(scope="module")
def guarded(module_launch):
    """A plain allow-list, as IT sets it up: the operator is not asked."""
    return start(module_launch, origins=LISTED, ask=0)


@pytest.mark.parametrize("origin, status", [
    ("https://counter.example.cn", 101),
    ("HTTPS://Counter.Example.CN:443", 101),
    ("http://10.1.2.3:8080", 101),
    ("null", 101),
    (None, 101),                          # not a browser
    ("http://127.0.0.1:{port}", 101),     # the service's own pages
    ("http://localhost:{port}", 101),
    ("http://[::1]:{port}", 101),
    ("https://evil.example.com", 403),
    ("https://counter.example.cn.evil.example.com", 403),
    ("http://10.1.2.3:8081", 403),
    ("http://127.0.0.1:1", 403),
    ("not an origin", 403),
])
def test_only_listed_origins_and_the_own_pages_may_open_a_websocket(guarded, origin, status):
    assert handshake_status(guarded, origin) == status
    if status == 403:
        line = f"Refused a WebSocket connection from origin {origin}"
        guarded.wait_for_output(lambda out, _: line in out, what=line)


def test_a_listed_origin_is_served_and_a_refused_one_changes_nothing(guarded):
    with WsClient(guarded.url(), origin="https://counter.example.cn") as client:
        assert client.request("3").startswith("ORV5U|")
    # The test page itself is plain HTTP, served to anyone.
    assert http_get(guarded.port, headers={"Origin": "https://evil.example.com"})[0] == 200


def test_a_page_opened_from_a_file_only_when_null_is_listed(launch):
    app = start(launch, origins="https://counter.example.cn")  # the operator is asked about other sites
    assert handshake_status(app, "null") == 403
    app.wait_for_output(lambda out, _: "pages opened from a file may connect only when [Security] AllowedOrigins "
                        "lists null" in out, what="the refusal's line")
    assert handshake_status(app, "https://counter.example.cn") == 101


def test_a_site_nobody_has_decided_on_is_asked_about_or_refused_with_the_key_to_set(launch, target):
    app = start(launch)
    if target.wine:
        # The window asks the operator; meanwhile the page's commands wait.
        with WsClient(app.url(), origin="https://new.example.cn") as page:
            page.send("5")
            app.wait_for_output(lambda out, _: "Asking the operator whether the pages of https://new.example.cn "
                                "may use the reader" in out, what="the question")
            assert page.no_message_within(target.prompt)
            assert app.call_names("ORV5U") == []
    else:
        assert handshake_status(app, "https://new.example.cn") == 403
        app.wait_for_output(lambda out, _: "Refused a WebSocket connection from origin https://new.example.cn: not in "
                            "[Security] AllowedOrigins, and there is no window to ask the operator: to allow its "
                            "pages, add it to AllowedOrigins in Config.ini" in out, what="the line naming the key")


def test_a_refused_site_is_told_so_and_every_site_only_when_chosen(launch):
    app = start(launch, origins="*", denied="https://evil.example.com")
    assert "[Security] AllowedOrigins=*: the pages of every web site may use the reader, without asking" in app.stdout()
    with WsClient(app.url(), origin="https://any.example.org") as page:
        assert page.request("5").startswith("05.01-")
    with RawClient(app.port) as raw:
        assert raw.try_handshake(headers=["Origin: https://evil.example.com"])[0] == 101
        raw.send(frame(OP_TEXT, b"5"))
        code, before = raw.close_code()
        assert (code, before) == (1008, [])
    assert app.call_names("ORV5U").count("ORV_GetSAMID") == 1


def listening_addresses(port):
    """The local addresses of the sockets that listen on `port`, from /proc/net (the whole machine)."""
    found = set()
    for table, family in (("tcp", socket.AF_INET), ("tcp6", socket.AF_INET6)):
        path = Path("/proc/net") / table
        if not path.exists():
            continue
        for line in path.read_text().splitlines()[1:]:
            fields = line.split()
            address, hex_port = fields[1].split(":")
            if int(hex_port, 16) != port or fields[3] != "0A":  # 0A: LISTEN
                continue
            raw = bytes.fromhex(address)
            # Each 32-bit word is in the host's (little-endian) order.
            raw = b"".join(raw[i:i + 4][::-1] for i in range(0, len(raw), 4))
            found.add(socket.inet_ntop(family, raw))
    return found


def test_bind_loopback_listens_on_the_two_loopback_addresses_only(launch):
    app = start(launch, bind="loopback")
    expected = {"127.0.0.1", "::1"} if ipv6_loopback_works() else {"127.0.0.1"}
    assert listening_addresses(app.port) == expected
    for host in sorted(expected):
        assert http_get(app.port, host=host)[0] == 200
        with WsClient(app.url(host)) as client:
            assert client.request("3").startswith("ORV5U|")
    # Both listeners stop on one request.
    with WsClient(app.url()) as client:
        client.send("stop-listening")
        app.wait_for_output(lambda out, _: "stop-listening" in out, what="the command's log line")
        assert client.request("3").startswith("ORV5U|"), "an open connection is still served"
    assert listening_addresses(app.port) == set()


def test_bind_any_or_nothing_listens_on_every_interface(launch):
    for keys in ({"bind": "any"}, {}):
        app = start(launch, **keys)
        assert listening_addresses(app.port) in ({"::"}, {"0.0.0.0"})
        app.stop()


def hybi8_handshake_status(app, headers):
    """The opening handshake of protocol version 8, which names the origin in Sec-WebSocket-Origin."""
    lines = ["GET / HTTP/1.1", "Host: 127.0.0.1", "Upgrade: websocket", "Connection: Upgrade",
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version: 8", *headers]
    with RawClient(app.port) as raw:
        raw.send(("\r\n".join(lines) + "\r\n\r\n").encode())
        return int(raw.read_until(b"\r\n\r\n").split(b" ", 2)[1])


@pytest.mark.parametrize("headers, status", [
    (["Sec-WebSocket-Origin: https://counter.example.cn"], 101),
    (["Sec-WebSocket-Origin: https://counter.example.cn", "Origin: https://counter.example.cn"], 101),
    (["Sec-WebSocket-Origin: https://counter.example.cn", "Origin: https://evil.example.com"], 403),
    (["Sec-WebSocket-Origin: https://evil.example.com"], 403),
])
def test_protocol_8_handshakes_are_judged_by_both_origin_headers(guarded, headers, status):
    assert hybi8_handshake_status(guarded, headers) == status


def test_stop_listening_is_obeyed_only_from_a_program_on_this_computer(launch):
    app = start(launch, origins="https://counter.example.cn")
    with WsClient(app.url(), origin="https://counter.example.cn") as page:
        page.send("stop-listening")
        app.wait_for_output(lambda out, _: "stop-listening ignored: only a program on this computer" in out,
                            what="the refusal's line")
        assert page.no_message_within(0.1), "an unknown command gets no reply"
        assert page.request("5").startswith("05.01-")
    with WsClient(app.url()) as program:  # no Origin, from 127.0.0.1
        assert program.request("5").startswith("05.01-")
        program.send("stop-listening")
        assert wait_until(lambda: listening_addresses(app.port) == set()), "the listener stops"
        assert program.request("5").startswith("05.01-"), "an open connection is still served"


def test_a_second_ip_section_with_bind_loopback_is_not_ignored(launch):
    port = free_port()
    # What pasting the guide's snippet at the end of an existing Config.ini gives.
    app = launch(port=port, config=f"[IP]\nport={port}\nRestart=1\n[Device]\nID=0\n[IP]\nBind=loopback\n")
    expected = {"127.0.0.1", "::1"} if ipv6_loopback_works() else {"127.0.0.1"}
    assert listening_addresses(app.port) == expected
    assert "Config.ini: the section [IP] stands more than once" in app.stdout()

"""Connections and the command protocol against one running program (model 0, the demo card)."""

import pytest

from clients import WsClient
from kavenor_app import free_port, ipv6_loopback_works

SAM_REPLY = "05.01-00002019-0000123456-0000000007"  # the demo reader's security-module number


@pytest.fixture(scope="module")
def app(module_launch):
    return module_launch(model=0)


@pytest.mark.parametrize("host", ["127.0.0.1", "::1"])
def test_accepts_ipv4_and_ipv6(app, host):
    if host == "::1" and not ipv6_loopback_works():
        pytest.skip("this machine has no IPv6 loopback")
    with WsClient(app.url(host)) as c:
        assert c.request("5") == SAM_REPLY


@pytest.fixture(scope="module")
def every_site(module_launch):
    """A program whose operator has chosen to let every site use the reader."""
    port = free_port()
    return module_launch(port=port, config=f"[IP]\nport={port}\nRestart=1\n[Security]\nAllowedOrigins=*\n")


@pytest.mark.parametrize("path, origin, subprotocols", [
    ("/", None, None),
    ("/any/deep/path?x=1&y=%E8%AF%BB", "http://pages.example.invalid", None),
    ("/ws", "null", ["chat", "kavenor.v1"]),
    ("/socket", "https://host.example.invalid:8443", ["x-card"]),
])
def test_any_allowed_origin_path_and_subprotocol_accepted_none_selected(every_site, path, origin, subprotocols):
    with WsClient(every_site.url(path=path), origin=origin, subprotocols=subprotocols) as c:
        assert c.subprotocol is None
        assert "Sec-WebSocket-Protocol" not in c.response_headers
        assert c.response_headers.get("Server") == "WebSocket++/0.8.2"
        assert c.request("5") == SAM_REPLY


@pytest.mark.parametrize("payload", [b"5", b"5?\xff\xfe not UTF-8 is fine in a binary frame"])
def test_binary_frame_answered_in_text_frame(app, payload):
    with WsClient(app.url()) as c:
        reply = c.request(payload)
        assert isinstance(reply, str), "the reply came in a binary frame"
        assert reply == SAM_REPLY


@pytest.mark.parametrize("code_text", ["5", "05", "0x5", "0X5", " 5", "\t5", "5?ignored|timeout=1", "+5"])
def test_code_texts_of_one_command(app, code_text):
    with WsClient(app.url()) as c:
        assert c.request(code_text) == SAM_REPLY


@pytest.mark.parametrize("unknown", [
    "", "0", "1", "10", "A", "a", "abc", "?5", "-5", "0x", "4294967301",
    "stop-listening ", " stop-listening", "STOP-LISTENING", "stop-listening\n",
])
def test_unknown_code_unanswered_connection_stays_usable(app, unknown):
    with WsClient(app.url()) as c:
        c.send(unknown)
        # Replies come in order on one connection: the next message must be the reply to "5".
        assert c.request("5") == SAM_REPLY
        assert c.no_message_within(0.3)


def test_commands_of_several_connections_answered_each_on_its_own(app):
    with WsClient(app.url()) as a, WsClient(app.url()) as b:
        a.send("5")
        b.send("6")
        assert b.recv() == "设备无此功能"
        assert a.recv() == SAM_REPLY
        assert a.no_message_within(0.2) and b.no_message_within(0.2)

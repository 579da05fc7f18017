"""Replies that come from the simulated reader: the waiting read (code 2), a missing reader, texts
outside code page 936. One program (model 0, ORV5U); each test sets the scenario it needs."""

import datetime
import json
import socket
import struct
import time

import pytest

from clients import OP_TEXT, RawClient, WsClient, frame
from kavenor_app import free_port

SAM_REPLY = "05.01-00002019-0000123456-0000000007"
CARD_PREFIX = "ORV5U|大厅1|身份证|张三丰|男|汉|19900101|"


@pytest.fixture(scope="module")
def app(module_launch):
    return module_launch(model=0)


@pytest.fixture
def reader(app):
    """Sets the ORV5U scenario and clears the call logs; the demo card on port 1 again afterwards."""
    def set_scenario(**lines):
        app.set_scenario("ORV5U", {"ports": "1", **lines})
        app.clear_calls()
    yield set_scenario
    app.set_scenario("ORV5U", {"ports": "1"})


def new_status_lines(app, before, count, timeout):
    """Waits until `count` status lines have been written after the first `before`; returns them."""
    app.wait_for_output(lambda out, err: len(app.status_lines()) >= before + count, timeout,
                        f"{count} status lines after the first {before}")
    time.sleep(0.3)  # none beyond them
    return app.status_lines()[before:]


@pytest.mark.parametrize("command", ["2?timeout=0", "2", "2?timeout=", "2?timeout=x5000", "2?Timeout=5000"])
def test_waiting_read_without_time_out_answers_at_once_reader_untouched(app, reader, command):
    reader()
    with WsClient(app.url()) as c:
        start = time.monotonic()
        assert c.request(command) == "读卡失败"
        assert time.monotonic() - start < app.target.prompt
    assert app.call_names("ORV5U") == []


def test_waiting_read_answers_when_the_card_is_placed(app, reader):
    reader(card=0)
    before = len(app.status_lines())
    with WsClient(app.url()) as c:
        start = time.monotonic()
        c.send("2?timeout=30000")
        time.sleep(1.6)
        app.set_scenario("ORV5U", {"ports": "1", "card": "1"})
        reply = c.recv(timeout=20)
        elapsed = time.monotonic() - start
    assert reply.startswith(CARD_PREFIX), reply[:200]
    # The attempt after the card was placed: within a pause, an attempt and some slack.
    assert 1.6 <= elapsed < 1.6 + 0.5 + 2 * app.target.prompt
    lines = new_status_lines(app, before, 3, 10)
    assert lines[-1] == "读卡成功" and set(lines[:-1]) == {"卡认证失败"}, lines


def test_waiting_read_without_card_tries_every_half_second_until_the_time_out(app, reader):
    reader(card=0)
    before = len(app.status_lines())
    with WsClient(app.url()) as c:
        start = time.monotonic()
        reply = c.request("2?timeout=3000", timeout=20)
        elapsed = time.monotonic() - start
    assert reply == "读卡失败"
    assert 3.0 <= elapsed < 3.0 + app.target.prompt
    calls = app.calls("ORV5U")
    opens = [ms for ms, name, _ in calls if name == "ORV_InitComm"]
    attempts = [name for _, name, _ in calls].count("ORV_Authenticate")
    assert 4 <= attempts <= 7 and len(opens) == attempts, calls
    gaps = [b - a for a, b in zip(opens, opens[1:])]
    assert all(gap >= 480 for gap in gaps), gaps
    # One status line per attempt, each the attempt's own failure.
    assert new_status_lines(app, before, attempts, 5) == ["卡认证失败"] * attempts


def test_no_reader_answers_connect_failure_with_one_status_line(app, reader):
    reader(ports="")
    before = len(app.status_lines())
    with WsClient(app.url()) as c:
        assert c.request("3") == "连接设备失败"
    assert app.call_names("ORV5U") == ["ORV_InitComm"] * 33
    assert new_status_lines(app, before, 1, 5) == ["设备无法连接，请拔插一下设备"]
    line = [l for l in app.stdout_lines() if l.endswith("设备无法连接，请拔插一下设备")][-1]
    stamp = datetime.datetime.strptime(line[:19], "%Y-%m-%d %H:%M:%S")
    assert line[19] == " " and abs((datetime.datetime.now() - stamp).total_seconds()) < 120, line


@pytest.mark.parametrize("name, address", [
    ("张𠮷", "北京市东城区示例路1号"),
    ("김한결", "서울특별시 종로구 1"),
    ("Zoë Ærøskøbing-Łódź", "𠀀𪚥 Straße 5 ☃"),
])
def test_reply_with_characters_outside_code_page_936_arrives_intact(app, reader, name, address):
    reader(GetPeopleNameU=name, GetPeopleAddressU=address)
    with WsClient(app.url()) as c:
        fields = c.request("3").split("|")
    assert fields[:8] == ["ORV5U", "大厅1", "身份证", name, "男", "汉", "19900101", address]


def _abort(port, how):
    """Sends a long waiting read and goes away without waiting for its reply."""
    if how == "close frame":
        c = WsClient(f"ws://127.0.0.1:{port}/", close_timeout=0.5)
        c.send("2?timeout=2000")
        c.close()
        return
    raw = RawClient(port)
    raw.handshake()
    raw.send(frame(OP_TEXT, b"2?timeout=2000"))
    if how == "reset":
        raw.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    raw.close()


@pytest.mark.parametrize("how", ["close frame", "tcp close", "reset"])
def test_client_that_goes_away_during_a_waiting_read(app, reader, how):
    reader(card=0)
    app.clear_calls()
    earlier = len(app.stdout())  # the program serves the module's earlier tests too
    sent = time.monotonic()
    _abort(app.port, how)
    gone = time.monotonic()
    # The wait ends with its client, not with its time-out; the next client is served right after.
    with WsClient(app.url(), timeout=15) as c:
        assert c.request("5", timeout=15) == SAM_REPLY
    names = app.call_names("ORV5U")
    assert names[-3:] == ["ORV_InitComm", "ORV_GetSAMID", "ORV_CloseComm"]
    # Attempts start 500 ms or more apart, so while the client was there at most 1 + (that time) /
    # 500 ms began, and one more while its going was on the way; run to its end, the wait would make
    # four or more. (A close frame that arrived with the command is read by the connection only after
    # it: the wait then ends when the client closes the socket, half a second later.)
    assert names.count("ORV_Authenticate") <= int((gone - sent) / 0.5) + 2, names
    assert app.alive()
    # A read whose client went before its first attempt is dropped from the queue unstarted: nothing
    # waited, so there is no line. Once an attempt has begun, its end is told.
    line = "The waiting read ends: its client has gone"
    if len(names) > 3:
        app.wait_for_output(lambda out, _: line in out[earlier:], what="the line")
    else:
        assert line not in app.stdout()[earlier:]


# The members of an ORV5U record of the resident card, in order; the text record's fields after the
# label stand in the same order.
JSON_KEYS_5U = ["readerModel", "deviceName", "kind", "kindLabel", "name", "sex", "nation", "birthDate", "address",
                "idNumber", "authority", "validFrom", "validTo", "appendedMessage", "fingerprint", "passNumber",
                "chineseName", "certVersion", "nationCode", "photo", "cardFront", "cardBack"]


def test_card_record_as_json_holds_what_the_text_record_holds(app, reader):
    reader()
    with WsClient(app.url()) as c:
        text = c.request("3")
        record = json.loads(c.request("3?format=json"))
        no_judge = json.loads(c.request("4?format=json"))
        waited = json.loads(c.request("2?timeout=5000|format=json", timeout=20))
    assert text.startswith(CARD_PREFIX), text[:200]
    assert list(record) == JSON_KEYS_5U
    assert record["name"] == "张三丰" and record["idNumber"] == "110101199001010000"
    assert (record["readerModel"], record["deviceName"], record["kind"], record["kindLabel"]) == \
        ("ORV5U", "大厅1", "resident", "身份证")
    fields = text.split("|")
    # The text keeps an empty issue-count field before the pass number; the resident card has no count.
    assert fields.pop(3 + JSON_KEYS_5U[4:].index("passNumber")) == ""
    assert len(fields) == 2 + len(JSON_KEYS_5U) - 3
    for key, field in zip(JSON_KEYS_5U[4:], fields[3:]):
        assert record[key] == field, key
    assert len(record["fingerprint"]) == 1368 and record["photo"].startswith("Qk")
    assert no_judge == record and waited == record


def test_json_record_failures_stay_texts(app, reader):
    reader(ports="")
    with WsClient(app.url()) as c:
        assert c.request("3?format=json") == "连接设备失败"
        assert c.request("2?timeout=0|format=json") == "读卡失败"
    reader(card=0)
    with WsClient(app.url()) as c:
        assert c.request("4?format=json") == "卡认证失败"


def test_json_record_escapes_the_device_name(launch):
    port = free_port()
    app = launch(port=port, config=f'[IP]\nport={port}\nRestart=1\n[Device]\nID=0\nDeviceName=Hall|2 "B" 3\n')
    with WsClient(app.url()) as c:
        text = c.request("3")
        raw = c.request("3?format=json")
    assert text.startswith('ORV5U|Hall|2 "B" 3|身份证|张三丰|'), text[:100]
    assert raw.startswith('{"readerModel":"ORV5U","deviceName":"Hall|2 \\"B\\" 3",'), raw[:100]
    assert json.loads(raw)["deviceName"] == 'Hall|2 "B" 3'

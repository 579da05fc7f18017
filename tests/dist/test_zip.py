"""The win64 zip unpacked as an operator unpacks it, run under Wine: as shipped it can answer no card;
with the demo's simulated reader copied into the SDK folders it reads one."""

import shutil
import zipfile

import pytest

from clients import WsClient
from kavenor_app import free_port

LOAD_FAILED = "找不到Kadrel.dll或无法加载Kadrel.dll"
NO_READER = "连接设备失败"


@pytest.fixture
def unpacked(dist, tmp_path):
    """The unpacked program folder, told to listen on a free port (the rest as shipped)."""
    folder, version = dist
    with zipfile.ZipFile(folder / f"Kavenor-{version}-win64.zip") as archive:
        archive.extractall(tmp_path)
    program = tmp_path / f"Kavenor-{version}-win64"
    port = free_port()
    (program / "Config.ini").write_bytes(f"[IP]\r\nport={port}\r\n".encode("ascii"))
    return program, port


def test_as_shipped_the_start_reports_each_missing_library_and_no_card_is_answered(windows, unpacked):
    folder, port = unpacked
    program = windows.start(folder)
    try:
        # One report per SDK folder, each waiting for its OK before the program goes on.
        assert windows.answer_message_boxes(3) == [LOAD_FAILED] * 3
        program.wait_listening(port)
        with WsClient(f"ws://127.0.0.1:{port}") as client:
            assert client.request("3") == NO_READER
            # A failure text each, never a record (fields separated by "|").
            for command in ("4", "2?timeout=300", "9", "5"):
                reply = client.request(command)
                assert reply and "|" not in reply, (command, reply)
    finally:
        program.stop()


def test_with_the_demo_reader_copied_in_it_reads_the_demo_card(windows, unpacked):
    folder, port = unpacked
    for sdk in ("ORV5A", "ORV5U", "ORV5ULN"):
        shutil.copy2(folder / "demo" / "kadrel.dll", folder / sdk / "kadrel.dll")
    program = windows.start(folder).wait_listening(port)
    try:
        with WsClient(f"ws://127.0.0.1:{port}") as client:
            reply = client.request("3")
        assert reply.startswith("ORV5U|大厅1|身份证|"), reply[:100]
    finally:
        program.stop()

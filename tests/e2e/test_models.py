"""The reader model of Config.ini [Device] ID: which test page every plain HTTP request gets and which
driver answers the commands. One program per model; the pages' own cases on programs of their own.

The model is read at start; a change at run time comes from the settings window, which this program
does not have yet: test_model_change_at_run_time stays skipped until it has."""

import pytest

from clients import WsClient, http_get
from kavenor_app import PAGES

SAM_REPLY = "05.01-00002019-0000123456-0000000007"
# The demo memory card: identifier 01 02 03 04 (printed in reverse), block 4 "KAVENOR DEMO M1".
M1_BLOCK4 = "04 03 02 01 |" + "".join(f"{b:02x} " for b in b"KAVENOR DEMO M1\x00")
NO_SAM = "设备无法获取安全模块号"
NO_FUNCTION = "设备无此功能"

# model, page, SDK folder of its driver, reply to 3 (a prefix; "" exactly when empty), to 5, to 7.
MODELS = [
    (0, "03_idcard.html", "ORV5U", "ORV5U|大厅1|身份证|张三丰|", SAM_REPLY, NO_FUNCTION),
    (1, "idcardM1.html", "ORV5A", "ORV-5A||身份证|张三丰|", NO_SAM, M1_BLOCK4),
    (2, "idcardM1.html", "ORV5A", "ORV-5A||身份证|张三丰|", NO_SAM, M1_BLOCK4),
    (3, "03_idcard.html", "ORV5ULN", "ORV-5U-HID||身份证|张三丰|", SAM_REPLY, NO_FUNCTION),
    (4, "NFC_idcard.html", "ORV5A", "", NO_SAM, M1_BLOCK4),
    (5, "NFC_idcard.html", "ORV5A", "", NO_SAM, M1_BLOCK4),
    (7, "idcardM1.html", "ORV5A", "", NO_SAM, M1_BLOCK4),
    (-1, "idcardM1.html", "ORV5A", "", NO_SAM, M1_BLOCK4),
]


@pytest.fixture(scope="module", params=MODELS, ids=[f"model{m[0]}" for m in MODELS])
def model_app(request, module_launch):
    model, page, folder, read, sam, m1 = request.param
    return module_launch(model=model), dict(page=page, folder=folder, read=read, sam=sam, m1=m1)


@pytest.mark.parametrize("method, path", [("GET", "/"), ("GET", "/favicon.ico"), ("GET", "/a/b?c=d#e"),
                                          ("POST", "/submit")])
def test_every_http_request_gets_the_page_of_the_model(model_app, method, path):
    app, want = model_app
    status, headers, body = http_get(app.port, path, method=method)
    assert status == 200
    pages = {name: (app.dir / name).read_bytes() for name in PAGES}
    assert len(set(pages.values())) == 3, "the three pages must differ for this test to tell them apart"
    assert body == pages[want["page"]]
    assert "Content-Type" not in headers
    assert headers.get("Server") == "WebSocket++/0.8.2"


def test_commands_go_to_the_driver_of_the_model(model_app):
    app, want = model_app
    app.clear_calls()
    with WsClient(app.url()) as c:
        read = c.request("3")
        if want["read"]:
            assert read.startswith(want["read"]) and len(read) > 1000, read[:200]
        else:
            assert read == ""
        assert c.request("5") == want["sam"]
        assert c.request("7?Key=ffffffffffff|Block=4") == want["m1"]
    used = {folder for folder in ("ORV5A", "ORV5U", "ORV5ULN") if app.calls(folder)}
    assert used == {want["folder"]}, used


def test_missing_page_gives_an_empty_page_and_a_line(launch):
    app = launch(model=0, start=False)
    (app.dir / "03_idcard.html").unlink()
    app.start()
    status, _, body = http_get(app.port, "/")
    assert (status, body) == (200, b"")
    app.wait_for_output(lambda out, err: "open  file Fail  !!!" in out, 5, '"open  file Fail  !!!" on stdout')


def test_page_is_read_at_each_request_byte_for_byte(launch):
    app = launch(model=1)
    page = app.dir / "idcardM1.html"
    odd = (b"\x00\r\n\n\r\x1a\xff\xfe<html>" + "读卡 한𠮷".encode("utf-8") + "读卡".encode("gbk")
           + bytes(range(256)) * 300 + b"\x00")
    page.write_bytes(odd)
    assert http_get(app.port, "/")[2] == odd
    page.write_bytes(b"")
    status, _, body = http_get(app.port, "/")
    assert (status, body) == (200, b"")
    page.write_bytes(odd[::-1])
    assert http_get(app.port, "/favicon.ico")[2] == odd[::-1]
    assert "open  file Fail  !!!" not in app.stdout()


def test_app_folder_named_outside_code_page_936(launch):
    app = launch(model=0, folder_name="读卡 한𠮷")
    assert http_get(app.port, "/")[2] == (app.dir / "03_idcard.html").read_bytes()
    with WsClient(app.url()) as c:
        assert c.request("3").startswith("ORV5U|大厅1|身份证|张三丰|")

#!/usr/bin/python3
"""Stand-in for the Kavenor service, for the browser tests of the test pages.

One port, as the real service: plain HTTP requests get the test page of the
configured model, WebSocket messages are commands answered in the service's
reply formats. Commands are handled one at a time across all connections.

  /usr/bin/python3 mock_service.py --port 50123 --model 0 --pages <generated pages> \
      --log /tmp/commands.jsonl --script '{"replies": {"3": "卡认证失败"}}'

--page FILE serves that page whatever the model (to pair a page with any
reply layout); without it the page follows the model, as in the service.

Script (JSON, all keys optional; "@path" reads it from that file):
  replies     code -> reply text sent instead of the simulated one, or a list
              of texts used one per command (then the simulated replies again)
  delay       code -> milliseconds before the reply; for code 2 the time after
              which the card is placed (later than the time-out: "读卡失败")
  deviceName  device field of ORV5U replies (default "大厅1")

The log gets one JSON line per connection ("connect") and per message
("message", with its text), so tests can check what a page sent.
"""

import argparse
import asyncio
import base64
import http
import json
import os
import re
import struct
import sys

import websockets

PAGE_BY_MODEL = {0: "03_idcard.html", 3: "03_idcard.html", 4: "NFC_idcard.html", 5: "NFC_idcard.html"}
DEFAULT_PAGE = "idcardM1.html"

NO_FUNCTION = "设备无此功能"
NO_SAM = "设备无法获取安全模块号"
BAD_PARAMS = "输入参数有误"
READ_FAILED = "读卡失败"

CARD_ID = bytes([0x01, 0x02, 0x03, 0x04])  # printed in reverse: 04 03 02 01
ATQA = bytes([0x04, 0x00])
SAM_TEXT = "05.01-00002019-0000123456-0000000007"
BANK_REPLY = "6222020200112233445|01"


# ---- images ---------------------------------------------------------------

def bmp(width, height, paint):
    """24-bit bottom-up BMP; paint(x, y) gives (r, g, b) with y = 0 at the top."""
    row_size = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = paint(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def portrait(x, y):
    # A head and shoulders on the pale blue of an identity-card photo.
    w, h = 102, 126
    cx = w / 2
    if ((x - cx) / 24) ** 2 + ((y - 48) / 30) ** 2 <= 1:
        return (238, 200, 170)
    if y > 88 and abs(x - cx) < 16 + (y - 88) * 1.2:
        return (40, 48, 70)
    shade = int(20 * y / h)
    return (215 - shade, 232 - shade, 250 - shade)


def card_side(front):
    photo = bmp_pixels(102, 126, portrait) if front else None

    def paint(x, y):
        if front and 226 <= x < 328 and 50 <= y < 176:
            return photo[(y - 50) * 102 + (x - 226)]
        bars = [(30, 60, 120), (30, 90, 90), (30, 120, 160), (30, 150, 180), (30, 185, 200)] if front else \
            [(110, 140, 300), (110, 170, 300), (110, 200, 260)]
        for top, left, right in bars:
            if top <= y < top + 10 and left <= x < right:
                return (120, 130, 150)
        if not front and ((x - 60) ** 2 + (y - 60) ** 2) <= 30 ** 2:
            return (205, 40, 40)
        return (236 - y // 12, 240 - y // 16, 226 + x // 40)

    return bmp(342, 216, paint)


def bmp_pixels(width, height, paint):
    return [paint(x, y) for y in range(height) for x in range(width)]


def b64(data):
    return base64.b64encode(data).decode("ascii")


# ---- card records ---------------------------------------------------------

FINGERPRINT = b64(bytes((i * 7 + 3) % 256 for i in range(1024)))  # 1368 characters


def records():
    photo = b64(bmp(102, 126, portrait))
    front, back = b64(card_side(True)), b64(card_side(False))
    person = ["李明华", "男", "汉", "19900307", "北京市东城区示例大街100号", "110101199003071234",
              "北京市公安局东城分局", "20150601", "20350601", ""]
    # Reader5U: 20 fields, the issue count empty for an identity card.
    reader5u = ["身份证"] + person + [FINGERPRINT, "", "", "", "", ""] + [photo, front, back]
    # Reader5A: no issue count delivered for an identity card, so 17 fields.
    reader5a = ["身份证"] + person + [FINGERPRINT, "", "", "", ""] + [photo]
    # Reader5ULN: a residence permit whose issue count comes back, 18 fields.
    permit = ["港澳台居住证（J）", "陈嘉欣", "女", "", "19951120", "广东省深圳市福田区示例路8号",
              "810000199511200026", "深圳市公安局", "20200105", "20250105", "",
              FINGERPRINT, "1", "H10293847", "", "", "", photo]
    return {"5U": "|".join(reader5u), "5A": "|".join(reader5a), "5ULN": "|".join(permit)}


# ---- command protocol -----------------------------------------------------

def str_to_uint(text, base):
    m = re.match(r"\s*[+-]?(0[xX])?([0-9a-fA-F]+)" if base == 16 else r"\s*[+-]?([0-9]+)", text)
    if not m:
        return 0
    return min(int(m.groups()[-1], base), 0xFFFFFFFF)


def param_value(text, name):
    """The raw value text of a parameter, or None when the name does not occur."""
    at = text.find(name)
    if at < 0:
        return None
    start = at + len(name) + 1
    bar = text.find("|", at)
    return text[start:bar] if bar > start else text[start:]


def hex_param(text, name, size):
    value = param_value(text, name)
    if value is None:
        return None
    out = bytearray(size)
    for k in range(min(len(value) // 2, size)):
        out[k] = str_to_uint(value[2 * k:2 * k + 2], 16) & 0xFF
    return bytes(out)


def hex_groups(data):
    return "".join("%02x " % b for b in data)


class Service:
    def __init__(self, args):
        self.model = args.model
        self.pages = args.pages
        self.page = args.page
        self.log = open(args.log, "a", encoding="utf-8") if args.log else None
        script = args.script or ""
        if script.startswith("@"):
            with open(script[1:], encoding="utf-8") as f:
                script = f.read()
        script = json.loads(script) if script else {}
        self.replies = {int(k): v for k, v in script.get("replies", {}).items()}
        self.delay = {int(k): v / 1000 for k, v in script.get("delay", {}).items()}
        device = script.get("deviceName", "大厅1")
        recs = records()
        self.card = {0: "ORV5U|%s|%s" % (device, recs["5U"]), 1: "ORV-5A||" + recs["5A"],
                     2: "ORV-5A||" + recs["5A"], 3: "ORV-5U-HID||" + recs["5ULN"]}
        self.blocks = {}
        self.busy = asyncio.Lock()

    def record(self, **event):
        if self.log:
            self.log.write(json.dumps(event, ensure_ascii=False) + "\n")
            self.log.flush()

    async def process_request(self, path, headers):
        if headers.get("Upgrade", "").lower() == "websocket":
            return None
        name = self.page or PAGE_BY_MODEL.get(self.model, DEFAULT_PAGE)
        try:
            with open(os.path.join(self.pages, name), "rb") as f:
                body = f.read()
        except OSError:
            body = b""
        # No charset: the page has to declare its own, as with the real service.
        return http.HTTPStatus.OK, [("Content-Type", "text/html")], body

    async def handler(self, ws, path=None):
        self.record(event="connect")
        try:
            async for message in ws:
                text = message.decode("latin-1") if isinstance(message, bytes) else message
                self.record(event="message", text=text)
                async with self.busy:
                    reply = await self.answer(text)
                if reply is not None:
                    await ws.send(reply)
        except websockets.ConnectionClosed:
            pass

    async def answer(self, text):
        code = str_to_uint(text.split("?", 1)[0], 16)
        if not 2 <= code <= 9:
            return None
        if code == 2:
            return await self.wait_for_card(text)
        await asyncio.sleep(self.delay.get(code, 0))
        scripted = self.scripted(code)
        return self.simulate(code, text) if scripted is None else scripted

    def scripted(self, code):
        reply = self.replies.get(code)
        if isinstance(reply, list):
            return reply.pop(0) if reply else None
        return reply

    async def wait_for_card(self, text):
        timeout = str_to_uint(param_value(text, "timeout") or "0", 10) / 1000
        placed = self.delay.get(2, 0)
        if placed >= timeout or self.model not in self.card:
            await asyncio.sleep(timeout)
            return READ_FAILED
        await asyncio.sleep(placed)
        scripted = self.scripted(2)
        return self.card[self.model] if scripted is None else scripted

    def simulate(self, code, text):
        m1 = self.model not in (0, 3)
        if code in (3, 4):
            return self.card.get(self.model, "")
        if code == 5:
            return SAM_TEXT if self.model in (0, 3) else NO_SAM
        if code == 6:
            return hex_groups(CARD_ID[::-1]) + "|" + hex_groups(ATQA) if m1 else NO_FUNCTION
        if code == 9:
            return BANK_REPLY if self.model == 1 else NO_FUNCTION
        key = hex_param(text, "Key", 6)
        block_text = param_value(text, "Block")
        block = 255 if block_text is None else str_to_uint(block_text, 10) & 0xFF
        if code == 7:
            if key is None:
                return BAD_PARAMS
            if not m1:
                return NO_FUNCTION
            data = self.blocks.get(block, bytes(range(16)))
            return hex_groups(CARD_ID[::-1]) + "|" + hex_groups(data)
        data = hex_param(text, "WriteBuf", 16)
        if key is None or data is None:
            return BAD_PARAMS
        if not m1:
            return NO_FUNCTION
        self.blocks[block] = data
        return hex_groups(CARD_ID[::-1])


async def main():
    parser = argparse.ArgumentParser(description="Mock Kavenor service for the page tests")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--model", type=int, default=0, help="reader model index, as [Device] ID")
    parser.add_argument("--page", help="serve this page file whatever the model")
    parser.add_argument("--pages", required=True, help="folder of the generated pages (pages/make_pages.py)")
    parser.add_argument("--log", help="file that records connections and commands")
    parser.add_argument("--script", help="JSON text, or @file: replies, delay, deviceName")
    args = parser.parse_args()
    service = Service(args)
    async with websockets.serve(service.handler, args.host, args.port,
                                process_request=service.process_request, max_size=None):
        print("listening on %s:%d" % (args.host, args.port), flush=True)
        await asyncio.Future()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)

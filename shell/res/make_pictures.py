#!/usr/bin/env python3
"""Draws the settings window's pictures, so that no picture is committed without its source.

Usage: make_pictures.py OUTDIR [--preview]

Writes background.bmp (1280x800, 24-bit), minimize.bmp (80x31, 24-bit) and kavenor.ico
(16, 24, 32, 48 and 256 px, 32-bit with alpha) into OUTDIR. With --preview it also writes PNG
copies for people and tests to look at. Only the standard library is used, and the output is the
same bytes on every run.
"""
import math
import os
import struct
import sys
import zlib

# Brand colours (R, G, B).
BRAND_TEAL = (15, 127, 147)
BRAND_TEAL_LIGHT = (28, 152, 170)
BRAND_TEAL_DARK = (10, 104, 124)
BRAND_BLUE = (40, 104, 176)
WHITE = (255, 255, 255)

# Background: a flat band where the title area would be, a thin accent line under it, then a
# gentle light gradient down to white. The minimize picture sits on the band, so it reuses BAND.
BACKGROUND_SIZE = (1280, 800)
BAND = (223, 232, 240)
BAND_HEIGHT = 120
ACCENT_HEIGHT = 3
BODY_TOP = (236, 241, 246)
BODY_BOTTOM = (253, 254, 255)
SHAPE_ALPHA = 0.04  # large shapes just visible, never competing with the controls

# Minimize picture: a teal pill with a white arrow dropping into a tray line.
MINIMIZE_SIZE = (80, 31)
PILL_TOP = BRAND_TEAL_LIGHT
PILL_BOTTOM = BRAND_TEAL_DARK
PILL_SHADOW = (196, 208, 218)

# Icon: an ID card with a photo and text lines.
ICON_SIZES = (16, 24, 32, 48, 256)
CARD_TOP = BRAND_TEAL_LIGHT
CARD_BOTTOM = BRAND_TEAL_DARK
PHOTO = WHITE
SILHOUETTE = (163, 209, 218)
TEXT_LINE = WHITE

SUPERSAMPLE = 4


class Canvas:
    """Pixels in a bytearray, rows top-down, 3 (RGB) or 4 (RGBA, alpha premultiplied) channels.

    Shapes fill whole spans per row with slice assignment; a pixel is inside a shape when its
    centre is. Anti-aliasing comes from drawing on a larger canvas and calling downsample().
    """

    def __init__(self, width, height, channels=3):
        self.width = width
        self.height = height
        self.channels = channels
        self.pixels = bytearray(width * height * channels)
        self.clip = (0, 0, width, height)

    def _colour(self, colour):
        # RGBA canvases store opaque paint; transparent pixels stay all zero.
        return bytes(colour) + (b"\xff" if self.channels == 4 else b"")

    def _span(self, y, x0, x1):
        """The clipped pixel range [start, end) whose centres lie in [x0, x1) on row y, or None."""
        cx0, cy0, cx1, cy1 = self.clip
        if not cy0 <= y < cy1:
            return None
        start = max(cx0, math.ceil(x0 - 0.5))
        end = min(cx1, math.ceil(x1 - 0.5))
        return (start, end) if start < end else None

    def fill_span(self, y, x0, x1, colour):
        """Fills pixels whose centres lie in [x0, x1) on row y."""
        span = self._span(y, x0, x1)
        if not span:
            return
        start, end = span
        row = y * self.width
        self.pixels[(row + start) * self.channels:(row + end) * self.channels] = (
            self._colour(colour) * (end - start))

    def blend_span(self, y, x0, x1, colour, alpha):
        """Mixes colour into an RGB row at the given opacity, one translate per channel."""
        span = self._span(y, x0, x1)
        if not span:
            return
        start, end = span
        row = y * self.width
        for channel in range(3):
            table = bytes(round(v * (1 - alpha) + colour[channel] * alpha) for v in range(256))
            part = slice((row + start) * 3 + channel, (row + end) * 3, 3)
            self.pixels[part] = self.pixels[part].translate(table)

    def rows(self, y0, y1):
        """Rows whose centres lie in [y0, y1), with those centres."""
        for y in range(max(0, math.ceil(y0 - 0.5)), min(self.height, math.ceil(y1 - 0.5))):
            yield y, y + 0.5

    def fill_rect(self, x0, y0, x1, y1, paint):
        for y, _ in self.rows(y0, y1):
            self.fill_span(y, x0, x1, paint_at(paint, y, y0, y1))

    def fill_rounded_rect(self, x0, y0, x1, y1, radius, paint):
        for y, yc in self.rows(y0, y1):
            dy = max(y0 + radius - yc, yc - (y1 - radius), 0)
            inset = radius - math.sqrt(max(radius * radius - dy * dy, 0)) if dy > 0 else 0
            self.fill_span(y, x0 + inset, x1 - inset, paint_at(paint, y, y0, y1))

    def fill_circle(self, cx, cy, radius, paint):
        for y, yc in self.rows(cy - radius, cy + radius):
            half = math.sqrt(max(radius * radius - (yc - cy) ** 2, 0))
            self.fill_span(y, cx - half, cx + half, paint_at(paint, y, cy - radius, cy + radius))

    def blend_circle(self, cx, cy, radius, colour, alpha):
        for y, yc in self.rows(cy - radius, cy + radius):
            half = math.sqrt(max(radius * radius - (yc - cy) ** 2, 0))
            self.blend_span(y, cx - half, cx + half, colour, alpha)

    def fill_polygon(self, points, paint):
        """Even-odd fill; enough for the few small triangles drawn here."""
        ys = [p[1] for p in points]
        for y, yc in self.rows(min(ys), max(ys)):
            crossings = []
            for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
                if (ay <= yc) != (by <= yc):
                    crossings.append(ax + (yc - ay) * (bx - ax) / (by - ay))
            crossings.sort()
            for x0, x1 in zip(crossings[::2], crossings[1::2]):
                self.fill_span(y, x0, x1, paint_at(paint, y, min(ys), max(ys)))

    def vertical_gradient(self, y0, y1, top, bottom):
        """Fills whole rows, one colour per row: cheap even for the large background."""
        for y in range(y0, y1):
            t = (y - y0) / max(1, y1 - y0 - 1)
            self.fill_span(y, 0, self.width, mix(top, bottom, t))

    def downsample(self, factor):
        """Averages factor x factor blocks; alpha is premultiplied, so edges keep their colour."""
        ch = self.channels
        out = Canvas(self.width // factor, self.height // factor, ch)
        stride = self.width * ch
        count = factor * factor
        for oy in range(out.height):
            band = [self.pixels[(oy * factor + j) * stride:(oy * factor + j + 1) * stride]
                    for j in range(factor)]
            sums = [list(map(sum, zip(*[row[k * ch + c::factor * ch]
                                        for row in band for k in range(factor)])))
                    for c in range(ch)]
            values = [[(v + count // 2) // count for v in sums[c]] for c in range(ch)]
            row = bytearray(out.width * ch)
            for c in range(ch):
                row[c::ch] = bytes(values[c])
            out.pixels[oy * out.width * ch:(oy + 1) * out.width * ch] = row
        return out

    def straight_rgba_rows(self):
        """Rows of an RGBA canvas with the alpha undone, as icon files and PNG expect."""
        ch = self.channels
        for y in range(self.height):
            row = bytearray(self.pixels[y * self.width * ch:(y + 1) * self.width * ch])
            for x in range(self.width):
                a = row[x * 4 + 3]
                if 0 < a < 255:
                    for c in range(3):
                        row[x * 4 + c] = min(255, (row[x * 4 + c] * 255 + a // 2) // a)
            yield row


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def paint_at(paint, y, y0, y1):
    """A paint is a colour or a (top, bottom) vertical gradient over the shape's height."""
    if isinstance(paint[0], tuple):
        t = (y + 0.5 - y0) / max(1e-9, y1 - y0)
        return mix(paint[0], paint[1], min(1.0, max(0.0, t)))
    return paint


# ---------------------------------------------------------------------------------------------
# The pictures


def draw_background():
    width, height = BACKGROUND_SIZE
    canvas = Canvas(width, height)
    canvas.fill_rect(0, 0, width, BAND_HEIGHT, BAND)
    # The accent line runs from teal into blue.
    for y in range(BAND_HEIGHT, BAND_HEIGHT + ACCENT_HEIGHT):
        steps = 64  # 20 px steps of one colour, too close in colour for the eye to separate
        for i in range(steps):
            canvas.fill_span(y, width * i / steps, width * (i + 1) / steps,
                             mix(BRAND_TEAL, BRAND_BLUE, i / (steps - 1)))
    body_top = BAND_HEIGHT + ACCENT_HEIGHT
    canvas.vertical_gradient(body_top, height, BODY_TOP, BODY_BOTTOM)
    # Large, faint circles in the lower corners, kept off the band and the accent line.
    canvas.clip = (0, body_top, width, height)
    canvas.blend_circle(1190, 830, 380, BRAND_TEAL, SHAPE_ALPHA)
    canvas.blend_circle(1010, 930, 260, BRAND_BLUE, SHAPE_ALPHA * 0.8)
    canvas.blend_circle(40, 860, 240, BRAND_TEAL, SHAPE_ALPHA * 0.7)
    return canvas


def draw_minimize():
    s = SUPERSAMPLE
    width, height = MINIMIZE_SIZE
    canvas = Canvas(width * s, height * s)
    canvas.fill_rect(0, 0, width * s, height * s, BAND)
    # A soft one-pixel shadow under the pill lifts it off the band.
    canvas.fill_rounded_rect(2 * s, 3 * s, 78 * s, 30 * s, 13.5 * s, PILL_SHADOW)
    canvas.fill_rounded_rect(2 * s, 2 * s, 78 * s, 29 * s, 13.5 * s, (PILL_TOP, PILL_BOTTOM))
    # An arrow dropping into the tray line: "hide to the notification area".
    canvas.fill_rect(39 * s, 7 * s, 41 * s, 14 * s, WHITE)
    canvas.fill_polygon([(34 * s, 13 * s), (46 * s, 13 * s), (40 * s, 19 * s)], WHITE)
    canvas.fill_rect(31 * s, 21 * s, 49 * s, 23 * s, WHITE)
    return canvas.downsample(s)


# Icon layouts in pixels of each size, so that the small ones land on the pixel grid:
# card (x0, y0, x1, y1, radius), photo (x0, y0, x1, y1), text lines [(x0, y0, x1, y1)].
ICON_LAYOUTS = {
    16: ((0, 2, 16, 14, 2), (2, 5, 7, 11), [(9, 5, 14, 7), (9, 9, 13, 11)]),
    24: ((0, 3, 24, 21, 3), (3, 7, 10, 17), [(12, 7, 21, 9), (12, 11, 21, 13), (12, 15, 18, 17)]),
    32: ((0, 4, 32, 28, 4), (4, 9, 14, 23), [(17, 10, 28, 12), (17, 15, 28, 17), (17, 20, 25, 22)]),
    48: ((0, 6, 48, 42, 6), (6, 14, 22, 34), [(26, 16, 42, 19), (26, 22, 42, 25), (26, 28, 37, 31)]),
}


def draw_icon(size):
    s = SUPERSAMPLE
    # 256 px follows the 48 px layout, scaled; there is no grid left to align to.
    base = size if size in ICON_LAYOUTS else 48
    card, photo, lines = ICON_LAYOUTS[base]
    k = s * size / base
    canvas = Canvas(size * s, size * s, 4)
    x0, y0, x1, y1, radius = (v * k for v in card)
    canvas.fill_rounded_rect(x0, y0, x1, y1, radius, (CARD_TOP, CARD_BOTTOM))
    px0, py0, px1, py1 = (v * k for v in photo)
    photo_radius = 0 if base < 32 else 0.75 * k
    canvas.fill_rounded_rect(px0, py0, px1, py1, photo_radius, PHOTO)
    if base >= 32:
        # A head and shoulders inside the photo, only where there are pixels enough to show it.
        pw, ph, cx = px1 - px0, py1 - py0, (px0 + px1) / 2
        canvas.clip = (math.floor(px0), math.floor(py0), math.ceil(px1), math.ceil(py1))
        canvas.fill_circle(cx, py0 + 0.38 * ph, 0.2 * pw, SILHOUETTE)
        canvas.fill_rounded_rect(cx - 0.36 * pw, py0 + 0.68 * ph, cx + 0.36 * pw, py1 + 0.4 * ph,
                                 0.3 * pw, SILHOUETTE)
        canvas.clip = (0, 0, canvas.width, canvas.height)
    for line in lines:
        lx0, ly0, lx1, ly1 = (v * k for v in line)
        line_radius = (ly1 - ly0) / 2 if base >= 48 else 0
        canvas.fill_rounded_rect(lx0, ly0, lx1, ly1, line_radius, TEXT_LINE)
    return canvas.downsample(s)


# ---------------------------------------------------------------------------------------------
# File formats


def bmp_bytes(canvas):
    """24-bit uncompressed BMP: BITMAPFILEHEADER, BITMAPINFOHEADER, BGR rows bottom-up."""
    w, h = canvas.width, canvas.height
    row_size = (w * 3 + 3) // 4 * 4
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(canvas.pixels[y * w * 3:(y + 1) * w * 3])
        row[0::3], row[2::3] = row[2::3], row[0::3]
        data += row + b"\0" * (row_size - w * 3)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return header + info + data


def png_bytes(canvas):
    rows = list(canvas.straight_rgba_rows()) if canvas.channels == 4 else [
        canvas.pixels[y * canvas.width * 3:(y + 1) * canvas.width * 3] for y in range(canvas.height)]
    colour_type = 6 if canvas.channels == 4 else 2
    raw = b"".join(b"\0" + bytes(row) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    ihdr = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icon_dib_bytes(canvas):
    """32-bit BGRA DIB with the doubled height icons use, then the 1-bpp AND mask."""
    w, h = canvas.width, canvas.height
    rows = list(canvas.straight_rgba_rows())
    colour = bytearray()
    mask = bytearray()
    mask_row_size = (w + 31) // 32 * 4
    for row in reversed(rows):
        bgra = bytearray(row)
        bgra[0::4], bgra[2::4] = row[2::4], row[0::4]
        colour += bgra
        bits = bytearray(mask_row_size)
        for x in range(w):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return info + colour + mask


def ico_bytes(canvases):
    """ICO with DIB entries, except 256 px, which is stored as PNG to keep the file small."""
    images = [png_bytes(c) if c.width >= 256 else icon_dib_bytes(c) for c in canvases]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for canvas, image in zip(canvases, images):
        side = canvas.width if canvas.width < 256 else 0  # 0 means 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main(argv):
    args = [a for a in argv[1:] if a != "--preview"]
    if len(args) != 1:
        sys.stderr.write("usage: make_pictures.py OUTDIR [--preview]\n")
        return 2
    out_dir = args[0]
    preview = "--preview" in argv[1:]
    os.makedirs(out_dir, exist_ok=True)

    def write(name, data):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)

    background = draw_background()
    minimize = draw_minimize()
    icons = {size: draw_icon(size) for size in ICON_SIZES}
    write("background.bmp", bmp_bytes(background))
    write("minimize.bmp", bmp_bytes(minimize))
    write("kavenor.ico", ico_bytes([icons[size] for size in ICON_SIZES]))
    if preview:
        write("background.png", png_bytes(background))
        write("minimize.png", png_bytes(minimize))
        for size in (16, 32, 48, 256):
            write("icon-%d.png" % size, png_bytes(icons[size]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Draws the pictures of Kestrova's windows (window picture, tray icon, button glyphs, menu
bitmaps, notice background, close button) as PNG files in ipwatch/pictures/, and each
program's icon at the sizes a desktop asks for (Tamrel's is its window's picture too, in
updater/pictures/).

Run it again after changing a picture; the PNG files are committed and compiled in."""
import math
import os
import struct
import sys
import zlib


class Canvas:
    def __init__(self, w, h, fill=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(fill) for _ in range(w * h)]

    def blend(self, x, y, color, alpha=1.0):
        if not (0 <= x < self.w and 0 <= y < self.h):
            return
        r, g, b, a = color
        a = a / 255.0 * alpha
        d = self.px[y * self.w + x]
        da = d[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for i, c in enumerate((r, g, b)):
            d[i] = int(round((c * a + d[i] * da * (1 - a)) / oa))
        d[3] = int(round(oa * 255))

    def rect(self, x0, y0, x1, y1, color):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.blend(x, y, color)

    def frame(self, x0, y0, x1, y1, color):
        self.rect(x0, y0, x1, y0 + 1, color)
        self.rect(x0, y1 - 1, x1, y1, color)
        self.rect(x0, y0, x0 + 1, y1, color)
        self.rect(x1 - 1, y0, x1, y1, color)

    def disc(self, cx, cy, r, color):
        # Anti-aliased by 4x4 supersampling.
        for y in range(int(cy - r - 1), int(cy + r + 2)):
            for x in range(int(cx - r - 1), int(cx + r + 2)):
                hits = sum(1 for sy in range(4) for sx in range(4)
                           if (x + (sx + .5) / 4 - cx) ** 2 + (y + (sy + .5) / 4 - cy) ** 2 <= r * r)
                if hits:
                    self.blend(x, y, color, hits / 16)

    def line(self, x0, y0, x1, y1, width, color):
        length = math.hypot(x1 - x0, y1 - y0) or 1
        for y in range(int(min(y0, y1) - width - 1), int(max(y0, y1) + width + 2)):
            for x in range(int(min(x0, x1) - width - 1), int(max(x0, x1) + width + 2)):
                hits = 0
                for sy in range(4):
                    for sx in range(4):
                        px, py = x + (sx + .5) / 4, y + (sy + .5) / 4
                        t = max(0, min(1, ((px - x0) * (x1 - x0) + (py - y0) * (y1 - y0)) / length ** 2))
                        if math.hypot(px - (x0 + t * (x1 - x0)), py - (y0 + t * (y1 - y0))) <= width / 2:
                            hits += 1
                if hits:
                    self.blend(x, y, color, hits / 16)

    def glyph(self, rows, x0, y0, scale, color):
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch == '#':
                    self.rect(x0 + i * scale, y0 + j * scale, x0 + (i + 1) * scale,
                              y0 + (j + 1) * scale, color)

    def save(self, path):
        raw = b''.join(b'\0' + bytes(c for p in self.px[y * self.w:(y + 1) * self.w] for c in p)
                       for y in range(self.h))
        def chunk(kind, data):
            return (struct.pack('>I', len(data)) + kind + data +
                    struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))
        with open(path, 'wb') as f:
            f.write(b'\x89PNG\r\n\x1a\n')
            f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', self.w, self.h, 8, 6, 0, 0, 0)))
            f.write(chunk(b'IDAT', zlib.compress(raw, 9)))
            f.write(chunk(b'IEND', b''))


BLUE = (40, 96, 190, 255)
DARK_BLUE = (20, 50, 120, 255)
WHITE = (255, 255, 255, 255)
RED = (200, 40, 40, 255)
GREEN = (40, 150, 60, 255)
GREY = (120, 120, 120, 255)
LIGHT = (235, 235, 235, 255)
YELLOW = (250, 210, 80, 255)

I_ROWS = ["###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"]
P_ROWS = ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."]


def globe(size):
    c = Canvas(size, size)
    r = size / 2 - 0.5
    c.disc(size / 2, size / 2, r, DARK_BLUE)
    c.disc(size / 2, size / 2, r - size / 16, BLUE)
    s = max(1, size // 16)
    width = (3 + 1 + 5) * s
    x0 = (size - width) // 2
    y0 = (size - 7 * s) // 2
    c.glyph(I_ROWS, x0, y0, s, WHITE)
    c.glyph(P_ROWS, x0 + 4 * s, y0, s, WHITE)
    return c


DARK_GREEN = (20, 90, 35, 255)


def update_icon(size):
    """Tamrel's: a green disc with an arrow down onto a bar, a release coming in."""
    c = Canvas(size, size)
    r = size / 2 - 0.5
    c.disc(size / 2, size / 2, r, DARK_GREEN)
    c.disc(size / 2, size / 2, r - size / 16, GREEN)
    stroke = max(1.5, size / 9)
    middle = size / 2
    c.line(middle, size * 0.2, middle, size * 0.62, stroke, WHITE)
    c.line(middle, size * 0.68, size * 0.3, size * 0.46, stroke, WHITE)
    c.line(middle, size * 0.68, size * 0.7, size * 0.46, stroke, WHITE)
    c.rect(int(size * 0.27), int(size * 0.76), int(round(size * 0.73)),
           int(size * 0.76 + max(1, size / 14)), WHITE)
    return c


ICON_SIZES = (16, 32, 48, 64, 128)


def save_glyph():
    c = Canvas(16, 16)
    c.rect(1, 1, 15, 15, DARK_BLUE)
    c.rect(4, 1, 12, 6, LIGHT)
    c.rect(9, 2, 11, 5, DARK_BLUE)
    c.rect(3, 9, 13, 15, WHITE)
    c.rect(4, 11, 12, 12, GREY)
    c.rect(4, 13, 12, 14, GREY)
    return c


def hide_glyph():
    c = Canvas(16, 16)
    c.rect(1, 1, 15, 12, GREY)
    c.rect(2, 4, 14, 11, WHITE)
    c.rect(2, 2, 14, 3, BLUE)
    c.rect(2, 13, 14, 15, DARK_BLUE)
    c.line(5, 6, 8, 9, 1.6, BLUE)
    c.line(11, 6, 8, 9, 1.6, BLUE)
    return c


def show_glyph():
    c = Canvas(16, 16)
    c.rect(1, 2, 15, 14, GREY)
    c.rect(2, 5, 14, 13, WHITE)
    c.rect(2, 3, 14, 5, BLUE)
    c.rect(11, 3, 13, 5, RED)
    return c


def quit_glyph():
    c = Canvas(16, 16)
    c.disc(8, 8, 7.5, RED)
    c.line(5, 5, 11, 11, 2, WHITE)
    c.line(11, 5, 5, 11, 2, WHITE)
    return c


def help_glyph():
    # A question mark drawn by strokes reads better at 16 pixels than a pixel font.
    c = Canvas(16, 16)
    c.disc(8, 8, 7.5, BLUE)
    for a in range(200, 450, 10):
        t = math.radians(a)
        c.disc(8 + 2.6 * math.cos(t), 6 + 2.6 * math.sin(t), 0.9, WHITE)
    c.line(8, 8.6, 8, 10, 1.8, WHITE)
    c.disc(8, 12.3, 1.1, WHITE)
    return c


def mail_glyph():
    c = Canvas(16, 16)
    c.rect(1, 3, 15, 13, GREY)
    c.rect(2, 4, 14, 12, YELLOW)
    c.line(2, 4.5, 8, 9, 1.2, GREY)
    c.line(14, 4.5, 8, 9, 1.2, GREY)
    return c


def url_glyph():
    c = Canvas(16, 16)
    c.disc(8, 8, 7.5, GREEN)
    c.disc(8, 8, 6.3, (120, 200, 130, 255))
    c.line(1.5, 8, 14.5, 8, 1, GREEN)
    c.line(8, 1.5, 8, 14.5, 1, GREEN)
    for a in range(0, 360, 6):
        t = math.radians(a)
        c.blend(int(8 + 3 * math.cos(t)), int(8 + 6.3 * math.sin(t)), GREEN)
    return c


def close_glyph():
    c = Canvas(12, 12)
    c.line(2.5, 2.5, 9.5, 9.5, 1.8, (90, 60, 30, 255))
    c.line(9.5, 2.5, 2.5, 9.5, 1.8, (90, 60, 30, 255))
    return c


def notice_background():
    w, h = 181, 116
    c = Canvas(w, h)
    top, bottom = (255, 240, 200), (255, 251, 240)
    for y in range(h):
        t = y / (h - 1)
        color = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3)) + (255,)
        c.rect(0, y, w, y + 1, color)
    c.rect(0, 0, w, 24, (245, 200, 120, 255))
    c.rect(0, 24, w, 25, (200, 150, 80, 255))
    c.frame(0, 0, w, h, (150, 110, 60, 255))
    # The program's mark, faint, in the lower right corner.
    mark = globe(32)
    for y in range(32):
        for x in range(32):
            p = mark.px[y * 32 + x]
            if p[3]:
                c.blend(w - 38 + x, h - 38 + y, (p[0], p[1], p[2], p[3]), 0.25)
    return c


def icon_name(program, size):
    # The 32-pixel picture is also the window's and the tray's, under the plain name.
    return '%s.png' % program if size == 32 else '%s%d.png' % (program, size)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, '..', 'ipwatch', 'pictures')
    updater = os.path.join(here, '..', 'updater', 'pictures')
    pictures = {
        'save.png': save_glyph(),
        'hide.png': hide_glyph(),
        'show.png': show_glyph(),
        'quit.png': quit_glyph(),
        'help.png': help_glyph(),
        'mail.png': mail_glyph(),
        'url.png': url_glyph(),
        'close.png': close_glyph(),
        'notice.png': notice_background(),
    }
    for size in ICON_SIZES:
        pictures[icon_name('kestrova', size)] = globe(size)
    for name, canvas in pictures.items():
        canvas.save(os.path.join(out, name))
    for size in ICON_SIZES:
        update_icon(size).save(os.path.join(updater, icon_name('tamrel', size)))
    return 0


if __name__ == '__main__':
    sys.exit(main())

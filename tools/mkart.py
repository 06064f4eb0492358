#!/usr/bin/env python3
"""Turns the pixel art under res/art into the .ico and .cur files of res/.

An art file is plain text:

    kind icon            icon or cursor
    size 32 32           width and height in pixels
    colours 16           16 (4 bits a pixel) or 2 (monochrome)
    hotspot 17 13        cursors only
    pixels
    ....0FFF0....        one line a row, top row first

A pixel is a hex digit naming a colour of the standard 16-colour palette
(0 black, 4 navy, 7 silver, 8 grey, 9 red, F white, ...), '.' for
transparent or 'x' for the inverted screen.  A monochrome image uses only
0, F, '.' and 'x'.  Lines starting with '#' are comments.

    mkart.py ART OUT            write OUT (.ico or .cur) from ART
    mkart.py --check ART OUT    exit 1 unless OUT is what ART gives
    mkart.py --preview ART PNG  write an 8x enlarged picture to look at
"""
import struct
import sys
import zlib

PALETTE16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
PALETTE2 = [(0x00, 0x00, 0x00), (0xFF, 0xFF, 0xFF)]


class Art:
    def __init__(self, path):
        self.kind = None
        self.width = self.height = 0
        self.colours = 16
        self.hotspot = (0, 0)
        self.rows = []
        in_pixels = False
        with open(path, encoding="ascii") as f:
            for number, raw in enumerate(f, 1):
                line = raw.rstrip("\n")
                if line.startswith("#"):
                    continue
                if in_pixels:
                    if line:
                        self.rows.append(line)
                    continue
                words = line.split()
                if not words:
                    continue
                if words[0] == "kind":
                    self.kind = words[1]
                elif words[0] == "size":
                    self.width, self.height = int(words[1]), int(words[2])
                elif words[0] == "colours":
                    self.colours = int(words[1])
                elif words[0] == "hotspot":
                    self.hotspot = (int(words[1]), int(words[2]))
                elif words[0] == "pixels":
                    in_pixels = True
                else:
                    raise SystemExit(f"{path}:{number}: unknown line {line!r}")
        self.check(path)

    def check(self, path):
        if self.kind not in ("icon", "cursor"):
            raise SystemExit(f"{path}: kind must be icon or cursor")
        if self.colours not in (2, 16):
            raise SystemExit(f"{path}: colours must be 2 or 16")
        if len(self.rows) != self.height:
            raise SystemExit(f"{path}: {len(self.rows)} rows, size says {self.height}")
        allowed = set("0F.x") if self.colours == 2 else set("0123456789ABCDEF.x")
        for y, row in enumerate(self.rows):
            if len(row) != self.width:
                raise SystemExit(f"{path}: row {y} has {len(row)} pixels, size says {self.width}")
            bad = set(row) - allowed
            if bad:
                raise SystemExit(f"{path}: row {y} holds {''.join(sorted(bad))}")

    def index(self, ch):
        """Palette index of the XOR image and the bit of the AND mask."""
        if ch == ".":
            return 0, 1
        if ch == "x":
            return (1 if self.colours == 2 else 15), 1
        if self.colours == 2:
            return (0 if ch == "0" else 1), 0
        return int(ch, 16), 0


def pack_rows(art, bits_per_pixel, value):
    """Bottom-up rows, each padded to a multiple of four bytes."""
    out = bytearray()
    for row in reversed(art.rows):
        bits = 0
        count = 0
        line = bytearray()
        for ch in row:
            bits = (bits << bits_per_pixel) | value(ch)
            count += bits_per_pixel
            if count == 8:
                line.append(bits)
                bits = count = 0
        if count:
            line.append(bits << (8 - count))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def image_bytes(art):
    bpp = 1 if art.colours == 2 else 4
    palette = PALETTE2 if art.colours == 2 else PALETTE16
    xor = pack_rows(art, bpp, lambda ch: art.index(ch)[0])
    mask = pack_rows(art, 1, lambda ch: art.index(ch)[1])
    header = struct.pack("<IiiHHIIiiII", 40, art.width, art.height * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + colours + xor + mask


def file_bytes(art):
    image = image_bytes(art)
    kind = 1 if art.kind == "icon" else 2
    if kind == 1:
        planes, bitcount = 1, (1 if art.colours == 2 else 4)
    else:
        planes, bitcount = art.hotspot
    directory = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", art.width % 256, art.height % 256,
                        art.colours % 256, 0, planes, bitcount, len(image), 6 + 16)
    return directory + entry + image


def preview_png(art, scale=8):
    palette = PALETTE2 if art.colours == 2 else PALETTE16
    raw = bytearray()
    for y in range(art.height * scale):
        raw.append(0)
        row = art.rows[y // scale]
        for x in range(art.width * scale):
            ch = row[x // scale]
            checker = ((x // scale) + (y // scale)) % 2
            if ch == ".":
                raw += bytes((0xE8, 0xE8, 0xE8) if checker else (0xD0, 0xD0, 0xD0))
            elif ch == "x":
                raw += bytes((0xFF, 0x80, 0x00))
            else:
                raw += bytes(palette[art.index(ch)[0]])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", art.width * scale, art.height * scale, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) == 4 and argv[1] == "--check":
        with open(argv[3], "rb") as f:
            same = f.read() == file_bytes(Art(argv[2]))
        if not same:
            print(f"{argv[3]} is not what {argv[2]} gives; run tools/mkart.py {argv[2]} {argv[3]}")
        return 0 if same else 1
    if len(argv) == 4 and argv[1] == "--preview":
        with open(argv[3], "wb") as f:
            f.write(preview_png(Art(argv[2])))
        return 0
    if len(argv) == 3:
        with open(argv[2], "wb") as f:
            f.write(file_bytes(Art(argv[1])))
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))

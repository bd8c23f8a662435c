#!/usr/bin/env python3
"""Draws the bootstrapper's icon: one 32 x 32 image of 16 colours.

The picture is the grid below, one character a pixel; the output is the
same bytes on every run, so the committed .ico can be checked against it:

    python3 scripts/make_icon.py Setup_Merlavox/Setup_Merlavox.ico
    python3 scripts/make_icon.py --check Setup_Merlavox/Setup_Merlavox.ico
    python3 scripts/make_icon.py --png preview.png   # to look at it
"""
import argparse
import struct
import sys
import zlib

# The standard 16-colour palette of Windows, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# '.' is transparent; every other character names a palette entry.
INK = {"K": 0, "g": 2, "O": 3, "D": 8, "G": 10, "Y": 11, "W": 15, "S": 7}

# A carton with its flaps open and a green arrow going into it: the files
# that the program puts in place before the setup program starts.
PICTURE = [
    "................................",
    "..............KKKK..............",
    "..............KGGK..............",
    "..............KGgK..............",
    "..............KGgK..............",
    "..............KGgK..............",
    "..............KGgK..............",
    "..............KGgK..............",
    "..........KKKKKGgKKKKK..........",
    "..........KGGGGGgggggK..........",
    "...........KGGGGggggK...........",
    "....KKKKK...KGGGgggK...KKKKK....",
    "....KYYYYK...KGGggK...KYYYYK....",
    ".....KYYYYK...KGgK...KYYYYK.....",
    "......KYYYYKKKKKKKKKKYYYYK......",
    ".......KKKKKKKKKKKKKKKKKK.......",
    ".......KYYYYYYYYYYYYYYYYKK......",
    ".......KOYYYYYYYYYYYYYYYKDK.....",
    ".......KOYYYYYYYYYYYYYYYKDDK....",
    ".......KOYYYYYYYYYYYYYYYKDDK....",
    ".......KOYYYYKKKKKKYYYYYKDDK....",
    ".......KOYYYYKWWWWKYYYYYKDDK....",
    ".......KOYYYYKKKKKKYYYYYKDDK....",
    ".......KOYYYYYYYYYYYYYYYKDDK....",
    ".......KOYYYYYYYYYYYYYYYKDDK....",
    ".......KOYYYYYYYYYYYYYYYKDDK....",
    ".......KOYYYYYYYYYYYYYYYKDDK....",
    ".......KOOOOOOOOOOOOOOOOKDK.....",
    ".......KKKKKKKKKKKKKKKKKKK......",
    "........SSSSSSSSSSSSSSSSSS......",
    "................................",
    "................................",
]

SIZE = 32


def pixels():
    assert len(PICTURE) == SIZE and all(len(row) == SIZE for row in PICTURE)
    return [[None if c == "." else INK[c] for c in row] for row in PICTURE]


def ico_bytes():
    grid = pixels()
    # The image is a bottom-up DIB of twice the height: the colour rows,
    # then the 1-bit mask rows, each row padded to 4 bytes.
    colour = bytearray()
    mask = bytearray()
    for row in reversed(grid):
        for x in range(0, SIZE, 2):
            hi = row[x] or 0
            lo = row[x + 1] or 0
            colour.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (row[x] is None)
        mask += bits.to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    image = header + palette + bytes(colour) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(scale=8):
    grid = pixels()
    raw = bytearray()
    for row in grid:
        line = bytearray()
        for value in row:
            rgb = (0xE0, 0xE0, 0xE0) if value is None else PALETTE[value]
            line += bytes(rgb) * scale
        for _ in range(scale):
            raw += b"\0" + line

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    side = SIZE * scale
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("ico", nargs="?", help="the .ico to write (or to compare with --check)")
    parser.add_argument("--check", action="store_true", help="fail if the .ico differs")
    parser.add_argument("--png", help="also write an enlarged preview")
    args = parser.parse_args()
    data = ico_bytes()
    if args.ico and args.check:
        with open(args.ico, "rb") as f:
            if f.read() != data:
                sys.exit(f"{args.ico} is not what {sys.argv[0]} draws")
    elif args.ico:
        with open(args.ico, "wb") as f:
            f.write(data)
    if args.png:
        with open(args.png, "wb") as f:
            f.write(png_bytes())


if __name__ == "__main__":
    main()

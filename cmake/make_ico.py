#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes a Windows icon file from square PNG images (stored as PNG inside the icon, Windows Vista on).

usage: make_ico.py OUT.ico IMAGE.png...
"""
import struct
import sys


def png_size(data: bytes) -> int:
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("not a PNG image")
    width, height = struct.unpack(">II", data[16:24])
    if width != height or width > 256:
        raise SystemExit(f"icon images are square and at most 256 pixels, not {width}x{height}")
    return width


def main() -> None:
    out, images = sys.argv[1], [open(p, "rb").read() for p in sys.argv[2:]]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for data in images:
        size = png_size(data) % 256  # 256 is written as 0
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(out, "wb") as f:
        f.write(header + entries + blobs)


if __name__ == "__main__":
    main()

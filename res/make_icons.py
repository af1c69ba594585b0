#!/usr/bin/env python3
"""Draws the helper's icon at six sizes and packs them into keldrix.ico.

Deterministic: the same script always writes the same bytes. Run it from any
directory; it writes icons/keldrix-<size>.png and keldrix.ico beside itself.
"""
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
HERE = os.path.dirname(os.path.abspath(__file__))


def pixel(x, y, size):
    """RGBA of one pixel: a rounded blue tile carrying a white "K"."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    radius = 0.18
    cx = min(max(u, radius), 1 - radius)
    cy = min(max(v, radius), 1 - radius)
    if (u - cx) ** 2 + (v - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    stroke = 0.11
    stem = 0.28 <= u <= 0.28 + stroke and 0.2 <= v <= 0.8
    arm = abs((u - 0.39) - abs(v - 0.5) * 0.62 * 1.6) < stroke * 0.62 and 0.2 <= v <= 0.8 and u >= 0.39
    if stem or arm:
        return (255, 255, 255, 255)
    shade = int(40 + 60 * v)
    return (20, shade + 60, 200 - shade, 255)


def png(size):
    rows = b"".join(
        b"\x00" + b"".join(bytes(pixel(x, y, size)) for x in range(size)) for y in range(size)
    )

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        dimension = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return directory + entries + data


def main():
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    images = []
    for size in SIZES:
        image = png(size)
        with open(os.path.join(HERE, "icons", f"keldrix-{size}.png"), "wb") as out:
            out.write(image)
        images.append((size, image))
    with open(os.path.join(HERE, "keldrix.ico"), "wb") as out:
        out.write(ico(images))


if __name__ == "__main__":
    main()

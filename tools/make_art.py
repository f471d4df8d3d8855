#!/usr/bin/env python3
"""Draws the setup program's icon (picture frame with a glimmer) and its small logo bitmap.

Everything is computed on integer coordinates, so the output bytes never change between runs.
"""
import argparse
import struct

TRANSPARENT = (0, 0, 0, 0)
GOLD = (200, 150, 40)
SKY = (90, 150, 220)
HILL = (60, 150, 60)
SPARK = (255, 250, 200)


def _dim(rgb, num, den):
    return tuple(c * num // den for c in rgb)


def _sparkle(dx, dy, reach):
    dx, dy = abs(dx), abs(dy)
    return dx + 4 * dy < reach or dy + 4 * dx < reach


def frame_icon(size, frame=GOLD, sky=SKY):
    """Rows of RGBA pixels, top row first: a framed landscape with a sparkle in its corner."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            # Pixel centre in thousandths of the icon, whatever its size.
            cx = (2 * x + 1) * 500 // size
            cy = (2 * y + 1) * 500 // size
            pixel = TRANSPARENT
            if 40 <= cx <= 960 and 120 <= cy <= 880:
                edge = min(cx - 40, 960 - cx, cy - 120, 880 - cy)
                if edge < 60:
                    pixel = _dim(frame, 7, 10) + (255,)
                elif edge < 130:
                    pixel = frame + (255,)
                elif (cx - 330) ** 2 + (cy - 1060) ** 2 < 440**2:
                    pixel = HILL + (255,)
                else:
                    pixel = _dim(sky, 700 + cy // 3, 1000) + (255,)
            if _sparkle(cx - 700, cy - 340, 220):
                pixel = SPARK + (255,)
            row.append(pixel)
        rows.append(row)
    return rows


def ico_bytes(images):
    """An .ico file from (size, rows) pairs: 32-bit images, each with its AND mask."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for size, rows in images:
        mask_stride = (size + 31) // 32 * 4
        info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
        colour, mask = b"", b""
        for row in reversed(rows):
            bits = bytearray(mask_stride)
            for x, (r, g, b, a) in enumerate(row):
                colour += bytes((b, g, r, a))
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        blob = info + colour + mask
        dim = size if size < 256 else 0
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return header + entries + blobs


def logo_pixels(scale=2):
    """Rows of RGB pixels, 88 x 31 times scale: a blue field, a gold band, the framed picture and three
    sparkles. Drawn large, so the wizard scales it down smoothly to the size of its page."""
    icon = frame_icon(24 * scale)
    sparkles = ((44, 11, 9), (60, 15, 6), (74, 9, 4))
    rows = []
    for y in range(31 * scale):
        row = []
        for x in range(88 * scale):
            pixel = (20 + y // scale, 40 + 2 * y // scale, 90 + 2 * y // scale)
            if 24 * scale <= y < 28 * scale:
                pixel = (230, 180, 50)
            for sx, sy, reach in sparkles:
                if _sparkle(x - sx * scale, y - sy * scale, reach * scale):
                    pixel = SPARK
            if 4 * scale <= x < 28 * scale and scale <= y < 25 * scale:
                r, g, b, a = icon[y - scale][x - 4 * scale]
                if a:
                    pixel = (r, g, b)
            row.append(pixel)
        rows.append(row)
    return rows


def bmp8_bytes(rows):
    """An 8-bit bottom-up .bmp file with a palette of the colours used (at most 256), rows top first."""
    height, width = len(rows), len(rows[0])
    palette = sorted({pixel for row in rows for pixel in row})
    assert len(palette) <= 256
    index = {pixel: i for i, pixel in enumerate(palette)}
    stride = (width + 3) // 4 * 4
    data = b"".join(bytes(index[p] for p in row) + bytes(stride - width) for row in reversed(rows))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(data), 2835, 2835, len(palette), 0)
    offset = 14 + len(info) + len(colours)
    head = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return head + info + colours + data


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--icon", help="write the 16, 32 and 48 pixel icon here")
    parser.add_argument("--bitmap", help="write the 176 x 62 logo here")
    args = parser.parse_args()
    if not args.icon and not args.bitmap:
        parser.error("nothing to write: give --icon and/or --bitmap")
    if args.icon:
        with open(args.icon, "wb") as f:
            f.write(ico_bytes([(s, frame_icon(s)) for s in (16, 32, 48)]))
    if args.bitmap:
        with open(args.bitmap, "wb") as f:
            # Palette colours keep the large logo small in the program.
            f.write(bmp8_bytes(logo_pixels()))


if __name__ == "__main__":
    main()

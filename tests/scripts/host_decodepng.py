#!/usr/bin/env python3
"""Independent check of the PNG files written by the vexlar program.

Usage: host_decodepng.py VEXLAR_PROGRAM TESTS_DATA_DIR

Renders tests/data/host_flat.json (a sphere of one flat colour, 0.75 0.25
0.5, on a flat background, 0.25 0.5 0.75, with alpha) and decodes the file
with nothing but zlib: chunk CRCs, the header, the row filters. The colours
are known without the renderer: a channel c becomes the byte of its sRGB
encoding, round(255 * (1.055 c^(1/2.4) - 0.055)), so the sphere is
(225, 137, 188, 255) and the background (137, 188, 225, 0).
Also runs pngcheck on the file when it is installed.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def decode(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("no PNG signature")
    pos, idat, header, ended = 8, b"", None, False
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            fail("bad CRC in chunk %r" % kind)
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            ended = True
            break
        pos += 12 + length
    if header is None or not ended:
        fail("missing IHDR or IEND")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or interlace != 0 or colour not in (2, 6):
        fail("unexpected header %r" % (header,))
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    if len(raw) != height * (stride + 1):
        fail("pixel data of %d bytes for %d x %d" % (len(raw), width, height))
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
            elif kind != 0:
                fail("unknown row filter %d" % kind)
        rows.append(line)
        previous = line
    return width, height, channels, rows


def pixel(rows, channels, x, y):
    return tuple(rows[y][x * channels:(x + 1) * channels])


def main():
    program, data_dir = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "flat.png")
        run = subprocess.run([program, "-q", "-j", "1", "-o", out, os.path.join(data_dir, "host_flat.json")],
                             capture_output=True, text=True)
        if run.returncode != 0:
            fail("vexlar exited with %d: %s" % (run.returncode, run.stderr))
        with open(out, "rb") as f:
            width, height, channels, rows = decode(f.read())
        if (width, height, channels) != (40, 30, 4):
            fail("size %d x %d with %d channels" % (width, height, channels))
        checks = {(20, 15): (225, 137, 188, 255), (0, 0): (137, 188, 225, 0), (39, 29): (137, 188, 225, 0),
                  (39, 0): (137, 188, 225, 0), (0, 29): (137, 188, 225, 0)}
        for (x, y), want in checks.items():
            got = pixel(rows, channels, x, y)
            if got != want:
                fail("pixel (%d, %d) is %r, expected %r" % (x, y, got, want))
        if shutil.which("pngcheck"):
            check = subprocess.run(["pngcheck", out], capture_output=True, text=True)
            if check.returncode != 0:
                fail("pngcheck: " + check.stdout + check.stderr)
    print("OK")


if __name__ == "__main__":
    main()

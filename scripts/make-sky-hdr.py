#!/usr/bin/env python3
"""Writes the environment picture of scenes/image-light.json: a small
latitude-longitude Radiance .hdr (uncompressed RGBE scanlines) of a blue sky
with a bright horizon glow, dark ground and a small, very bright sun.

Usage: scripts/make-sky-hdr.py [OUT.hdr] (default scenes/sky.hdr)."""
import math
import sys

WIDTH, HEIGHT = 256, 128
SUN_AZIMUTH, SUN_ELEVATION, SUN_RADIUS = math.radians(40), math.radians(35), math.radians(2.5)
SUN_RADIANCE = 600.0


def radiance(azimuth, elevation):
    """Linear RGB seen in the direction (azimuth, elevation), in radians."""
    sun = (math.cos(SUN_ELEVATION) * math.cos(SUN_AZIMUTH), math.cos(SUN_ELEVATION) * math.sin(SUN_AZIMUTH),
           math.sin(SUN_ELEVATION))
    d = (math.cos(elevation) * math.cos(azimuth), math.cos(elevation) * math.sin(azimuth), math.sin(elevation))
    if math.acos(max(-1.0, min(1.0, sum(a * b for a, b in zip(sun, d))))) < SUN_RADIUS:
        return (SUN_RADIANCE, SUN_RADIANCE * 0.92, SUN_RADIANCE * 0.8)
    if elevation < 0:
        return (0.12, 0.1, 0.08)
    glow = math.exp(-elevation / 0.25)
    return (0.25 + 0.6 * glow, 0.4 + 0.5 * glow, 0.9 + 0.2 * glow)


def rgbe(c):
    m = max(c)
    if m < 1e-32:
        return bytes(4)
    mantissa, exponent = math.frexp(m)
    scale = mantissa * 256.0 / m
    return bytes([min(255, int(v * scale)) for v in c] + [exponent + 128])


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "scenes/sky.hdr"
    rows = []
    for j in range(HEIGHT):
        elevation = math.pi / 2 - (j + 0.5) / HEIGHT * math.pi
        # u = 0.5 - azimuth / 2 pi: the azimuth grows from right to left.
        row = b"".join(rgbe(radiance((0.5 - (i + 0.5) / WIDTH) * 2 * math.pi, elevation)) for i in range(WIDTH))
        rows.append(row)
    with open(out, "wb") as f:
        f.write(b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y %d +X %d\n" % (HEIGHT, WIDTH))
        f.write(b"".join(rows))


if __name__ == "__main__":
    main()

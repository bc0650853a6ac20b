#!/usr/bin/env python3
"""Test pictures for the image reader, each with its decoding by an
independent decoder.

Usage: make_pictures.py OUTDIR

Writes 7 x 5 pictures of seeded random texels with Pillow (PNG: RGBA, grey,
palette, 16-bit grey; JPEG; TGA: plain and run-length) and 9 x 3 Radiance
RGBE files written here (flat rows, run-length rows, bottom-up rows). Beside
each NAME it writes NAME.f32: the texels as Pillow decodes them (or, for
RGBE, as m * 2^(e - 136)), four floats a texel, rows from the top, integer
samples divided by their maximum.
"""
import sys

import numpy as np
from PIL import Image

out = sys.argv[1]
rng = np.random.default_rng(7)
texels = rng.integers(0, 256, (5, 7, 4), dtype=np.uint8)


def pillow(img, name, **options):
    img.save(f"{out}/{name}", **options)
    decoded = np.asarray(Image.open(f"{out}/{name}").convert("RGBA"), dtype=np.float32) / 255
    decoded.astype("<f4").tofile(f"{out}/{name}.f32")


pillow(Image.fromarray(texels, "RGBA"), "rgba.png")
pillow(Image.fromarray(texels[..., 0], "L"), "grey.png")
pillow(Image.fromarray(texels[..., :3], "RGB").quantize(16), "palette.png")
pillow(Image.fromarray(texels[..., :3], "RGB"), "rgb.jpg", quality=95, subsampling=0)
pillow(Image.fromarray(texels[..., :3], "RGB"), "rgb.tga")
pillow(Image.fromarray(texels, "RGBA"), "rle.tga", compression="tga_rle")

grey16 = rng.integers(0, 65536, (5, 7), dtype=np.uint16)
Image.fromarray(grey16, "I;16").save(f"{out}/grey16.png")
g = np.asarray(Image.open(f"{out}/grey16.png"), dtype=np.float64) / 65535
np.stack([g, g, g, np.ones_like(g)], axis=-1).astype("<f4").tofile(f"{out}/grey16.png.f32")

# RGBE: the largest mantissa of a pixel is 128..255; runs of equal bytes
# give the run-length encoder something to do.
w, h = 9, 3
rgbe = rng.integers(0, 256, (h, w, 4), dtype=np.uint8)
rgbe[..., 0] = rng.integers(128, 256, (h, w))
rgbe[..., 3] = rng.integers(120, 140, (h, w))
rgbe[1, 2:7, :] = rgbe[1, 2, :]
value = rgbe[..., :3] * np.exp2(rgbe[..., 3:4].astype(np.float64) - 136)
for name in ("flat.hdr", "rle.hdr", "bottomup.hdr"):
    np.concatenate([value, np.ones((h, w, 1))], axis=-1).astype("<f4").tofile(f"{out}/{name}.f32")


def runs(channel):
    """Run-length code of one channel of a row: equal bytes as runs, others one by one."""
    code, i = b"", 0
    while i < len(channel):
        n = 1
        while i + n < len(channel) and n < 127 and channel[i + n] == channel[i]:
            n += 1
        code += bytes([128 + n if n > 1 else 1, channel[i]])
        i += n
    return code


def radiance(name, resolution, rows):
    with open(f"{out}/{name}", "wb") as f:
        f.write(b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1.0\n\n" + resolution + b"\n")
        for row in rows:
            f.write(row)


radiance("flat.hdr", b"-Y 3 +X 9", [rgbe[y].tobytes() for y in range(h)])
radiance("rle.hdr", b"-Y 3 +X 9",
         [bytes([2, 2, 0, w]) + b"".join(runs(rgbe[y, :, c].tobytes()) for c in range(4)) for y in range(h)])
radiance("bottomup.hdr", b"+Y 3 +X 9", [rgbe[y].tobytes() for y in reversed(range(h))])

#!/usr/bin/env python3
"""The vexlar program's image files read back by independent readers.

Usage: output_formats.py VEXLAR_PROGRAM TESTS_DATA_DIR

Renders tests/data/host_flat.json (a sphere of the flat colour 0.75 0.25 0.5
with alpha 1 on a background of 0.25 0.5 0.75 with alpha 0) with each output
setting and format, and checks the sphere's and the background's pixel with
Pillow (PNG values and colour chunks), numpy (PFM) and an RGBE decoder
written here; every format's output folder is checked before rendering.
Expected values come from the curves' formulas, not from the program. (The
exact 16-bit samples and EXR files are read back in test_host_outputcolor.)
"""
import math
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

SPHERE, BACK = (0.75, 0.25, 0.5), (0.25, 0.5, 0.75)
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got}, expected {want}")


def srgb(v):
    return 12.92 * v if v <= 0.0031308 else 1.055 * v ** (1 / 2.4) - 0.055


def codes(colour, curve, alpha, top=255):
    return tuple(math.floor(curve(c) * top + 0.5) for c in colour) + (alpha * top,)


def rgbe_encode(colour):
    """The library's encoding: frexp of the largest channel, truncated mantissas."""
    v = max(colour)
    m, e = math.frexp(v)
    scale = np.float32(m * 256.0 / v)
    return [int(np.float32(c) * scale) for c in colour], e + 128


def rgbe_file(path):
    data = open(path, "rb").read()
    head, _, pixels = data.partition(b"\n\n")
    resolution, _, pixels = pixels.partition(b"\n")
    check("hdr header", head.split(b"\n")[0], b"#?RADIANCE")
    _, h, _, w = resolution.split()
    px = np.frombuffer(pixels, np.uint8).reshape(int(h), int(w), 4)
    return lambda x, y: (list(px[y, x, :3]), int(px[y, x, 3]))


def main():
    program, data = sys.argv[1], sys.argv[2]
    scene = os.path.join(data, "host_flat.json")

    def render(name, *settings):
        out = os.path.join(tmp, name)
        sets = [word for s in settings for word in ("--set", s)]
        run = subprocess.run([program, *sets, "-q", "-j", "1", "-o", out, scene],
                             capture_output=True, text=True)
        check(f"{name} {settings} exit status ({run.stderr.strip()})", run.returncode, 0)
        return out

    with tempfile.TemporaryDirectory() as tmp:
        checkAll(render, program)
    for f in failures:
        print("FAIL:", f)
    print("output_formats: %d checks failed" % len(failures) if failures else "output_formats: all passed")
    return 1 if failures else 0


def checkAll(render, program):
    def pillow(name, settings, curve, chunk, value):
        img = Image.open(render(name, *settings))
        check(f"{name} {chunk}", img.info.get(chunk), value)
        check(f"{name} sphere", img.getpixel((20, 15)), codes(SPHERE, curve, 1))
        check(f"{name} background", img.getpixel((0, 0)), codes(BACK, curve, 0))

    pillow("srgb.png", [], srgb, "srgb", 0)
    pillow("linear.png", ["output.color=linear"], lambda v: v, "gamma", 1.0)
    pillow("gamma.png", ['output.color={"gamma": 2.2}'], lambda v: v ** (1 / 2.2), "gamma", 0.45455)
    pillow("reinhard.png", ["output.color=linear", "output.tonemap=reinhard", "output.exposure=2"],
           lambda v: 4 * v / (1 + 4 * v), "gamma", 1.0)
    filmic = lambda x: min(1.0, x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14))
    pillow("filmic.png", ["output.tonemap=filmic"], lambda v: srgb(filmic(v)), "srgb", 0)

    # Pillow reads 16-bit colour PNGs as their high bytes.
    wide = Image.open(render("wide.png", "output.bits=16"))
    check("16-bit depth", (wide.mode, wide.info.get("srgb")), ("RGBA", 0))
    check("16-bit sphere", wide.getpixel((20, 15)), tuple(v >> 8 for v in codes(SPHERE, srgb, 1, 65535)))

    pfm = open(render("a.pfm"), "rb").read()
    check("pfm header", pfm[:14], b"PF\n40 30\n-1.0\n")
    rows = np.frombuffer(pfm[14:], "<f4").reshape(30, 40, 3)[::-1]
    check("pfm sphere", tuple(rows[15, 20]), SPHERE)
    check("pfm background", tuple(rows[0, 0]), BACK)

    hdr = rgbe_file(render("a.hdr", "output.exposure=1"))
    check("hdr sphere", hdr(20, 15), rgbe_encode([2 * c for c in SPHERE]))
    check("hdr background", hdr(0, 0), rgbe_encode([2 * c for c in BACK]))

    # Every format is checked for a writable place before rendering.
    for ext in ("png", "tga", "hdr", "pfm", "exr"):
        run = subprocess.run([program, "-q", "-o", f"/nonexistent/x.{ext}", "--size", "40000x30000"],
                             capture_output=True, text=True, timeout=20)
        check(f".{ext} in a missing folder", (run.returncode, run.stderr.split(":")[:3]),
              (1, ["vexlar", " error", f' cannot write "/nonexistent/x.{ext}"']))



if __name__ == "__main__":
    sys.exit(main())

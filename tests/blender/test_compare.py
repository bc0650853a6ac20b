# vexlar through the add-on against Cycles on the same scenes (direct
# light): the silhouettes agree and lit regions are about as bright.
# With VEXLAR_DOCS_PICTURE set, the pairs are saved side by side there.

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures as fx  # noqa: E402

# Scene variants: (lights, depth of field).
VARIANTS = [("point", False), ("sun", False), ("area", False), ("spot", True)]
# World points on lit diffuse surfaces whose 7 x 7 pixel windows are compared.
REGIONS = {
    "floor": (0.8, -2.6, 0.0),
    "cube top": (-1.2, 0.4, 1.0),
    "suzanne": (0.6, 0.45, 1.15),
    "instanced prop": (1.4, -1.2, 0.4),
    "twin cube top": (1.8, 1.05, 1.0),
}
MIN_OVERLAP = 0.98
MAX_RATIO_ERROR = 0.15


def overlap(a, b):
    ma, mb = a[..., 3] > 0.5, b[..., 3] > 0.5
    return np.logical_and(ma, mb).sum() / max(np.logical_or(ma, mb).sum(), 1)


def windowMean(img, xy, half=3):
    x, y = xy
    return float(fx.luminance(img[max(y - half, 0):y + half + 1, max(x - half, 0):x + half + 1]).mean())


def body(checks):
    rows = []
    for lights, dof in VARIANTS:
        sc = fx.buildScene(lights, dof)
        label = lights + (" with depth of field" if dof else "")
        ours = fx.render("VEXLAR", os.path.join(fx.WORK, lights + "_vexlar.exr"))
        ref = fx.render("CYCLES", os.path.join(fx.WORK, lights + "_cycles.exr"))
        rows.append((ours, ref))
        ov = overlap(ours, ref)
        print("%s: silhouette overlap %.4f" % (label, ov))
        checks.expect(ov >= MIN_OVERLAP, "%s: silhouettes overlap by %.2f %%, below %.0f %%" %
                      (label, 100 * ov, 100 * MIN_OVERLAP))
        for name, point in REGIONS.items():
            xy = fx.projected(sc, point)
            a, b = windowMean(ours, xy), windowMean(ref, xy)
            ratio = a / b if b > 0 else float("inf")
            print("  %-15s at %s: vexlar %.4f, Cycles %.4f, ratio %.3f" % (name, xy, a, b, ratio))
            checks.expect(abs(ratio - 1.0) <= MAX_RATIO_ERROR,
                          "%s: %s is %.3f times as bright as in Cycles (allowed 1 +- %.2f)" %
                          (label, name, ratio, MAX_RATIO_ERROR))
    picture = os.environ.get("VEXLAR_DOCS_PICTURE")
    if picture:
        fx.saveSideBySide(rows, picture)
        print("saved %s" % picture)


fx.main(body, "Blender comparison")

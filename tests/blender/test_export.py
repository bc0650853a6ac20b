# File > Export > vexlar scene: the exported JSON, rendered by the vexlar
# program outside Blender, gives the engine's picture; and what the
# exporter writes for known inputs (camera, lights, instancing, shading).

import collections
import json
import math
import os
import subprocess
import sys
from types import SimpleNamespace

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures as fx  # noqa: E402
from vexlar_render import materials  # noqa: E402

bpy = fx.bpy


def body(checks):
    sc = fx.buildScene("sun")
    engine_pic = fx.render("VEXLAR", os.path.join(fx.WORK, "engine.exr"))
    target = os.path.join(fx.WORK, "farm", "shot.json")
    os.makedirs(os.path.dirname(target))
    checks.expect(bpy.ops.export_scene.vexlar(filepath=target) == {"FINISHED"}, "the export operator failed")
    scene = json.load(open(target))
    out = os.path.join(fx.WORK, "farm.exr")
    run = subprocess.run([fx.program(), "--alpha", "-o", out, target], capture_output=True, text=True)
    checks.expect(run.returncode == 0, "vexlar on the exported scene failed: %s" % run.stderr.strip())
    if run.returncode == 0:
        diff = float(np.abs(fx.readExr(out) - engine_pic).max())
        print("round trip: largest difference %.3g" % diff)
        checks.expect(diff < 2e-3, "the exported scene renders differently (largest difference %.4f)" % diff)

    objects = scene["objects"]
    kinds = dict(collections.Counter(o["type"] for o in objects.values()))
    # Floor, Suzanne, glass, cube, two props: meshes; cube twin and the
    # second placement of the two props: instances.
    print("objects:", kinds)
    checks.expect(kinds == {"mesh": 6, "instance": 3}, "meshes and instances: %s" % kinds)
    checks.expect(all(os.path.isfile(os.path.join(os.path.dirname(target), o["file"]))
                      for o in objects.values() if o["type"] == "mesh"), "a mesh file is missing")
    tex = next(iter(scene["textures"].values()))
    checks.expect(not os.path.isabs(tex["filename"]), "the exported picture is not beside the scene")
    checks.expect("auto_smooth" in objects["Suzanne"] and "auto_smooth" not in objects["Cube"],
                  "smooth shading: Suzanne smooth, the cube flat")
    checks.expect(scene["output"] == {"file": "shot.png", "alpha": True}, "output: %s" % scene["output"])
    # Blender's default lens (50 mm on a 36 mm sensor) spans 36/50 of the
    # distance; the sun of 3 W/m^2 becomes 3 / pi.
    sc.camera.data.lens, sc.camera.data.sensor_width = 50.0, 36.0
    cam = fx.vexlarExporter.cameraSettings(sc, sc.camera)
    checks.expect(abs(cam["focal"] - 50.0 / 36.0) < 1e-9, "focal %.6f, expected %.6f" % (cam["focal"], 50 / 36))
    sc.render.resolution_percentage = 50
    cam = fx.vexlarExporter.cameraSettings(sc, sc.camera)
    checks.expect(cam["resolution"] == [80, 60], "resolution at 50 %%: %s" % cam["resolution"])
    sun = scene["lights"]["sun"]
    checks.expect(abs(sun["power"] - 3.0 / math.pi) < 1e-6, "sun power %.6f" % sun["power"])

    # Principled inputs by their 3.x and 4.x names; a node set-up that is
    # not Principled warns once and keeps its colour.
    for names in (("Transmission", "Emission"), ("Transmission Weight", "Emission Color")):
        values = zip(names, (0.75, (1.0, 0.5, 0.0, 1.0)))
        sockets = {n: SimpleNamespace(default_value=v, is_linked=False) for n, v in values}
        node = SimpleNamespace(type="BSDF_PRINCIPLED", inputs=sockets)
        checks.expect(materials._value(node, "transmission", 0.0) == 0.75, "%s not read" % names[0])
        checks.expect(materials._value(node, "emission", None) == (1.0, 0.5, 0.0), "%s not read" % names[1])
    m = bpy.data.materials.new("plain")
    m.use_nodes = True
    nt = m.node_tree
    nt.nodes.remove(nt.nodes["Principled BSDF"])
    diffuse = nt.nodes.new("ShaderNodeBsdfDiffuse")
    diffuse.inputs["Color"].default_value = (0.1, 0.2, 0.3, 1.0)
    nt.links.new(diffuse.outputs[0], nt.nodes["Material Output"].inputs["Surface"])
    p, warning = materials.readMaterial(m)
    checks.expect(warning is not None and "plain" in warning, "no warning for a Diffuse BSDF: %r" % warning)
    checks.expect(tuple(round(c, 5) for c in p.base_color) == (0.1, 0.2, 0.3), "fallback colour %s" % (p.base_color,))
    glass = materials.genericShader(materials.readMaterial(bpy.data.materials["glass"])[0], None)
    checks.expect(glass["fresnel"] and abs(glass["ior"] - 1.45) < 1e-6 and glass["color"] == [0.0, 0.0, 0.0],
                  "glass shader: %s" % glass)


fx.main(body, "Blender export")

"""Reference figures for the multi-bounce test (tests/test_photonlights.cpp):
a closed room of Lambertian walls lit by a square emitter under the ceiling,
rendered by Blender's Cycles path tracer. Each wall's outgoing radiance is
baked into a small float image; the mean of its texels (the area-weighted
mean radiance) goes into tests/reference/cycles-room.json.

Run (Debian package blender):
  blender -b --factory-startup --python scripts/cycles-room-reference.py -- [OUT.json] [SAMPLES]

The room, in vexlar's coordinates (y up): x and z from -1 to 1, y from 0 to
2. The emitter is the square |x|, |z| <= 0.25 just under the ceiling,
facing down, of radiance pi * power / area with power 1 (an `area` light of
power 1 in vexlar); its back is transparent and its front also reflects
like the ceiling behind it, so it is a one-sided light on the ceiling.
Blender is z up: vexlar (x, y, z) is Blender (x, -z, y).
"""
import json
import math
import sys

import bpy

argv = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
OUT = argv[0] if len(argv) > 0 else "tests/reference/cycles-room.json"
SAMPLES = int(argv[1]) if len(argv) > 1 else 2048
TEXELS = 16

WHITE = (0.75, 0.75, 0.75)
RED = (0.75, 0.12, 0.1)
GREEN = (0.15, 0.6, 0.15)
LIGHT_HALF = 0.25
RADIANCE = math.pi * 1.0 / (2 * LIGHT_HALF) ** 2

# name: (corners in vexlar coordinates, counter-clockwise seen from inside, colour)
WALLS = {
    "floor": ([(-1, 0, 1), (1, 0, 1), (1, 0, -1), (-1, 0, -1)], WHITE),
    "ceiling": ([(-1, 2, -1), (1, 2, -1), (1, 2, 1), (-1, 2, 1)], WHITE),
    "back": ([(-1, 0, -1), (1, 0, -1), (1, 2, -1), (-1, 2, -1)], WHITE),
    "front": ([(1, 0, 1), (-1, 0, 1), (-1, 2, 1), (1, 2, 1)], WHITE),
    "left": ([(-1, 0, 1), (-1, 0, -1), (-1, 2, -1), (-1, 2, 1)], RED),
    "right": ([(1, 0, -1), (1, 0, 1), (1, 2, 1), (1, 2, -1)], GREEN),
}


def blender(p):
    return (p[0], -p[2], p[1])


def quad(name, corners):
    mesh = bpy.data.meshes.new(name)
    mesh.from_pydata([blender(c) for c in corners], [], [(0, 1, 2, 3)])
    uv = mesh.uv_layers.new()
    for loop, coord in zip(mesh.loops, [(0, 0), (1, 0), (1, 1), (0, 1)]):
        uv.data[loop.index].uv = coord
    obj = bpy.data.objects.new(name, mesh)
    bpy.context.scene.collection.objects.link(obj)
    return obj


def diffuse_material(name, colour):
    mat = bpy.data.materials.new(name)
    mat.use_nodes = True
    nodes, links = mat.node_tree.nodes, mat.node_tree.links
    nodes.clear()
    out = nodes.new("ShaderNodeOutputMaterial")
    bsdf = nodes.new("ShaderNodeBsdfDiffuse")
    bsdf.inputs["Color"].default_value = (*colour, 1)
    bsdf.inputs["Roughness"].default_value = 0
    links.new(bsdf.outputs["BSDF"], out.inputs["Surface"])
    return mat


def emitter_material():
    mat = bpy.data.materials.new("emitter")
    mat.use_nodes = True
    nodes, links = mat.node_tree.nodes, mat.node_tree.links
    nodes.clear()
    out = nodes.new("ShaderNodeOutputMaterial")
    emit = nodes.new("ShaderNodeEmission")
    emit.inputs["Color"].default_value = (1, 1, 1, 1)
    emit.inputs["Strength"].default_value = RADIANCE
    wall = nodes.new("ShaderNodeBsdfDiffuse")
    wall.inputs["Color"].default_value = (*WHITE, 1)
    front = nodes.new("ShaderNodeAddShader")
    links.new(emit.outputs["Emission"], front.inputs[0])
    links.new(wall.outputs["BSDF"], front.inputs[1])
    back = nodes.new("ShaderNodeBsdfTransparent")
    geometry = nodes.new("ShaderNodeNewGeometry")
    mix = nodes.new("ShaderNodeMixShader")
    links.new(geometry.outputs["Backfacing"], mix.inputs["Fac"])
    links.new(front.outputs["Shader"], mix.inputs[1])
    links.new(back.outputs["BSDF"], mix.inputs[2])
    links.new(mix.outputs["Shader"], out.inputs["Surface"])
    return mat


def main():
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = SAMPLES
    scene.cycles.use_denoising = False
    scene.cycles.max_bounces = 64
    scene.cycles.diffuse_bounces = 64
    scene.cycles.transparent_max_bounces = 64
    scene.cycles.sample_clamp_direct = 0
    scene.cycles.sample_clamp_indirect = 0
    scene.world = bpy.data.worlds.new("black")
    scene.world.use_nodes = True
    scene.world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0

    h = LIGHT_HALF
    light = quad("emitter", [(-h, 1.999, -h), (h, 1.999, -h), (h, 1.999, h), (-h, 1.999, h)])
    light.data.materials.append(emitter_material())
    walls = {}
    for name, (corners, colour) in WALLS.items():
        obj = quad(name, corners)
        obj.data.materials.append(diffuse_material(name, colour))
        walls[name] = obj

    means = {}
    for name, obj in walls.items():
        image = bpy.data.images.new(name, TEXELS, TEXELS, float_buffer=True)
        mat = obj.data.materials[0]
        node = mat.node_tree.nodes.new("ShaderNodeTexImage")
        node.image = image
        mat.node_tree.nodes.active = node
        bpy.ops.object.select_all(action="DESELECT")
        obj.select_set(True)
        bpy.context.view_layer.objects.active = obj
        bpy.ops.object.bake(type="COMBINED", margin=0)
        px = list(image.pixels)
        channels = [sum(px[c::4]) / (TEXELS * TEXELS) for c in range(3)]
        means[name] = [round(v, 5) for v in channels]
        print("baked", name, means[name], flush=True)

    with open(OUT, "w") as f:
        json.dump({"renderer": "Blender %s Cycles" % bpy.app.version_string, "samples": SAMPLES,
                   "texels": TEXELS, "mean_radiance": means}, f, indent=1)
        f.write("\n")


main()

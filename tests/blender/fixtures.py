# Shared fixtures of the Blender tests (run inside `blender -b
# --factory-startup --python`): the add-on loaded from the source tree, the
# test scenes built from scratch, renders read back as float arrays.

import os
import shutil
import sys
import tempfile
import traceback

import bpy
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "integrations", "blender"))
import vexlar_render  # noqa: E402
from vexlar_render import engine as vexlarEngine  # noqa: E402,F401
from vexlar_render import exporter as vexlarExporter  # noqa: E402,F401

vexlar_render.register()
WORK = tempfile.mkdtemp(prefix="vexlar-blender-test-")
RES = (160, 120)


def program():
    return os.environ["VEXLAR_PROGRAM"]


def clearScene():
    for kind in ("objects", "meshes", "materials", "lights", "cameras", "images", "collections", "worlds"):
        data = getattr(bpy.data, kind)
        for item in list(data):
            data.remove(item)
    sc = bpy.context.scene
    sc.world = None  # a world would light Cycles' scene; vexlar's background lights nothing directly
    sc.render.resolution_x, sc.render.resolution_y = RES
    sc.render.resolution_percentage = 100
    settings = {"render.film_transparent": True, "view_settings.view_transform": "Standard",
                "render.image_settings.file_format": "OPEN_EXR", "render.image_settings.color_depth": "32",
                "render.image_settings.color_mode": "RGBA", "render.threads_mode": "FIXED",
                "render.threads": 2, "cycles.samples": 16, "cycles.use_denoising": False,
                "cycles.use_adaptive_sampling": False, "cycles.max_bounces": 8, "cycles.diffuse_bounces": 0,
                "cycles.glossy_bounces": 4, "cycles.transmission_bounces": 8,
                "cycles.caustics_reflective": False, "cycles.caustics_refractive": False}
    for path, value in settings.items():
        owner, _, attr = path.rpartition(".")
        setattr(sc.path_resolve(owner), attr, value)
    return sc


def principled(name, color, **inputs):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    node = m.node_tree.nodes["Principled BSDF"]
    node.inputs["Base Color"].default_value = (*color, 1.0)
    for key, value in inputs.items():
        node.inputs[key].default_value = value
    return m


def checkerImage():
    img = bpy.data.images.new("checker", 16, 16)
    cells = (np.add.outer(np.arange(16) // 4, np.arange(16) // 4) % 2).astype(bool)[..., None]
    px = np.where(cells, (0.9, 0.6, 0.1, 1.0), (0.1, 0.3, 0.8, 1.0)).astype(np.float32)
    img.pixels.foreach_set(px.ravel())
    return img


def addMesh(op, name, material, location, **kw):
    op(location=location, **kw)
    obj = bpy.context.active_object
    obj.name = name
    obj.data.materials.append(material)
    return obj


def buildScene(lights="point", dof=False):
    """The comparison scene: a floor plane, a textured cube, Suzanne with a
    subdivision modifier and smooth shading, a glass sphere, a collection
    instanced twice and a linked duplicate, lit by `lights` (point, sun,
    area), seen by a camera with or without depth of field."""
    sc = clearScene()
    add = bpy.ops.mesh
    grey = principled("floor", (0.8, 0.8, 0.8), Roughness=0.5, Specular=0.0)
    addMesh(add.primitive_plane_add, "Floor", grey, (0, 0, 0), size=6)
    tex = principled("textured", (1, 1, 1), Roughness=0.5, Specular=0.0)
    node = tex.node_tree.nodes.new("ShaderNodeTexImage")
    node.image = checkerImage()
    tex.node_tree.links.new(node.outputs["Color"], tex.node_tree.nodes["Principled BSDF"].inputs["Base Color"])
    addMesh(add.primitive_cube_add, "Cube", tex, (-1.2, 0.4, 0.5), size=1)
    red = principled("red", (0.7, 0.15, 0.1), Roughness=0.5, Specular=0.0)
    monkey = addMesh(add.primitive_monkey_add, "Suzanne", red, (0.6, 0.6, 0.7), size=1.0)
    monkey.rotation_euler = (0, 0, 0.5)
    monkey.modifiers.new("subdivision", "SUBSURF").levels = 1
    monkey.modifiers["subdivision"].render_levels = 2
    bpy.ops.object.shade_smooth()
    glass = principled("glass", (1, 1, 1), Roughness=0.0, IOR=1.45, Transmission=1.0)
    addMesh(add.primitive_uv_sphere_add, "Glass", glass, (-0.2, -1.0, 0.45), radius=0.45)
    bpy.ops.object.shade_smooth()
    # A collection of two small shapes, placed twice, and a linked duplicate.
    props = bpy.data.collections.new("props")
    green = principled("green", (0.2, 0.6, 0.2), Roughness=0.5, Specular=0.0)
    shapes = ((add.primitive_cube_add, (0, 0, 0.2), {"size": 0.4}),
              (add.primitive_cylinder_add, (0.5, 0, 0.2), {"radius": 0.2, "depth": 0.4, "vertices": 16}))
    for op, loc, kw in shapes:
        obj = addMesh(op, "prop", green, loc, **kw)
        sc.collection.objects.unlink(obj)
        props.objects.link(obj)
    for i, loc in enumerate(((1.4, -1.2, 0), (-2.2, -1.0, 0))):
        empty = bpy.data.objects.new("props%d" % i, None)
        empty.instance_type, empty.instance_collection = "COLLECTION", props
        empty.location = loc
        sc.collection.objects.link(empty)
    twin = bpy.data.objects["Cube"].copy()
    twin.name, twin.location = "CubeTwin", (2.0, 1.2, 0.5)
    sc.collection.objects.link(twin)
    settings, obj_location, rotation = LIGHTS[lights]
    light = bpy.data.objects.new(lights, bpy.data.lights.new(lights, lights.upper()))
    sc.collection.objects.link(light)
    for key, value in settings.items():
        setattr(light.data, key, value)
    light.location, light.rotation_euler = obj_location, rotation
    cam = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
    sc.collection.objects.link(cam)
    cam.location, cam.data.lens = (5.5, -6.0, 4.2), 40
    cam.rotation_euler = (-cam.location).normalized().to_track_quat("-Z", "Y").to_euler()
    dof_settings = cam.data.dof
    dof_settings.use_dof, dof_settings.focus_distance, dof_settings.aperture_fstop = dof, cam.location.length, 8.0
    sc.camera = cam
    return sc


# Light kind: (light settings, location, rotation).
LIGHTS = {
    "point": ({"energy": 600.0, "shadow_soft_size": 0.0}, (2.0, -2.5, 4.5), (0, 0, 0)),
    "sun": ({"energy": 3.0, "angle": 0.0}, (0, 0, 5), (0.6, 0.3, 0.4)),
    "spot": ({"energy": 900.0, "shadow_soft_size": 0.0, "spot_size": 1.2, "spot_blend": 0.15},
             (1.0, -2.0, 5.0), (0.35, 0.15, 0.0)),
    "area": ({"energy": 200.0, "size": 1.0}, (1.5, -1.5, 4.0), (0.3, 0.3, 0.0)),
}



def render(engine, path):
    """Renders the current scene with `engine`: an RGBA array, top row first."""
    sc = bpy.context.scene
    sc.render.engine, sc.render.filepath = engine, path
    bpy.ops.render.render(write_still=True)
    return readExr(path)


def readExr(path):
    if not os.path.isfile(path):
        raise AssertionError("no picture was written to %s" % path)
    img = bpy.data.images.load(path, check_existing=False)
    w, h = img.size
    px = np.empty(w * h * 4, dtype=np.float32)
    img.pixels.foreach_get(px)
    bpy.data.images.remove(img)
    return px.reshape(h, w, 4)[::-1]


def luminance(rgba):
    return rgba[..., 0] * 0.2126 + rgba[..., 1] * 0.7152 + rgba[..., 2] * 0.0722


def projected(sc, point):
    """Pixel (x, y from the top) of a world point."""
    from bpy_extras.object_utils import world_to_camera_view
    from mathutils import Vector

    v = world_to_camera_view(sc, sc.camera, Vector(point))
    return int(v.x * RES[0]), int((1.0 - v.y) * RES[1])


def saveSideBySide(rows, path):
    """Rows of (left, right) RGBA pictures as one PNG (sRGB, on grey)."""
    grid = np.concatenate([np.concatenate([a, np.ones((a.shape[0], 4, 4), np.float32), b], axis=1)
                           for a, b in rows], axis=0)
    a = grid[..., 3:4]
    rgb = grid[..., :3] + (1.0 - a) * 0.18  # premultiplied over mid grey
    img = bpy.data.images.new("side_by_side", grid.shape[1], grid.shape[0], alpha=False)
    img.colorspace_settings.name = "Linear"
    out = np.concatenate([rgb, np.ones_like(a)], axis=2)[::-1]
    img.pixels.foreach_set(out.astype(np.float32).ravel())
    img.filepath_raw, img.file_format = path, "PNG"
    img.save()


class checks_t(list):
    """The reasons of the checks that failed."""

    def expect(self, ok, reason):
        if not ok:
            self.append(reason)
            print("FAILED: " + reason)
        return ok


def main(body, title):
    """Runs body(checks); the exit status tells CTest whether all held."""
    checks = checks_t()
    try:
        body(checks)
    except Exception:
        traceback.print_exc()
        checks.append("the test script raised an exception")
    n = len(checks)
    print("%s: %s" % (title, "%d check(s) failed; pictures kept in %s" % (n, WORK) if n else "all checks passed"))
    if not n and not os.environ.get("VEXLAR_KEEP_EXPORT"):
        shutil.rmtree(WORK, ignore_errors=True)
    sys.stdout.flush()
    os._exit(1 if n else 0)

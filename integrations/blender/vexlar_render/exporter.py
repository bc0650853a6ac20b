# The evaluated dependency graph as a vexlar scene: a JSON-ready dict plus
# OBJ mesh files (no .mtl: shaders are named in the scene) written to a
# folder. Blender's coordinates are kept (z up, metres).
#
# Lights: Blender gives power in watts (point, spot, area) or irradiance in
# W/m^2 (sun). vexlar's diffuse shading of a surface of colour c is
# c * power * cos / d^2 with no 1/pi, while Blender's diffuse surface under
# a point light of P watts shows c * P * cos / (4 pi^2 d^2). Hence the
# factors in LIGHT_MAPPING below (docs/blender.md has the derivations).

import math
import os
import shutil

import bpy
from mathutils import Matrix, Vector

from . import materials

FOUR_PI_SQUARED = 4.0 * math.pi * math.pi
AREA_SAMPLES = 4  # an area light's samples per axis (4 x 4 per shaded point)


class exportError_t(Exception):
    """A scene vexlar cannot render, with a message for the user."""


def _vec(v):
    return [round(float(x), 7) for x in v]


def _color(c):
    return [round(float(x), 6) for x in tuple(c)[:3]]


def _matrixRows(m):
    return [round(float(m[r][c]), 9) for r in range(4) for c in range(4)]


# ---------------------------------------------------------------------------
# Lights. Each entry: Blender light type -> function (light, world matrix)
# returning [(name suffix, vexlar light dict)]. Extend here when the program
# gains light types (an area light, say).


def _pointLight(light, mw):
    return [("", {"type": "point", "from": _vec(mw.translation), "color": _color(light.color),
                  "power": light.energy / FOUR_PI_SQUARED, "shadows": bool(light.use_shadow)})]


def _spotLight(light, mw):
    axis = (mw.to_3x3() @ Vector((0.0, 0.0, -1.0))).normalized()
    pos = mw.translation
    half = min(light.spot_size / 2.0, math.pi / 2.0)
    # Blender fades over a share of the cosine range inside the rim, vexlar
    # over a share of the angle: the same inner edge in vexlar's terms.
    blend = min(max(light.spot_blend, 0.0), 1.0)
    inner = math.acos(min(math.cos(half) + (1.0 - math.cos(half)) * blend, 1.0))
    return [("", {"type": "spot", "from": _vec(pos), "to": _vec(pos + axis), "angle": math.degrees(half),
                  "blend": 1.0 - inner / half if half > 0.0 else 0.0, "color": _color(light.color),
                  "power": light.energy / FOUR_PI_SQUARED, "shadows": bool(light.use_shadow)})]


def _sunLight(light, mw):
    towards = (mw.to_3x3() @ Vector((0.0, 0.0, 1.0))).normalized()
    return [("", {"type": "sun", "direction": _vec(towards), "color": _color(light.color),
                  "power": light.energy / math.pi, "shadows": bool(light.use_shadow)})]


def _areaLight(light, mw):
    # Blender's area light of P watts and area A has radiance P / (4 A), so
    # it delivers P / (4 d^2) on its axis at distance d: P / (4 pi) in
    # vexlar's terms (the same 1/pi as for the point light). The edges are
    # ordered so that vexlar's area light shines towards Blender's -z.
    sx = light.size
    sy = light.size_y if light.shape in ("RECTANGLE", "ELLIPSE") else light.size
    rot = mw.to_3x3()
    corner = mw @ Vector((-0.5 * sx, -0.5 * sy, 0.0))
    return [("", {"type": "area", "shape": "disc" if light.shape in ("DISK", "ELLIPSE") else "rectangle",
                  "corner": _vec(corner), "edge_u": _vec(rot @ Vector((0.0, sy, 0.0))),
                  "edge_v": _vec(rot @ Vector((sx, 0.0, 0.0))), "samples": AREA_SAMPLES,
                  "color": _color(light.color), "power": light.energy / (4.0 * math.pi),
                  "shadows": bool(light.use_shadow)})]


LIGHT_MAPPING = {
    "POINT": _pointLight,
    "SPOT": _spotLight,
    "SUN": _sunLight,
    "AREA": _areaLight,
}


# ---------------------------------------------------------------------------
# Camera


def cameraSettings(scene, cam_obj):
    """The vexlar camera of a Blender camera object and render settings."""
    r = scene.render
    w = max(1, int(r.resolution_x * r.resolution_percentage / 100))
    h = max(1, int(r.resolution_y * r.resolution_percentage / 100))
    cam = cam_obj.data
    mw = cam_obj.matrix_world
    rot = mw.to_3x3().normalized()
    eye = mw.translation
    forward = (rot @ Vector((0.0, 0.0, -1.0))).normalized()
    upv = (rot @ Vector((0.0, 1.0, 0.0))).normalized()
    aspect = w / h  # vexlar's pixels are square
    fit = cam.sensor_fit
    if fit == "AUTO":
        fit = "HORIZONTAL" if aspect >= 1.0 else "VERTICAL"
    out = {"resolution": [w, h], "up": _vec(eye + upv)}
    right = forward.cross(upv)
    focus = _focusDistance(cam, eye, forward)
    # vexlar's pixel (x, y) is the sample at the image-plane position x, y
    # in pixels, Blender's at x + 0.5, y + 0.5: the view moves by half a
    # pixel right and down to line the two up.
    if cam.type == "ORTHO":
        # The view is |to - from| / focal wide; keep |to - from| = 1.
        width = cam.ortho_scale if fit == "HORIZONTAL" else cam.ortho_scale * aspect
        eye = eye + (right - upv) * (0.5 * width / w)
        out.update({"type": "orthographic", "from": _vec(eye), "to": _vec(eye + forward), "focal": 1.0 / width,
                    "up": _vec(eye + upv)})
        return out
    if cam.type != "PERSP":
        raise exportError_t("camera \"%s\": panoramic cameras are not supported by vexlar" % cam_obj.name)
    # Automatic fit spans the larger side with the sensor width.
    sensor = cam.sensor_height if cam.sensor_fit == "VERTICAL" else cam.sensor_width
    # The image plane one unit wide sits at lens / (plane width in mm).
    plane_width = sensor if fit == "HORIZONTAL" else sensor * aspect
    half_pixel = 0.5 * plane_width / cam.lens / w  # at distance 1
    forward = (forward + (right - upv) * half_pixel).normalized()
    out.update({"type": "perspective", "from": _vec(eye), "to": _vec(eye + forward * focus),
                "focal": cam.lens / plane_width})
    if cam.dof.use_dof and cam.dof.aperture_fstop > 0.0:
        # Lens radius in metres from the f-number: (focal length / N) / 2.
        unit = scene.unit_settings.scale_length or 1.0
        out["aperture"] = 0.5 * cam.lens * 1e-3 / cam.dof.aperture_fstop / unit
        out["focus_distance"] = focus
    return out


def _focusDistance(cam, eye, forward):
    if cam.dof.focus_object is not None:
        d = (cam.dof.focus_object.matrix_world.translation - eye).dot(forward)
        if d > 1e-6:
            return d
    return max(cam.dof.focus_distance, 1e-3)


# ---------------------------------------------------------------------------
# Meshes


def _cornerNormals(mesh):
    """Per-corner normals as a flat list of Vector, for Blender 3.x and 4.x."""
    if hasattr(mesh, "corner_normals"):
        return [Vector(cn.vector) for cn in mesh.corner_normals]
    mesh.calc_normals_split()
    return [Vector(loop.normal) for loop in mesh.loops]


def meshParts(mesh):
    """The triangles of a mesh, one part per material slot that has any:
    {slot: (positions, uvs or None, triangles, smooth)}. Corners are shared
    where Blender's shading is smooth across them (same vertex, normal and
    uv), so vexlar's smoothing over shared corners reproduces flat faces,
    smooth faces, the auto-smooth angle and sharp edges."""
    mesh.calc_loop_triangles()
    normals = _cornerNormals(mesh)
    uv_layer = mesh.uv_layers.active
    uv_data = uv_layer.data if uv_layer is not None else None
    verts = mesh.vertices
    parts = {}
    for tri in mesh.loop_triangles:
        part = parts.get(tri.material_index)
        if part is None:
            part = parts[tri.material_index] = ([], [] if uv_data is not None else None, [], {}, [False])
        positions, uvs, faces, index, smooth = part
        if tri.use_smooth:
            smooth[0] = True
        corner = []
        for loop, vert in zip(tri.loops, tri.vertices):
            nrm = normals[loop] if tri.use_smooth else tri.normal
            key = (vert, round(nrm.x, 4), round(nrm.y, 4), round(nrm.z, 4))
            if uv_data is not None:
                u, v = uv_data[loop].uv
                key += (round(u, 6), round(v, 6))
            k = index.get(key)
            if k is None:
                k = index[key] = len(positions)
                positions.append(verts[vert].co.copy())
                if uvs is not None:
                    uvs.append((u, 1.0 - v))  # vexlar's texture y runs down from the top
            corner.append(k)
        faces.append(corner)
    return {slot: (p[0], p[1], p[2], p[4][0]) for slot, p in parts.items()}


def writeObj(path, positions, uvs, faces):
    """Positions, texture coordinates and triangles as Wavefront OBJ."""
    with open(path, "w", encoding="utf-8") as f:
        f.write("# written by the vexlar Blender add-on\n")
        f.write("".join("v %.7g %.7g %.7g\n" % (p.x, p.y, p.z) for p in positions))
        if uvs is not None:
            f.write("".join("vt %.7g %.7g\n" % uv for uv in uvs))
            f.write("".join("f %d/%d %d/%d %d/%d\n" % (a + 1, a + 1, b + 1, b + 1, c + 1, c + 1)
                            for a, b, c in faces))
        else:
            f.write("".join("f %d %d %d\n" % (a + 1, b + 1, c + 1) for a, b, c in faces))


# ---------------------------------------------------------------------------
# The scene


def _safeName(name):
    keep = "".join(ch if ch.isalnum() or ch in "-_." else "_" for ch in name)
    return keep or "unnamed"


class sceneExporter_t:
    """Collects one frame of an evaluated depsgraph into `self.scene`,
    writing meshes (and pictures Blender holds only in memory) to `folder`.
    `warnings` collects one message per problem (per material, per object)."""

    def __init__(self, depsgraph, folder, mesh_prefix="meshes", portable=False):
        self.depsgraph = depsgraph
        self.portable = portable  # pictures copied beside the meshes, named relative
        self.scene_data = depsgraph.scene_eval
        self.folder = folder
        self.mesh_prefix = mesh_prefix
        self.warnings = []
        self.shaders = {}      # material name -> shader name
        self.prototypes = {}   # data key -> [(object name, world matrix)]
        self.names = set()
        self.scene = {"camera": {}, "render": {}, "lights": {}, "textures": {}, "shaders": {}, "objects": {}}

    def unique(self, name):
        base, n = _safeName(name), 1
        out = base
        while out in self.names:
            n += 1
            out = "%s.%d" % (base, n)
        self.names.add(out)
        return out

    def run(self):
        scene = self.scene_data
        if scene.camera is None:
            raise exportError_t("the scene has no camera (add one and make it active)")
        self.scene["camera"] = cameraSettings(scene, scene.camera.evaluated_get(self.depsgraph))
        self.scene["render"] = renderSettings(scene)
        self.world(scene)
        os.makedirs(os.path.join(self.folder, self.mesh_prefix), exist_ok=True)
        for inst in self.depsgraph.object_instances:
            obj = inst.object
            if obj.type == "LIGHT":
                self.light(obj, inst.matrix_world.copy())
            elif obj.type in ("MESH", "CURVE", "SURFACE", "META", "FONT"):
                self.geometry(inst, obj)
        if not self.scene["objects"]:
            self.warnings.append("the scene has no visible geometry")
        for key in ("lights", "textures", "shaders", "objects"):
            if not self.scene[key]:
                del self.scene[key]
        return self.scene

    def world(self, scene):
        world = scene.world
        if world is None or scene.render.film_transparent:
            return
        color, strength, env = tuple(world.color), 1.0, None
        if world.use_nodes and world.node_tree is not None:
            out = [n for n in world.node_tree.nodes if n.type == "OUTPUT_WORLD"]
            surf = out[0].inputs.get("Surface") if out else None
            node = surf.links[0].from_node if surf is not None and surf.is_linked else None
            if node is not None and node.type == "BACKGROUND":
                color = tuple(node.inputs["Color"].default_value)
                strength = node.inputs["Strength"].default_value
                if node.inputs["Color"].is_linked:
                    src = node.inputs["Color"].links[0].from_node
                    if src.type == "TEX_ENVIRONMENT" and src.image is not None:
                        env = src
            elif node is not None:
                self.warnings.append("world \"%s\": %s is not a Background; rendered black" %
                                     (world.name, node.bl_label))
                return
        if env is not None:
            self.scene["background"] = {
                "type": "image", "filename": self.imageFile(env.image), "up": [0.0, 0.0, 1.0],
                "mapping": "mirrorball" if env.projection == "MIRROR_BALL" else "latlong",
                "power": float(strength), "encoding": "linear" if _isData(env.image) else "srgb"}
        else:
            self.scene["background"] = {"type": "constant", "color": _color([c * strength for c in color[:3]])}

    def light(self, obj, mw):
        build = LIGHT_MAPPING.get(obj.data.type)
        if build is None:
            self.warnings.append("light \"%s\": type %s is not supported; left out" % (obj.name, obj.data.type))
            return
        base = self.unique(obj.name)
        for suffix, entry in build(obj.data, mw):
            self.scene["lights"][base + suffix] = entry

    def geometry(self, inst, obj):
        mw = inst.matrix_world.copy()
        if abs(mw.determinant()) < 1e-12:
            return
        original = obj.original
        # Objects without modifiers that share a mesh (and every instance of
        # an object through a collection) share one vexlar mesh.
        if original.type == "MESH" and not any(m.show_render for m in original.modifiers):
            key = ("data", original.data.name)
        else:
            key = ("object", original.name)
        parts = self.prototypes.get(key)
        if parts is None:
            parts = self.prototypes[key] = self.writeMesh(obj, mw)
            return
        for name, first_mw in parts:
            rel = mw @ first_mw.inverted()
            self.scene["objects"][self.unique(name + "_inst")] = {
                "type": "instance", "of": name, "transform": {"matrix": _matrixRows(rel)}}

    def writeMesh(self, obj, mw):
        try:
            mesh = obj.to_mesh()
        except RuntimeError:
            return []
        if mesh is None:
            return []
        try:
            parts = meshParts(mesh)
            slots = [s.material for s in obj.material_slots]
            out = []
            for slot, (positions, uvs, faces, smooth) in sorted(parts.items()):
                mat = slots[slot] if slot < len(slots) else None
                name = self.unique(obj.name if len(parts) == 1 else "%s.%d" % (obj.name, slot))
                rel = "%s/%s.obj" % (self.mesh_prefix, name)
                writeObj(os.path.join(self.folder, rel), positions, uvs, faces)
                entry = {"type": "mesh", "file": rel, "shader": self.shader(mat, uvs is not None),
                         "transform": {"matrix": _matrixRows(mw)}}
                if smooth:
                    entry["auto_smooth"] = 180.0
                self.scene["objects"][name] = entry
                out.append((name, mw))
            return out
        finally:
            obj.to_mesh_clear()

    def shader(self, material, has_uv):
        key = material.name if material is not None else None
        if key in self.shaders:
            return self.shaders[key]
        p, warning = materials.readMaterial(material)
        if warning:
            self.warnings.append(warning)
        name = self.unique(key or "default")
        tex = None
        if p.image is not None:
            if has_uv:
                tex = self.unique(name + "_image")
                self.scene["textures"][tex] = materials.imageTexture(self.imageFile(p.image), p)
            else:
                self.warnings.append("material \"%s\": its image needs UV coordinates; left out" % key)
        self.scene["shaders"][name] = materials.shaderFor(p, tex)
        self.shaders[key] = name
        return name

    def imageFile(self, image):
        """The path of a picture on disk (absolute, or relative to the folder
        when portable); pictures Blender holds only in memory (packed,
        generated) are saved into the folder."""
        path = bpy.path.abspath(image.filepath, library=image.library) if image.filepath else ""
        if path and os.path.isfile(path) and not image.packed_file:
            if not self.portable:
                return os.path.abspath(path)
            rel = "%s/%s" % (self.mesh_prefix, _safeName(os.path.basename(path)))
            shutil.copyfile(path, os.path.join(self.folder, rel))
            return rel
        rel = "%s/%s.png" % (self.mesh_prefix, _safeName(image.name))
        target = os.path.join(self.folder, rel)
        w, h = image.size
        if w == 0 or h == 0:
            raise exportError_t("image \"%s\" has no pixels (its file is missing?)" % image.name)
        # A copy of the ID would regenerate a generated picture; its pixels
        # go into a new image instead.
        pixels = [0.0] * (w * h * 4)
        image.pixels.foreach_get(pixels)
        copy = bpy.data.images.new("vexlar_export", w, h, alpha=True)
        try:
            copy.colorspace_settings.name = image.colorspace_settings.name
            copy.pixels.foreach_set(pixels)
            copy.filepath_raw = target
            copy.file_format = "PNG"
            copy.save()
        finally:
            bpy.data.images.remove(copy)
        return rel if self.portable else os.path.abspath(target)


def _isData(image):
    return image.colorspace_settings.name in ("Non-Color", "Raw", "Linear", "Linear Rec.709")


def renderSettings(scene):
    """Samples and light bounces; Cycles' settings when it is present,
    else Eevee's samples."""
    out = {}
    cycles = getattr(scene, "cycles", None)
    samples = cycles.samples if cycles is not None else scene.eevee.taa_render_samples
    n = min(max(int(samples), 1), 64)
    if n > 1:
        per_pass = min(n, 16)
        out["antialiasing"] = {"passes": int(math.ceil(n / per_pass)), "samples": per_pass}
    if cycles is not None:
        specular = max(cycles.glossy_bounces, cycles.transmission_bounces)
        out["ray_depth"] = int(min(max(min(cycles.max_bounces, specular), 0), 16) + 1)
        if cycles.max_bounces > 0 and cycles.diffuse_bounces > 0:
            out["indirect"] = {"enabled": True}
    return out

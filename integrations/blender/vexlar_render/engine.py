# The render engine: exports the frame to a temporary folder, runs vexlar
# on it and loads the picture into Blender's render result.

import json
import os
import shutil
import tempfile

import bpy

from . import exporter, preferences, runner

# Messages of the last render, for scripts and tests (the interface shows
# them as reports).
last_messages = []


def writeScene(depsgraph, folder, scene_name="scene.json", output=None, mesh_prefix="meshes", portable=False):
    """Exports the frame into `folder`; returns (scene path, scene dict,
    warnings). `output` becomes the scene's output file."""
    ex = exporter.sceneExporter_t(depsgraph, folder, mesh_prefix, portable)
    scene = ex.run()
    if output is not None:
        scene["output"] = {"file": output, "alpha": True}
    path = os.path.join(folder, scene_name)
    with open(path, "w", encoding="utf-8") as f:
        json.dump(scene, f, indent=1)
    return path, scene, ex.warnings


class vexlarEngine_t(bpy.types.RenderEngine):
    bl_idname = "VEXLAR"
    bl_label = "vexlar"
    bl_use_preview = False
    bl_use_postprocess = True

    def say(self, level, message):
        last_messages.append((level, message))
        self.report({level}, message)
        if level == "ERROR" and hasattr(self, "error_set"):
            self.error_set(message)

    def render(self, depsgraph):
        del last_messages[:]
        folder = tempfile.mkdtemp(prefix="vexlar-blender-")
        try:
            self.renderInto(depsgraph, folder)
        except exporter.exportError_t as e:
            self.say("ERROR", "vexlar: " + str(e))
        except OSError as e:
            self.say("ERROR", "vexlar: cannot write the scene: %s" % e)
        except Exception as e:  # anything unforeseen still reaches the user as one line
            self.say("ERROR", "vexlar: export failed: %s: %s" % (type(e).__name__, e))
        finally:
            if not os.environ.get("VEXLAR_KEEP_EXPORT"):
                shutil.rmtree(folder, ignore_errors=True)

    def renderInto(self, depsgraph, folder):
        program, why = preferences.findProgram()
        if program is None:
            self.say("ERROR", "vexlar: " + why)
            return
        self.update_stats("vexlar", "exporting the scene")
        image = os.path.join(folder, "render.exr")
        scene_path, scene, warnings = writeScene(depsgraph, folder)
        for w in warnings:
            self.say("WARNING", "vexlar: " + w)
        w, h = scene["camera"]["resolution"]
        command = [program, "--alpha", "-o", image, scene_path]
        if preferences.workers() > 0:
            command[1:1] = ["-j", str(preferences.workers())]
        self.update_stats("vexlar", "rendering")
        result = runner.run(command, w, h, on_progress=self.update_progress, cancelled=self.test_break)
        for msg in result.warnings:
            self.say("WARNING", msg)
        if result.cancelled:
            self.say("INFO", "vexlar: " + result.message)
            return
        if not result.ok:
            self.say("ERROR", "vexlar: " + result.message)
            return
        self.loadPicture(image, w, h)

    def loadPicture(self, path, w, h):
        # vexlar's EXR holds premultiplied colour, as Blender's render
        # result does: the pixels are copied as they are (loading the file
        # into the layer would premultiply them a second time).
        try:
            img = bpy.data.images.load(path, check_existing=False)
        except RuntimeError as e:
            self.say("ERROR", "vexlar: cannot read the rendered picture: %s" % e)
            return
        try:
            img.alpha_mode = "PREMUL"
            if tuple(img.size) != (w, h):
                self.say("ERROR", "vexlar: the picture is %d x %d, expected %d x %d" % (*img.size, w, h))
                return
            pixels = [0.0] * (w * h * 4)
            img.pixels.foreach_get(pixels)
        finally:
            bpy.data.images.remove(img)
        r = self.begin_result(0, 0, w, h)
        combined = r.layers[0].passes["Combined"]
        combined.rect = [pixels[i:i + 4] for i in range(0, len(pixels), 4)]
        self.end_result(r)


# Blender's own panels that apply to vexlar (dimensions, output, camera,
# lights, materials) are shown for it too.
_PANEL_PREFIXES = ("RENDER_PT_format", "RENDER_PT_frame", "RENDER_PT_output", "RENDER_PT_dimensions",
                   "DATA_PT_lens", "DATA_PT_camera", "DATA_PT_light", "DATA_PT_spot", "DATA_PT_area",
                   "DATA_PT_context", "MATERIAL_PT_", "WORLD_PT_", "VIEWLAYER_PT_", "OBJECT_PT_")
_patched = []


def registerPanels():
    for name in dir(bpy.types):
        if not name.startswith(_PANEL_PREFIXES):
            continue
        panel = getattr(bpy.types, name, None)
        engines = getattr(panel, "COMPAT_ENGINES", None)
        if isinstance(engines, set) and "VEXLAR" not in engines:
            engines.add("VEXLAR")
            _patched.append(panel)
    bpy.utils.register_class(vexlarSettingsPanel_t)


def unregisterPanels():
    bpy.utils.unregister_class(vexlarSettingsPanel_t)
    for panel in _patched:
        panel.COMPAT_ENGINES.discard("VEXLAR")
    del _patched[:]


class vexlarSettingsPanel_t(bpy.types.Panel):
    """The Cycles settings vexlar reads (samples as anti-aliasing, light
    bounces as indirect light and ray depth)."""

    bl_label = "vexlar"
    bl_idname = "RENDER_PT_vexlar"
    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    bl_context = "render"
    COMPAT_ENGINES = {"VEXLAR"}

    @classmethod
    def poll(cls, context):
        return context.engine in cls.COMPAT_ENGINES

    def draw(self, context):
        cycles = getattr(context.scene, "cycles", None)
        col = self.layout.column()
        if cycles is None:
            col.prop(context.scene.eevee, "taa_render_samples", text="Samples (anti-aliasing)")
            return
        col.prop(cycles, "samples", text="Samples (anti-aliasing)")
        col.prop(cycles, "max_bounces", text="Light bounces")
        col.prop(cycles, "diffuse_bounces", text="Diffuse (indirect light)")
        col.prop(cycles, "glossy_bounces", text="Glossy (ray depth)")
        col.prop(cycles, "transmission_bounces", text="Transmission (ray depth)")

# File > Export > vexlar scene: the frame as a JSON scene with its meshes
# (and pictures) in a folder beside it, for rendering outside Blender.

import contextlib
import os

import bpy
from bpy_extras.io_utils import ExportHelper

from . import engine, exporter


@contextlib.contextmanager
def renderLevels(scene):
    """The interface's dependency graph evaluated as for a render while the
    export runs: modifiers as enabled for rendering, subdivision at render
    levels, objects hidden from renders left out."""
    saved = []
    for obj in scene.objects:
        saved.append((obj, "hide_viewport", obj.hide_viewport))
        obj.hide_viewport = obj.hide_render
        for mod in obj.modifiers:
            saved.append((mod, "show_viewport", mod.show_viewport))
            mod.show_viewport = mod.show_render
            if hasattr(mod, "render_levels") and hasattr(mod, "levels"):
                saved.append((mod, "levels", mod.levels))
                mod.levels = mod.render_levels
    try:
        yield
    finally:
        for thing, attr, value in reversed(saved):
            setattr(thing, attr, value)


class vexlarExport_t(bpy.types.Operator, ExportHelper):
    """Write the scene as a vexlar scene file with OBJ meshes"""

    bl_idname = "export_scene.vexlar"
    bl_label = "Export vexlar scene"
    filename_ext = ".json"
    filter_glob: bpy.props.StringProperty(default="*.json", options={"HIDDEN"})

    def execute(self, context):
        path = self.filepath
        folder, name = os.path.split(os.path.abspath(path))
        stem = os.path.splitext(name)[0]
        try:
            with renderLevels(context.scene):
                depsgraph = context.evaluated_depsgraph_get()
                depsgraph.update()
                _, _, warnings = engine.writeScene(depsgraph, folder, name, output=stem + ".png",
                                                   mesh_prefix=stem + "_meshes", portable=True)
        except exporter.exportError_t as e:
            self.report({"ERROR"}, "vexlar export: %s" % e)
            return {"CANCELLED"}
        except OSError as e:
            self.report({"ERROR"}, "vexlar export: cannot write %s: %s" % (path, e))
            return {"CANCELLED"}
        for w in warnings:
            self.report({"WARNING"}, "vexlar export: " + w)
        self.report({"INFO"}, "vexlar scene written to %s" % path)
        return {"FINISHED"}

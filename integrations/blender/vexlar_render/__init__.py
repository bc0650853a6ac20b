# vexlar render engine for Blender: registers "vexlar" in the render
# properties (F12, or `blender -b file.blend -E VEXLAR -f 1`) and
# File > Export > vexlar scene. The scene is exported from the evaluated
# dependency graph to a JSON scene with OBJ meshes and rendered by the
# vexlar program, found through the add-on's preferences or PATH.

bl_info = {
    "name": "vexlar renderer",
    "author": "vexlar developers",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Render properties > Render Engine; File > Export > vexlar scene",
    "description": "Render with the vexlar ray tracer and export vexlar scenes",
    "category": "Render",
}

if "bpy" in locals():
    import importlib

    for _m in (exporter, materials, runner, engine, operators, preferences):  # noqa: F821
        importlib.reload(_m)
else:
    from . import exporter, materials, runner, engine, operators, preferences  # noqa: F401

import bpy

_classes = (preferences.vexlarPreferences_t, engine.vexlarEngine_t, operators.vexlarExport_t)


def _menuExport(self, context):
    self.layout.operator(operators.vexlarExport_t.bl_idname, text="vexlar scene (.json)")


def register():
    for c in _classes:
        bpy.utils.register_class(c)
    engine.registerPanels()
    bpy.types.TOPBAR_MT_file_export.append(_menuExport)


def unregister():
    bpy.types.TOPBAR_MT_file_export.remove(_menuExport)
    engine.unregisterPanels()
    for c in reversed(_classes):
        bpy.utils.unregister_class(c)

# The add-on's preferences: where the vexlar program lives.

import os
import shutil

import bpy

ADDON_NAME = __package__


class vexlarPreferences_t(bpy.types.AddonPreferences):
    bl_idname = ADDON_NAME

    program: bpy.props.StringProperty(
        name="vexlar program",
        description="Path of the vexlar program; empty: the first vexlar on PATH",
        subtype="FILE_PATH",
        default="",
    )
    workers: bpy.props.IntProperty(
        name="Worker processes",
        description="vexlar -j: worker processes, 0 for one per core",
        default=0,
        min=0,
        max=4096,
    )

    def draw(self, context):
        self.layout.prop(self, "program")
        self.layout.prop(self, "workers")
        found, why = findProgram(self.program)
        self.layout.label(text=("Using " + found) if found else why, icon="INFO" if found else "ERROR")


def settings():
    """The preferences, or None when the add-on was loaded without being
    enabled through Blender's preferences (tests load it from the folder)."""
    addon = bpy.context.preferences.addons.get(ADDON_NAME)
    return addon.preferences if addon else None


def findProgram(configured=None):
    """(path, "") of the vexlar program, or (None, reason). The order:
    the configured path, $VEXLAR_PROGRAM, then PATH."""
    if configured is None:
        prefs = settings()
        configured = prefs.program if prefs else ""
    candidate = bpy.path.abspath(configured) if configured else os.environ.get("VEXLAR_PROGRAM", "")
    if candidate:
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate, ""
        return None, ("the vexlar program \"%s\" does not exist or is not executable "
                      "(set it in Preferences > Add-ons > vexlar renderer)" % candidate)
    found = shutil.which("vexlar")
    if found:
        return found, ""
    return None, ("the vexlar program was not found on PATH "
                  "(set its path in Preferences > Add-ons > vexlar renderer)")


def workers():
    prefs = settings()
    return prefs.workers if prefs else 0

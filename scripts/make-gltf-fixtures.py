# Writes the glTF test files made by Blender's own glTF exporter:
#   blender -b --factory-startup --python scripts/make-gltf-fixtures.py -- tests/data/gltf
# The scene holds known values that tests/test_gltfimport.cpp checks:
#   "Box"    a cube of edge 2 at (1, 2, 3), red, metallic 0, roughness 0.5
#   "Twin"   a second object sharing the cube's mesh, at (-4, 0, 0), scaled 0.5
#   "Tiled"  a plane with a 2 x 2 picture on its base colour (embedded)
#   "Glass"  an ico sphere with transmission 1 and IOR 1.45
#   "Lamp"   point light of 1000 W at (0, 5, 0); "Sky" sun; "Cone" spot of 45 degrees
#   "Cam"    camera at (0, -10, 2) (Blender's z up) with 50 mm on a 36 mm sensor
import math
import os
import sys

import bpy

out = sys.argv[sys.argv.index("--") + 1] if "--" in sys.argv else "."
os.makedirs(out, exist_ok=True)
bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene


def material(name, colour, metallic=0.0, roughness=0.5):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    p = m.node_tree.nodes["Principled BSDF"]
    p.inputs["Base Color"].default_value = colour
    p.inputs["Metallic"].default_value = metallic
    p.inputs["Roughness"].default_value = roughness
    return m, p


bpy.ops.mesh.primitive_cube_add(size=2, location=(1, 2, 3))
box = bpy.context.object
box.name = "Box"
box.data.name = "BoxMesh"
box.data.materials.append(material("Red", (0.8, 0.1, 0.1, 1.0))[0])

twin = box.copy()  # shares box.data
twin.name = "Twin"
twin.location = (-4, 0, 0)
twin.scale = (0.5, 0.5, 0.5)
scene.collection.objects.link(twin)

bpy.ops.mesh.primitive_plane_add(size=4, location=(0, 0, -1))
plane = bpy.context.object
plane.name = "Tiled"
img = bpy.data.images.new("Checks", width=2, height=2)
img.pixels = [1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 1]
img.file_format = "PNG"
img.pack()
tm, tp = material("Checked", (1, 1, 1, 1))
tex = tm.node_tree.nodes.new("ShaderNodeTexImage")
tex.image = img
tm.node_tree.links.new(tex.outputs["Color"], tp.inputs["Base Color"])
plane.data.materials.append(tm)

bpy.ops.mesh.primitive_ico_sphere_add(subdivisions=1, radius=1, location=(3, 0, 0))
glass = bpy.context.object
glass.name = "Glass"
gm, gp = material("Glass", (1, 1, 1, 1), roughness=0.0)
gp.inputs["Transmission"].default_value = 1.0
gp.inputs["IOR"].default_value = 1.45
glass.data.materials.append(gm)

for name, kind, loc, energy in (("Lamp", "POINT", (0, 5, 0), 1000.0), ("Sky", "SUN", (0, 0, 10), 3.0),
                                ("Cone", "SPOT", (0, 0, 6), 500.0)):
    data = bpy.data.lights.new(name, kind)
    data.energy = energy
    if kind == "SPOT":
        data.spot_size = math.radians(90)
        data.spot_blend = 0.25
    obj = bpy.data.objects.new(name, data)
    obj.location = loc
    scene.collection.objects.link(obj)

cam = bpy.data.objects.new("Cam", bpy.data.cameras.new("Cam"))
cam.location = (0, -10, 2)
cam.rotation_euler = (math.radians(90), 0, 0)
cam.data.lens = 50
cam.data.sensor_width = 36
scene.collection.objects.link(cam)
scene.camera = cam
scene.render.resolution_x = 320
scene.render.resolution_y = 240

bpy.ops.export_scene.gltf(filepath=os.path.join(out, "blender-scene.glb"), export_format="GLB",
                          export_cameras=True, export_lights=True, export_apply=True)
bpy.ops.export_scene.gltf(filepath=os.path.join(out, "blender-scene.gltf"), export_format="GLTF_SEPARATE",
                          export_cameras=True, export_lights=True, export_apply=True)

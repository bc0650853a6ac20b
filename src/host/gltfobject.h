// The scene format's "gltf" object: a glTF file placed in the scene, its
// meshes, materials, lights and (when asked) camera becoming the scene's own.
//
//   "model": {"type": "gltf", "file": "model.glb", "transform": ...,
//             "camera": false | true | "auto" | "Name",
//             "lights": true | false | "auto",
//             "shader": "name", "auto_smooth": 30}
//
// "camera": true takes the file's first camera (an error when it has none),
// a name takes the camera of that name, "auto" the first camera or, when
// there is none, one that frames the model; false (the default) keeps the
// scene's camera. "lights": true (the default) adds the file's lights,
// "auto" adds them or, when there are none, a light at the camera. "shader"
// overrides the materials of every mesh of the file. Plug-ins the file
// makes are named "<object>/<name>" (textures, shaders, lights), meshes
// "<object>/<node>"; a mesh used by several nodes is built once and placed
// again as instances.
#ifndef VEXLAR_HOST_GLTFOBJECT_H
#define VEXLAR_HOST_GLTFOBJECT_H

#include <string>

#include "host/gltfimport.h"
#include "host/jsonread.h"
#include "host/sceneloader.h"
#include "host/scenetarget.h"

namespace vexlar {
namespace host {

/// Reads the gltf object `r` named `name` of the scene from `source`, fills
/// `target`. Faults and warnings go to `diag` at the object's place.
void readGltfObject(sectionReader_t& r, const std::string& name, const sceneSource_t& source,
                    sceneTarget_t& target, diagnostics_t& diag);

/// The scene description that shows a glTF file on its own (`vexlar
/// model.glb`): the file's camera or one framing it, its lights or one at
/// the camera.
std::string gltfStandaloneScene(const std::string& fileName);

/// Whether `path` names a glTF file by its extension (.gltf or .glb).
bool isGltfFile(const std::string& path);

} // namespace host
} // namespace vexlar

#endif

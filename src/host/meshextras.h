// What a mesh file can carry beyond positions, faces and texture
// coordinates: corner normals, texture coordinates on only some faces and a
// material per face. Both the OBJ reader (with its .mtl materials) and the
// glTF importer build their meshes through buildMeshWith.
#ifndef VEXLAR_HOST_MESHEXTRAS_H
#define VEXLAR_HOST_MESHEXTRAS_H

#include <vector>

#include "host/meshload.h"
#include "vexlarcore/shader.h"

namespace vexlar {
namespace host {

/// Per-face data beside meshData_t. Every list is empty or has one entry
/// (three for normals) per face of the mesh it goes with.
struct meshExtras_t {
    /// Object-space normals of the three corners of each face, in winding
    /// order. A face whose three normals are all zero is shaded flat.
    std::vector<vector3d_t> cornerNormals;
    /// Whether a face has texture coordinates. When given, meshData_t's
    /// `faceUV` holds 6 values for every face, and those of faces marked 0
    /// are not read.
    std::vector<unsigned char> faceHasUV;
    /// Index of each face's shader in the list given to buildMeshWith; -1
    /// for the mesh's own shader.
    std::vector<int> faceShader;

    /// Whether any of the above is given.
    bool any() const { return !cornerNormals.empty() || !faceHasUV.empty() || !faceShader.empty(); }
};

/// A library mesh of `data` and `extras` placed by `placement` (checked by
/// the caller; the vertex normals move with it). `smoothAngle` >= 0 smooths
/// with autoSmooth when the mesh has no corner normals of its own (normals
/// from the file win). A face's shader is `shaders[faceShader[f]]` (not
/// owned). The caller owns the result; `data` and `extras` are left empty.
meshObject_t* buildMeshWith(meshData_t&& data, meshExtras_t&& extras, const matrix4x4_t& placement,
                            float smoothAngle, const std::vector<const shader_t*>& shaders);

} // namespace host
} // namespace vexlar

#endif

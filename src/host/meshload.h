// Triangle meshes of a scene description: Wavefront OBJ text (through
// tinyobjloader) or inline lists, turned into library mesh objects.
#ifndef VEXLAR_HOST_MESHLOAD_H
#define VEXLAR_HOST_MESHLOAD_H

#include <array>
#include <string>
#include <vector>

#include "host/jsonread.h"
#include "vexlarcore/matrix4.h"
#include "vexlarcore/mesh.h"

namespace vexlar {
namespace host {

/// Positions and triangles of a mesh, before it becomes a library object.
struct meshData_t {
    std::vector<point3d_t> vertices;
    /// Vertex indices (0-based) of each triangle, in winding order.
    std::vector<std::array<int, 3>> faces;
    /// Empty, or 6 floats per face: u, v of its three corners.
    std::vector<float> faceUV;
};

/// Reads OBJ text: "v" positions, faces (polygons are split into
/// triangles), texture coordinates when every face corner has one. Vertex
/// normals and materials are ignored. False with a one-line reason
/// ("line 12: ...") when the text cannot be read or holds no face.
bool parseObj(const std::string& text, meshData_t& out, std::string& error);

/// Reads an inline mesh: "vertices" [[x, y, z], ...], "faces" [[i, j, k],
/// ...] with 0-based indices (a face of more than 3 indices is split into a
/// fan of triangles) and optional "uv" [[u, v], ...], one per vertex.
meshData_t readInlineMesh(sectionReader_t& reader);

/// A library mesh of `data`, placed by `placement` (checked by the caller)
/// and, when `smoothAngle` >= 0, smoothed with autoSmooth(smoothAngle).
/// The caller owns the result.
meshObject_t* buildMesh(const meshData_t& data, const matrix4x4_t& placement, float smoothAngle);

} // namespace host
} // namespace vexlar

#endif

// Triangle meshes of a scene description: Wavefront OBJ text (through
// tinyobjloader) or inline lists, turned into library mesh objects.
#ifndef VEXLAR_HOST_MESHLOAD_H
#define VEXLAR_HOST_MESHLOAD_H

#include <array>
#include <iosfwd>
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

/// The same from a stream, read line by line: a file of triangles is never
/// held in memory as text or as an intermediate list, only as `out`. A file
/// with polygons of more than three corners is read a second time as a
/// whole (from `wholeText` when given, else from the start of `in`) so that
/// they are split exactly as parseObj splits them.
bool parseObjStream(std::istream& in, meshData_t& out, std::string& error,
                    const std::string* wholeText = nullptr);

/// Reads an inline mesh: "vertices" [[x, y, z], ...], "faces" [[i, j, k],
/// ...] with 0-based indices (a face of more than 3 indices is split into a
/// fan of triangles) and optional "uv" [[u, v], ...], one per vertex.
meshData_t readInlineMesh(sectionReader_t& reader);

/// How buildMesh makes the library mesh.
struct meshBuild_t {
    /// No partition tree: another accelerator finds the mesh's hits.
    bool noTree = false;
    /// A tree for these triangles in this placement (from the mesh cache),
    /// taken instead of building one when it checks out; see meshObject_t.
    meshTree_t* prebuilt = nullptr;
};

/// A library mesh of `data`, placed by `placement` (checked by the caller)
/// and, when `smoothAngle` >= 0, smoothed with autoSmooth(smoothAngle).
/// The caller owns the result. The mesh keeps only the compact form of its
/// tree (`tree` stays null).
meshObject_t* buildMesh(const meshData_t& data, const matrix4x4_t& placement, float smoothAngle);
/// The same, taking the arrays of `data` over (no copy at any time; `data`
/// is left empty).
meshObject_t* buildMesh(meshData_t&& data, const matrix4x4_t& placement, float smoothAngle,
                        const meshBuild_t& how);

} // namespace host
} // namespace vexlar

#endif

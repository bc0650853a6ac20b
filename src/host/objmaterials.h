// What an OBJ file says beyond the positions, faces and texture coordinates
// that meshload.h reads: vertex normals ("vn" and the third index of a face
// corner), texture coordinates on only some faces, materials from .mtl
// files ("mtllib", "usemtl"), and every statement that is left out, so that
// none is dropped silently.
//
// Materials become "generic" shaders (named "<object>/<material>"):
//   Kd -> color, Ks -> specular_color, Ns -> hard (1 to 10000), Ni -> ior,
//   Ke -> emit_color, d (or Tr = 1 - d) -> transmit_color 1 - d,
//   illum 0 -> a "constant" shader of Kd, 1 -> no highlights, 3 and 8 ->
//   mirror_color Ks, 4, 6, 7 and 9 -> refraction with Ni (otherwise a
//   see-through material passes rays on undeflected), 5 and 7 -> Fresnel,
//   map_Kd -> an image texture multiplied on the colour (uv coordinates),
//   map_Bump / bump -> the same picture as a bump layer (strength -bm).
// OBJ's texture coordinates run upwards from the bottom of a picture, the
// image texture's from its top: meshes that use their .mtl materials get
// v -> 1 - v. Faces before the first "usemtl", or naming a material no
// .mtl defines, take a grey default.
#ifndef VEXLAR_HOST_OBJMATERIALS_H
#define VEXLAR_HOST_OBJMATERIALS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "host/jsonread.h"
#include "host/meshcache.h"
#include "host/meshextras.h"
#include "host/meshload.h"
#include "host/scenetarget.h"

namespace vexlar {
namespace host {

/// One face statement: its corners, resolved to 0-based indices (-1 none).
struct objPolygon_t {
    std::size_t firstCorner = 0;
    std::size_t corners = 0;
    /// Index in objDetails_t::materials; -1 before any "usemtl".
    int material = -1;
};

/// The statements of an OBJ file that meshload.h leaves aside.
struct objDetails_t {
    std::vector<vector3d_t> normals;
    std::vector<float> texcoords; // u, v per "vt"
    /// Per face corner: vertex, texture coordinate and normal indices.
    std::vector<std::array<int, 3>> corners;
    std::vector<objPolygon_t> polygons;
    /// Names given to "usemtl", in order of first use.
    std::vector<std::string> materials;
    /// Files named by "mtllib", as written.
    std::vector<std::string> libraries;
    bool anyNormal = false;
    bool anyUV = false;
    bool allUV = true;
    /// One line each ("line 7: ..."), every kind of statement once.
    std::vector<std::string> warnings;

    /// Line of the first "s" statement that turns smoothing on (0: none).
    std::size_t smoothLine = 0;

    /// Whether the mesh needs more than meshload.h gives it (its materials
    /// only when `materialsWanted`).
    bool matters(bool materialsWanted) const {
        return anyNormal || (anyUV && !allUV) || (materialsWanted && !materials.empty());
    }
};

/// Reads the statements of OBJ text (of `in` from where it stands to its
/// end, in large blocks). Never fails on content meshload.h accepts;
/// indices it cannot resolve become -1. Without `details` only what
/// decides whether the details matter is kept: `normals`, `texcoords`,
/// `corners` and `polygons` stay empty, every other member is as with them.
void scanObj(std::istream& in, objDetails_t& out, bool details = true);
/// The same for the `size` characters at `text`.
void scanObj(const char* text, std::size_t size, objDetails_t& out, bool details = true);

/// Fills `extras` (and, for mixed texture coordinates, `data.faceUV`) for
/// the triangles `data` holds, which parseObj made from the same text.
/// `shaderOf` maps a material index to a shader index (-1: the mesh's own),
/// its last entry serving faces without a material;
/// `flipV` turns v into 1 - v. False, with the reason, when the triangles do
/// not match the file's faces (`extras` is then left empty).
bool applyObjDetails(const objDetails_t& d, const std::vector<int>& shaderOf, bool flipV, meshData_t& data,
                     meshExtras_t& extras, std::string& why);

/// The values of one .mtl material this renderer uses.
struct mtlValues_t {
    float kd[3] = {0.8f, 0.8f, 0.8f};
    float ks[3] = {0, 0, 0};
    float ke[3] = {0, 0, 0};
    float ns = 50;
    float ni = 1.5f;
    float d = 1;
    int illum = 2;
    std::string mapKd;
    std::string mapBump;
    float bumpScale = 1;
};

/// The shader description of one material (see above), adding the
/// descriptions of the textures it uses, named `textureName` + "/color" and
/// + "/bump", to `textures`; picture names resolve against `folder`.
json mtlShader(const mtlValues_t& m, const std::string& textureName, const std::string& folder,
               std::vector<std::pair<std::string, json>>& textures);

/// The whole of a mesh object's OBJ file with its materials: reads the
/// details of the file `path` (or of `memoryText` when given), and when
/// they matter builds the mesh
/// (object `name`, placed by `placement`, smoothed by `smooth`; `shader`
/// overrides every material), reading .mtl files relative to `folder`.
/// Null when the file needs nothing beyond meshload.h (the caller builds it,
/// possibly from its cache). Warnings and faults go to `diag` at `at`.
/// `usedMaterials` tells whether the faces took shaders from .mtl files.
/// When it returns null having read the file, `notes` (if given) receive
/// what it reported, for the mesh cache.
meshObject_t* objMeshWithDetails(const std::string& path, const std::string* memoryText,
                                 const std::string& name, const matrix4x4_t& placement, float smooth,
                                 const shader_t* shader, sceneTarget_t& target, const jsonPath_t& at,
                                 diagnostics_t& diag, bool& usedMaterials, meshFileNotes_t* notes = nullptr);

/// Reports the warnings of `notes` about the mesh file `path` to `diag` at
/// `at`, as objMeshWithDetails does on reading it; smoothing groups are
/// said to be ignored unless `smooth` asks for automatic smoothing.
void reportMeshFileNotes(const std::string& path, const meshFileNotes_t& notes, float smooth,
                         const jsonPath_t& at, diagnostics_t& diag);

} // namespace host
} // namespace vexlar

#endif

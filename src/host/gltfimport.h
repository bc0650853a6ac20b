// glTF 2.0 files (.gltf text with its buffers, or binary .glb) read through
// tinygltf and turned into what a scene is made of: meshes in object space
// with the nodes that place them, shader, texture and light descriptions in
// the scene format's own terms, and cameras.
//
// What is read:
//  - the default scene (or the first) and its node tree: a node's matrix, or
//    its translation, rotation and scale, composed down the tree;
//  - triangle primitives (indexed or not) with positions, normals and the
//    first texture coordinates; the primitives of a mesh make one mesh, each
//    primitive with its material's shader;
//  - a mesh used by several nodes is built once and placed again as
//    instances;
//  - metallic-roughness materials, mapped by mapPbrMaterial (pbrmapping.h),
//    with KHR_materials_transmission, KHR_materials_ior and
//    KHR_materials_emissive_strength;
//  - KHR_lights_punctual point, spot and directional lights;
//  - perspective and orthographic cameras.
// Anything else in the file (other primitive modes, skins, morph targets,
// animations, texture transforms, per-texel alpha) is left out with one
// warning per kind.
//
// Light units: glTF gives candela (point, spot) and lux (directional),
// photometric units, which become radiometric ones at 683 lm/W (Blender's
// exporter writes a point light of P watts as 683 P / (4 pi) cd, a sun of S
// W/m^2 as 683 S lux). A white diffuse surface facing a light of I W/sr at
// distance d sends I / (pi d^2) towards the eye; the point and spot lights
// of this renderer give that with power I / pi, the sun with power S / pi.
// So power = intensity / (683 pi): a Blender scene renders as bright as in
// Cycles. (Files that treat 1 cd as "white at 1 m" come out dark: raise the
// output exposure.)
//
// Errors and warnings name the place in the file in glTF's own terms:
// "nodes[3].mesh", "accessors[7]: reads past the end of its buffer view".
#ifndef VEXLAR_HOST_GLTFIMPORT_H
#define VEXLAR_HOST_GLTFIMPORT_H

#include <string>
#include <utility>
#include <vector>

#include "host/jsonread.h"
#include "host/meshextras.h"
#include "host/meshload.h"
#include "vexlarcore/matrix4.h"

namespace vexlar {
namespace host {

/// One glTF mesh, all its triangle primitives together, in object space.
struct gltfMesh_t {
    std::string name;
    meshData_t data;
    /// Corner normals, uv flags; `faceShader` indexes `shaderNames`.
    meshExtras_t extras;
    /// Names (in gltfScene_t::shaders) of the shaders its faces use.
    std::vector<std::string> shaderNames;
};

/// A node that shows a mesh.
struct gltfPlacement_t {
    std::size_t mesh = 0;
    /// Object-to-world matrix (checked: usable as a placement).
    matrix4x4_t world;
    /// The node's name, or "node<index>".
    std::string node;
};

/// A camera node, in world space.
struct gltfCamera_t {
    std::string name;
    point3d_t from;
    /// One unit along the view direction, and the tip of the up direction.
    point3d_t to;
    point3d_t up;
    bool orthographic = false;
    /// Perspective: vertical field of view in radians; orthographic: half
    /// the height of the view.
    float yfov = 0.8f;
    float ymag = 1;
    /// Width / height, 0 when the file leaves it open.
    float aspect = 0;
};

/// A picture held inside the file (a .glb buffer or a data URI), which the
/// caller writes to a file before the texture `texture` reads it.
struct gltfEmbeddedImage_t {
    std::string texture;
    /// ".png" or ".jpg".
    std::string extension;
    std::vector<unsigned char> bytes;
};

struct gltfScene_t {
    /// Plug-in descriptions by name, in the scene format ({"type": ...}).
    std::vector<std::pair<std::string, json>> textures;
    std::vector<std::pair<std::string, json>> shaders;
    std::vector<std::pair<std::string, json>> lights;
    std::vector<gltfEmbeddedImage_t> images;
    std::vector<gltfMesh_t> meshes;
    std::vector<gltfPlacement_t> placements;
    /// In node order.
    std::vector<gltfCamera_t> cameras;
    /// One line each, "nodes[2]: ..." without the file name.
    std::vector<std::string> warnings;
};

/// How to name what is made: every plug-in name starts with `prefix`, and
/// the lights are placed by `placement` too.
struct gltfImportOptions_t {
    std::string prefix;
    matrix4x4_t placement;
    /// Folder of the file, against which its relative URIs resolve.
    std::string baseDir;
};

/// Reads a glTF file from `bytes` (text or binary, told apart by the
/// "glTF" magic of .glb). False with a one-line located reason.
bool importGltf(const std::string& bytes, const gltfImportOptions_t& options, gltfScene_t& out,
                std::string& error);

} // namespace host
} // namespace vexlar

#endif

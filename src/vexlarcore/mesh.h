// Triangle meshes: the mesh object with its own copies of the host's arrays,
// its triangle partition tree, placement by a matrix and automatic smoothing.
#ifndef VEXLARCORE_MESH_H
#define VEXLARCORE_MESH_H

#include "vexlarcore/bound.h"
#include "vexlarcore/bsptree.h"
#include "vexlarcore/matrix4.h"
#include "vexlarcore/meshtree.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/triangle.h"
#include "vexlarcore/vector3d.h"

#include <cstdint>
#include <vector>

namespace vexlar {

/// Number of rays shot at meshes (statistics only, never reset, updated
/// without synchronisation).
extern std::uint32_t rays;
/// Number of triangle references the mesh walks met (statistics only).
extern std::uint32_t hitted;

/// The arrays a mesh is made of, handed over whole (see the moving
/// constructor): the triangles' pointers point into these very vectors.
struct meshArrays_t {
    std::vector<point3d_t> points;
    std::vector<vector3d_t> normals;
    std::vector<triangle_t> triangles;
    std::vector<float> uvValues;
    std::vector<float> colorValues;
};

/// How the moving constructor builds a mesh.
struct meshOptions_t {
    /// Every position in `points` is followed by its orco point.
    bool hasOrco = false;
    /// Also keep the node form of the tree in `tree` (the copying
    /// constructors always do). Without it `tree` stays null and the mesh
    /// walks its compact tree only, which takes about a fifth of the memory.
    bool nodeTree = false;
    /// Build no tree at all, for a mesh whose rays the host finds by other
    /// means: `shoot` then reports nothing until `rebuildTree` is called.
    bool noTree = false;
};

/// A triangle mesh.
///
/// The mesh owns copies of the arrays it is built from, its triangles
/// (whose pointer fields point into those copies) and its partition tree.
/// Between `transform` calls the geometry is stored in world space; `back`
/// remembers how to return it to object space, so a second `transform`
/// replaces the placement instead of composing with it.
///
/// Input contract of the constructors: every triangle's `pa`, `pb`, `pc`
/// point into `ver`; a non-null `na`, `nb`, `nc` points into `nor`; a
/// triangle's `uv` points into `fuv` or at its end, its `vcol` into `fcol`
/// or at its end. Vertex normals of a mesh built without `nor` are dropped
/// (they would point into the caller's memory), and a triangle whose `uv`
/// or `vcol` does not have its 6 or 9 values in the copied arrays loses its
/// `hasUV` or `hasVertexColor` flag instead of reading past them. An empty
/// `ver` or `ts` prints "Error null mesh" on standard output; such a mesh
/// keeps no triangles and never reports a hit.
///
/// `hasOrco` says that every position in `points` is followed by its orco
/// point. Pass it to the constructor (the placing constructor transforms at
/// once and must know the layout) or set it with `setHasOrco` before
/// `transform` and rendering.
///
/// The partition tree comes in two forms: the compact tree (meshtree.h),
/// which `shoot` walks, and the node form in `tree`, the classic
/// representation for hosts that inspect or replace it. The copying
/// constructors keep both; the moving constructor keeps the node form only
/// when asked (meshOptions_t::nodeTree). Both forms hold the same splits and
/// leaves, so hits and distances are the same whichever is walked. `shoot`
/// walks the compact tree while `tree` is the node tree the mesh made (null
/// when it made none); a host that puts a tree of its own into `tree` gets
/// walks over that tree, and a host that sets `tree` to null on a mesh that
/// had a node tree gets no hits. The compact tree holds copies of the vertex
/// positions and plane normals: a host that changes `points` or the
/// triangles directly (rather than through `transform`) calls `rebuildTree`.
///
/// Memory of a flat mesh without the node form, per triangle: 96 bytes for
/// the triangle record, 48 for its copy in the compact tree, about 12 for
/// the points it shares, plus 8 per tree node and 4 per leaf entry (see
/// `treeBytes`).
///
/// Thread safety: `shoot`, `getBound` and the `toObject...` operations only
/// read the mesh; the constructors, `transform`, `autoSmooth`, `setHasOrco`
/// and `rebuildTree` must not run while rays are shot.
class meshObject_t : public object3d_t {
public:
    /// An untransformed mesh: object space is world space.
    meshObject_t(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                 const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                 const std::vector<float>& fcol, bool hasOrco = false);
    /// The same, then placed in the world by the object-to-world matrix `m`
    /// (which must be invertible: a singular matrix ends the process).
    meshObject_t(const matrix4x4_t& m, const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                 const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                 const std::vector<float>& fcol, bool hasOrco = false);
    /// A mesh that takes the arrays over instead of copying them (no second
    /// copy exists at any time), placed by `placement` when it is not null
    /// (which must be invertible) and built as `options` say. When `prebuilt`
    /// is given and holds a tree made for exactly these triangles in their
    /// placed positions (its records are compared with the triangles), it is
    /// taken instead of building one; otherwise the tree is built and
    /// `prebuilt` is left empty. `arrays` is left empty.
    meshObject_t(meshArrays_t&& arrays, const matrix4x4_t* placement, const meshOptions_t& options,
                 meshTree_t* prebuilt = nullptr);
    /// Allocate and construct; the caller owns the result.
    static meshObject_t* factory(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                                 const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                                 const std::vector<float>& fcol, bool hasOrco = false);
    static meshObject_t* factory(const matrix4x4_t& m, const std::vector<point3d_t>& ver,
                                 const std::vector<vector3d_t>& nor, const std::vector<triangle_t>& ts,
                                 const std::vector<float>& fuv, const std::vector<float>& fcol,
                                 bool hasOrco = false);
    ~meshObject_t() override;

    // The triangles point into the mesh's own arrays; a copy would share them.
    meshObject_t(const meshObject_t&) = delete;
    meshObject_t& operator=(const meshObject_t&) = delete;

    int type() const override { return 0; }
    /// Places the mesh under the object-to-world matrix `m`, replacing any
    /// earlier placement: moves the positions (not the orco points) and the
    /// vertex normals (not renormalised), recomputes the plane normals,
    /// rebuilds the tree and the box, and sets the orco matrix so that the
    /// centre of the world box maps to the origin and the object-space
    /// half-extents of the box become unit lengths. `m` must be invertible.
    void transform(const matrix4x4_t& m) override;
    point3d_t toObject(const point3d_t& p) const override;
    vector3d_t toObjectRot(const vector3d_t& v) const override;
    point3d_t toObjectOrco(const point3d_t& p) const override;
    /// Walks the tree along the ray and tests the triangles met. Never
    /// reports the triangle equal to `state.skipElement`. Without `shadow`,
    /// `dist` only prunes the walk: a triangle in a visited leaf is reported
    /// even beyond `dist` when it is the nearest found. With `shadow`, true
    /// for the first triangle in walk order with 0 < t < `dist` (any t > 0
    /// for a negative `dist`). Counts one ray in `rays` and each triangle
    /// reference met in `hitted`.
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override;
    bound_t getBound() const override { return bound; }

    /// Gives every triangle smooth per-corner normals: each corner averages
    /// the plane normals of the triangles sharing its point entry whose
    /// normal makes an angle of less than `angle` degrees with the
    /// triangle's own (every neighbour for a negative angle). A corner left
    /// with no qualifying neighbour (possible for angle 0) takes the face
    /// normal. `normals` ends with three entries per triangle.
    void autoSmooth(float angle);
    /// Recomputes `bound` from the vertices of the triangles, widened by
    /// 1e-5. A mesh without triangles keeps its box.
    void recalcBound();

    /// Rebuilds the tree (both forms the mesh keeps) from the current
    /// triangles, after the host changed them directly.
    void rebuildTree();
    /// The compact tree that `shoot` walks (empty for a mesh built without
    /// a tree or without triangles).
    const meshTree_t& compactTree() const { return compact; }
    /// Whether the tree of the last build came from `prebuilt`.
    bool treeWasPrebuilt() const { return prebuiltUsed; }
    /// Bytes held by the mesh's arrays and both forms of its tree.
    std::size_t memoryBytes() const;

    /// Declares whether `points` holds an orco point after every position.
    /// Returns false, leaving `hasOrco` false, when `on` is asked for but
    /// some triangle vertex is the last entry of `points` (it would have no
    /// orco point to read).
    bool setHasOrco(bool on);

    std::vector<point3d_t> points;
    std::vector<vector3d_t> normals;
    std::vector<triangle_t> triangles;
    std::vector<float> uvValues;
    std::vector<float> colorValues;
    /// World-space box of the triangles.
    bound_t bound;
    /// True until the first `transform`.
    bool untransformed;
    bool hasOrco;
    /// World-to-object matrix: the inverse of the last placement.
    matrix4x4_t back;
    /// Rotation part of `back` for directions (rows scaled to unit length).
    matrix4x4_t backRot;
    /// World-to-orco matrix.
    matrix4x4_t orcoMatrix;
    /// The triangle partition tree (owned).
    triangleTree_t* tree;

private:
    /// The tree `shoot` walks, and the node tree the mesh made with it (null
    /// when it made none): a host that replaces `tree` gets walks over its
    /// own tree.
    meshTree_t compact;
    const triangleTree_t* nodeSource = nullptr;
    bool keepNodeTree = true;
    bool withTree = true;
    bool prebuiltUsed = false;
    meshTree_t* prebuiltTree = nullptr;

    void copyArrays(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                    const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                    const std::vector<float>& fcol);
    void checkPointers(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                       const std::vector<float>& fuv, const std::vector<float>& fcol);
    void buildTree();
    bool takePrebuilt();
    bool shootNodeTree(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
                       bool shadow, float limit) const;
    bool surfaceAt(const triangle_t* best, float bestT, const point3d_t& from, const vector3d_t& ray,
                   surfacePoint_t& sp) const;
};

} // namespace vexlar

#endif

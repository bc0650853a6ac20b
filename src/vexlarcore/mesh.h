// Triangle meshes: the mesh object with its own copies of the host's arrays,
// its triangle partition tree, placement by a matrix and automatic smoothing.
#ifndef VEXLARCORE_MESH_H
#define VEXLARCORE_MESH_H

#include "vexlarcore/bound.h"
#include "vexlarcore/bsptree.h"
#include "vexlarcore/matrix4.h"
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
/// Thread safety: `shoot`, `getBound` and the `toObject...` operations only
/// read the mesh; the constructors, `transform`, `autoSmooth` and
/// `setHasOrco` must not run while rays are shot.
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
    /// Compact copy of `tree` that `shoot` walks, and the tree it was copied
    /// from: a host that replaces `tree` gets walks over its own tree.
    flatTriangleTree_t flat;
    const triangleTree_t* flatSource = nullptr;

    void copyArrays(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                    const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                    const std::vector<float>& fcol);
    void buildTree();
};

} // namespace vexlar

#endif

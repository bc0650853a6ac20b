// Triangles: the face record of a mesh, the ray side test, barycentric
// weights and the hit record at a point on the face.
//
// A triangle does not own anything. Its pointer fields point into the arrays
// of the mesh that holds it (positions, vertex normals, texture coordinates,
// vertex colours); the mesh re-points them whenever it copies those arrays.
// All arithmetic is single precision.
#ifndef VEXLARCORE_TRIANGLE_H
#define VEXLARCORE_TRIANGLE_H

#include "vexlarcore/object3d.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

class shader_t;

/// One face of a mesh.
///
/// Thread safety: `hit` and `getSurface` only read the triangle and the
/// arrays it points into, so any number of rays may use one triangle at once.
class triangle_t {
public:
    /// Every pointer null, both flags false, `N` zero.
    triangle_t();
    /// Stores the vertices (not owned) and computes `N`; no vertex normals,
    /// texture coordinates, colours or shader.
    triangle_t(point3d_t* pa, point3d_t* pb, point3d_t* pc);

    /// Replaces the vertices, recomputes `N` and makes the triangle flat
    /// again (`na`, `nb`, `nc` null). `uv`, `vcol`, the flags and `shader`
    /// are kept.
    void setVertices(point3d_t* a, point3d_t* b, point3d_t* c);
    /// Recomputes `N` from the current vertex positions; call it after the
    /// positions moved.
    void recNormal();

    /// Side test: true when the line through `from` along `ray` passes
    /// through the triangle, edges and vertices included (no epsilon). It
    /// neither computes the distance nor rejects hits behind `from`; the
    /// caller computes t = N·(pa − from) / N·ray and checks its sign. Works
    /// for both windings.
    bool hit(const point3d_t& from, const vector3d_t& ray) const;

    /// The hit record at `p` (a point on the triangle) reached at ray
    /// parameter `depth`. `orco` tells whether the mesh's point array holds
    /// an orco point right after every position. The record's `object` and
    /// `origin` are null: the mesh fills them. Texture coordinates are −1
    /// for a triangle that takes the quick path (flat, no uv, no colours, no
    /// orco) or whose weights cannot be computed, and 0 when the triangle has
    /// other data but no uv; consumers test `hasUV` first. The four
    /// derivatives stay 0 without uv and for faces with a zero-length first
    /// edge or a third vertex on the line of the first edge.
    surfacePoint_t getSurface(const point3d_t& p, float depth, bool orco) const;

    /// Vertices in winding order (into the mesh's point array).
    point3d_t* pa;
    point3d_t* pb;
    point3d_t* pc;
    /// Vertex normals for smooth shading; all null for a flat triangle. Only
    /// `na` is tested: when it is set the other two must be set too.
    vector3d_t* na;
    vector3d_t* nb;
    vector3d_t* nc;
    /// Six floats: u, v of `pa`, then of `pb`, then of `pc`. Read only when
    /// `hasUV` is true.
    float* uv;
    /// Nine floats: R, G, B of `pa`, then of `pb`, then of `pc`. Read only
    /// when `hasVertexColor` is true.
    float* vcol;
    bool hasUV;
    bool hasVertexColor;
    /// The triangle's own shader (not owned); null means the mesh's shader.
    const shader_t* shader;
    /// Unit plane normal, normalise((pb − pa) × (pc − pa)); the zero vector
    /// for a degenerate triangle.
    vector3d_t N;
};

/// Barycentric weights of `p` with respect to the corners `p1`, `p2`, `p3`,
/// by the absolute sub-areas projected onto the coordinate plane where the
/// triangle's projection is largest (xy, then yz, then xz on ties). The
/// weights are non-negative and sum to 1 for any `p`; for a point inside the
/// triangle they are its barycentric coordinates. False, with the weights
/// untouched, when the projected area is zero in every plane.
bool getInterpolation(const point3d_t& p1, const point3d_t& p2, const point3d_t& p3, const point3d_t& p,
                      float& wa, float& wb, float& wc);

// The side test sits in the header: meshes call it in their innermost loop.
inline bool triangle_t::hit(const point3d_t& from, const vector3d_t& ray) const {
    // Look along the side the normal faces, so both windings pass the same
    // sign tests.
    const vector3d_t r = (ray * N < 0) ? -ray : ray;
    const vector3d_t da = *pa - from;
    const vector3d_t db = *pb - from;
    const vector3d_t dc = *pc - from;
    if (((da ^ db) * r) < 0) return false;
    if (((db ^ dc) * r) < 0) return false;
    return ((dc ^ da) * r) >= 0;
}

} // namespace vexlar

#endif

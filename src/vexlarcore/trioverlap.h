// Exact overlap of a triangle and an axis-aligned box: the separating-axis
// test the triangle tree's builder falls back on for triangles its vertex
// comparisons cannot place.
//
// Single precision; every function only reads its arguments and may run on
// any number of threads at once.
#ifndef VEXLARCORE_TRIOVERLAP_H
#define VEXLARCORE_TRIOVERLAP_H

#include "vexlarcore/bound.h"
#include "vexlarcore/trianglerecord.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

/// Exact separating-axis overlap test of the triangle p1 p2 p3 and the box
/// (Akenine-Möller's test, in its published order): the nine edge-cross
/// axes, the box's face normals, then the triangle's plane. A triangle that
/// only touches the box counts as overlapping unless rounding separates it.
bool triBoxOverlap(const bound_t& box, const point3d_t& p1, const point3d_t& p2, const point3d_t& p3);

/// Whether the plane normal·x + d = 0 meets the box centred at the origin
/// with half-sizes `maxbox`.
bool planeBoxOverlap(const vector3d_t& normal, float d, const point3d_t& maxbox);

/// triBoxOverlap of the triangles of `count` (1 to 4) records against one
/// box at once: `overlaps[k]` receives triBoxOverlap(box, corners of
/// tris[k]) for k < count. Each answer is computed with exactly the
/// single-precision operations of the one-triangle test, the triangles side
/// by side in vector lanes where the processor has them, so the answers are
/// the same.
void triBoxOverlap4(const bound_t& box, const triangleRecord_t* const tris[4], int count, bool overlaps[4]);

/// triBoxOverlap4 against two boxes at once (eight lanes on processors with
/// AVX2): `inA[k]` for `boxA`, `inB[k]` for `boxB`.
void triBoxOverlapPair(const bound_t& boxA, const bound_t& boxB, const triangleRecord_t* const tris[4],
                       int count, bool inA[4], bool inB[4]);

} // namespace vexlar

#endif

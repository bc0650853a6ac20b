// The compact triangle partition tree that meshes walk.
//
// The same tree as the node tree of bsptree.h (the same splits, the same
// leaves holding the same triangles in the same order), laid out for speed
// and size: 8-byte nodes in one array in depth-first order (a node's low
// child follows it), the leaves' triangles as 32-bit indices in one array,
// and, per triangle, a 48-byte record of what the ray test reads (its corners
// and plane normal), so that a walk touches a few contiguous arrays instead of
// chasing pointers. A walk visits the leaves in the order of the node tree's
// iterator and tests their triangles in leaf order, four at a time where the
// processor has four-wide vector arithmetic, each lane computing exactly the
// single-precision expressions of triangle_t::hit and of the mesh's ray
// parameter; hits, distances and ties therefore come out as with the node tree.
//
// Memory: 48 bytes per triangle, 8 per node, 4 per triangle reference (see
// `bytes`). Building needs little beyond the finished arrays.
//
// Thread safety: a finished tree is only read by walks; any number may run at
// once. Building is single-threaded and must not overlap walks.
#ifndef VEXLARCORE_MESHTREE_H
#define VEXLARCORE_MESHTREE_H

#include "vexlarcore/bound.h"
#include "vexlarcore/bsptree.h"
#include "vexlarcore/podarray.h"
#include "vexlarcore/triangle.h"
#include "vexlarcore/trianglerecord.h"
#include "vexlarcore/trioverlap.h"
#include "vexlarcore/vector3d.h"

#include <cstdint>

namespace vexlar {

/// A node of the compact tree (the layout of flatTriangleTree_t).
typedef flatTriangleTree_t::flatNode_t compactNode_t;

/// Outcome of a nearest-hit walk: the triangle (index) and ray parameter.
struct treeHit_t {
    std::uint32_t index;
    float t;
};

class meshTree_t {
public:
    /// No index: never equal to a triangle's.
    static const std::uint32_t none = 0xffffffffu;

    meshTree_t() = default;

    /// Builds the tree over `records` (triangle k is records[k]) inside
    /// `bound` with the rules of buildTriangleTree (leaves of up to
    /// `leafSize`, the bad-split counter starting at `badSplits`, leaf depths
    /// counted from `depth`), counting the non-empty leaves in `leafs` and
    /// `leafst` and setting `avgDepth`, `avgSize` as buildTriangleTree does.
    /// Returns false, leaving the tree empty, when the tree would need more
    /// than 2^30 nodes or 2^32 references (the node tree still works then).
    bool build(podArray_t<triangleRecord_t>&& records, const bound_t& bound, unsigned leafSize,
               unsigned depth, unsigned badSplits, float& avgDepth, float& avgSize);

    /// Takes finished arrays (from a cache); `valid()` tells whether they
    /// form a tree that `check` accepts.
    bool adopt(podArray_t<compactNode_t>&& nodes, podArray_t<std::uint32_t>&& items,
               podArray_t<triangleRecord_t>&& records, unsigned depth);

    /// Whether the tree can be walked (built, or adopted and checked).
    bool valid() const { return !nodes.empty(); }
    void clear();

    /// The nearest triangle the ray from + t·ray hits, in walk order: the
    /// first one met with the smallest t > 0, `skip` never reported. Walks
    /// within [0, dist] of the tree's box `box` (dist ≥ 0; +infinity for no
    /// limit), lowering the limit to each nearer hit. `met` receives the
    /// number of triangle references the walk met.
    bool nearest(const point3d_t& from, const vector3d_t& ray, float dist, const bound_t& box,
                 std::uint32_t skip, treeHit_t& hit, std::uint32_t& met) const;
    /// Whether a triangle other than `skip` is hit at 0 < t < `dist` (the
    /// first such in walk order ends the walk).
    bool blocked(const point3d_t& from, const vector3d_t& ray, float dist, const bound_t& box,
                 std::uint32_t skip, std::uint32_t& met) const;

    /// The node form of the tree, leaves pointing at `byIndex[k]` for
    /// triangle k; the caller owns it. Null for an empty tree.
    triangleTree_t* nodeTree(triangle_t* const* byIndex) const;

    /// Structural check of adopted arrays: every child index and leaf range
    /// in bounds, every reference naming a record, depth-first layout.
    bool check() const;

    /// Bytes held by the arrays.
    std::size_t bytes() const { return nodes.bytes() + items.bytes() + records.bytes(); }

    podArray_t<compactNode_t> nodes;
    podArray_t<std::uint32_t> items;
    podArray_t<triangleRecord_t> records;
    /// Levels of the deepest leaf below the root (the root alone is 1); a
    /// walk keeps at most depth - 1 pending entries.
    unsigned depth = 0;
    /// The average leaf depth and size the build reported.
    float avgDepth = 0;
    float avgSize = 0;
};

} // namespace vexlar

#endif

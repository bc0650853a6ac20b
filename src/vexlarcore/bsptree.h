// The triangle partition tree of a mesh and its front-to-back ray walk.
//
// Every interior node cuts its box in half by an axis-aligned plane; every
// leaf holds the list of triangles overlapping its box (a triangle may sit in
// several leaves). A ray walks the leaves it crosses nearest first, so a mesh
// tests only the triangles near the ray and stops once the next leaf starts
// beyond the nearest hit found so far.
//
// The exact triangle/box overlap test the builder falls back on lives in
// trioverlap.h, the exact 2D clipping classifier exported as an alternative to
// the builder's fast one in exactposition.h; both are included here.
//
// Single precision throughout, except the steps marked double.
#ifndef VEXLARCORE_BSPTREE_H
#define VEXLARCORE_BSPTREE_H

#include "vexlarcore/bound.h"
#include "vexlarcore/exactposition.h"
#include "vexlarcore/triangle.h"
#include "vexlarcore/trioverlap.h"
#include "vexlarcore/vector3d.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace vexlar {

/// Number of non-empty leaves built by every tree so far (statistics only,
/// never reset, updated without synchronisation).
extern std::uint32_t leafs;
/// Total number of triangle references in those leaves.
extern std::uint32_t leafst;
/// Average leaf depth of the last tree a mesh built.
extern float foo1;
/// Average leaf size of the last tree a mesh built.
extern float foo2;

/// One node of a partition tree whose leaves carry a `T` (the library uses
/// T = std::vector<triangle_t*>).
///
/// A node is a leaf exactly when `data` is not null. A node owns its
/// children and its `data`, but not the items the leaf list points to.
template <class T> class pureBspTree_t {
public:
    /// A leaf holding `d` (owned).
    explicit pureBspTree_t(T* d) : pos(0), axis(0), left(nullptr), right(nullptr), data(d) {}
    /// An interior node splitting at `axis` = `p`; owns both children.
    pureBspTree_t(float p, int ax, pureBspTree_t* l, pureBspTree_t* r)
        : pos(p), axis(ax), left(l), right(r), data(nullptr) {}
    /// Deletes the whole subtree and the leaf lists. Works without recursion,
    /// so arbitrarily deep trees do not exhaust the call stack.
    ~pureBspTree_t() {
        delete data;
        std::vector<pureBspTree_t*> pending;
        detachChildren(pending);
        while (!pending.empty()) {
            pureBspTree_t* n = pending.back();
            pending.pop_back();
            n->detachChildren(pending);
            delete n;
        }
    }
    pureBspTree_t(const pureBspTree_t&) = delete;
    pureBspTree_t& operator=(const pureBspTree_t&) = delete;

    bool isLeaf() const { return data != nullptr; }

    /// Interior node: coordinate of the splitting plane along `axis`.
    float pos;
    /// Interior node: 0 = x, 1 = y, 2 = z.
    int axis;
    /// Child below `pos` (null in a leaf).
    pureBspTree_t* left;
    /// Child above `pos` (null in a leaf).
    pureBspTree_t* right;
    /// Leaf: its list. Null in an interior node.
    T* data;

private:
    void detachChildren(std::vector<pureBspTree_t*>& pending) {
        if (left) pending.push_back(left);
        if (right) pending.push_back(right);
        left = right = nullptr;
    }
};

typedef std::vector<triangle_t*> triangleList_t;
typedef pureBspTree_t<triangleList_t> triangleTree_t;

/// Coordinate `axis` (0, 1, 2) of a point or vector.
inline float axisValue(const point3d_t& p, int axis) {
    return axis == 0 ? p.x : (axis == 1 ? p.y : p.z);
}
inline float axisValue(const vector3d_t& v, int axis) {
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

/// Builds the tree over `tris` inside `bound`, cutting boxes at their
/// midpoint along their longest axis (ties prefer x, then y) until a node has
/// at most `leafSize` triangles or four splits in a row (each failure to
/// separate counts one up, each success one down) have not separated
/// anything. Takes ownership of `tris`, which ends in a leaf or is deleted.
/// `avgDepth` and `avgSize` receive the average leaf depth and leaf size,
/// averaged pairwise up the tree. Counts built leaves in `leafs` and
/// `leafst`. Meshes call it with leafSize 4, depth 1, badSplits 0.
///
/// The tree has no depth limit, but the failure counter bounds every path to
/// at most about twice the number of triangles; the builder keeps its
/// pending work on the heap, so degenerate input cannot exhaust the call
/// stack.
triangleTree_t* buildTriangleTree(triangleList_t* tris, const bound_t& bound, unsigned leafSize,
                                  unsigned depth, unsigned badSplits, float& avgDepth, float& avgSize);

/// Fast classification of `tri` against the plane `axis` = `pos` inside
/// `bound`: 1 entirely below, 2 entirely above, 3 touches or crosses the plane
/// with every vertex inside the box's cross-section (so it certainly overlaps
/// both halves), 0 undecided. Only axis 0, 1, 2 are meaningful.
int cheapPosition(const triangle_t& tri, const bound_t& bound, float pos, int axis);

/// Box of all vertices of `tris`, widened by 1e-5 on every side (in double
/// precision, rounded to float); `null` false. An empty list gives the null
/// box with both corners at the origin.
bound_t face_calc_bound(const std::vector<triangle_t*>& tris);

/// Widens the extent [mn, mx] to include `p`.
inline void growExtent(point3d_t& mn, point3d_t& mx, const point3d_t& p) {
    if (p.x < mn.x) mn.x = p.x;
    if (p.y < mn.y) mn.y = p.y;
    if (p.z < mn.z) mn.z = p.z;
    if (p.x > mx.x) mx.x = p.x;
    if (p.y > mx.y) mx.y = p.y;
    if (p.z > mx.z) mx.z = p.z;
}

/// The box with corners `mn` and `mx` widened by 1e-5 on every side, the
/// margin applied in double precision and rounded to float; `null` false.
bound_t paddedBound(const point3d_t& mn, const point3d_t& mx);

/// True when at least one vertex of `tri` lies in `box` (bounds inclusive).
bool face_is_in_bound(const triangle_t* const& tri, bound_t& box);

/// Centroid (pa + pb + pc) * (1/3), the factor rounded to single precision.
point3d_t face_get_pos(const triangle_t* const& tri);

/// Crossing of the plane `axis` = `pos` by the segment [tmin, tmax] of the
/// ray from + t·ray, given the reciprocals `invRay` of the direction (0 for a
/// zero component). `side` receives the side the segment starts on (0 below,
/// 1 at or above the plane). True, with `where` = the crossing parameter,
/// when the plane is crossed inside the segment; false when the segment lies
/// entirely on `side` (parallel ray, plane behind the origin, before tmin or
/// beyond tmax).
inline bool planeCrossInv(float pos, int axis, const point3d_t& from, const vector3d_t& invRay, float tmin,
                          float tmax, float& where, int& side);

/// planeCrossInv with the origin coordinate `o` and reciprocal `id` along the
/// plane's axis already picked out.
inline bool planeCrossAt(float pos, float o, float id, float tmin, float tmax, float& where, int& side) {
    side = (o >= pos) ? 1 : 0;
    const float t = (pos - o) * id;
    if (id == 0.0f || t < 0.0f) return false;
    if (t < tmin) {
        // Crossed before the segment starts: the segment is on the far side.
        side = 1 - side;
        return false;
    }
    if (t > tmax) return false;
    where = t;
    return true;
}

inline bool planeCrossInv(float pos, int axis, const point3d_t& from, const vector3d_t& invRay, float tmin,
                          float tmax, float& where, int& side) {
    return planeCrossAt(pos, axisValue(from, axis), axisValue(invRay, axis), tmin, tmax, where, side);
}

/// The front-to-back walk shared by the tree iterators, written once for any
/// node representation. `Access` names the node handle (`node_t`), what a
/// leaf yields (`leaf_t`, null when the walk is over) and reads nodes:
/// `isLeaf`, `pos`, `axis`, `left`, `right`, `leaf`.
///
/// Usage: construct, then while `current` is not null test its items, lower
/// `limit` to any nearer hit, and advance (`next()`; `++` on
/// pureBspIterator_t). No leaf whose entry parameter is at least `limit` is
/// visited. `from` and `ray` are kept by address and must outlive the walk. The tree is only read, so any
/// number of walks may run over one tree at once.
///
/// The stack of pending far children reuses storage kept per thread between
/// walks, so a walk does not allocate once the thread has made its first one
/// (only a deeper tree than ever before grows it).
template <class Access> class bspWalk_t {
public:
    typedef typename Access::node_t node_t;
    typedef typename Access::leaf_t leaf_t;

    /// A pending far child and the ray interval inside its region.
    struct state_t {
        node_t node;
        float enter;
        float leave;
    };

    /// Starts the walk along from + t·ray within [0, dist] (`dist` ≥ 0; pass
    /// +infinity for no limit). `box` is the box of the whole tree. The walk
    /// is over at once when `hasRoot` is false or the ray misses `box`.
    bspWalk_t(const Access& acc, node_t root, bool hasRoot, float dist, const bound_t& box,
              const point3d_t& from, const vector3d_t& ray, bool shadow)
        : current(), from(&from), ray(&ray), invRay(0, 0, 0), limit(dist), shadow(shadow), access(acc) {
        if (!hasRoot) return;
        float enter = 0, leave = 0;
        if (!box.cross(from, ray, enter, leave, dist)) return;
        invRay.set(ray.x != 0.0f ? 1.0f / ray.x : 0.0f, ray.y != 0.0f ? 1.0f / ray.y : 0.0f,
                   ray.z != 0.0f ? 1.0f / ray.z : 0.0f);
        // Indexed copies, so a node's axis selects without branching.
        const float o[3] = {from.x, from.y, from.z}, i[3] = {invRay.x, invRay.y, invRay.z};
        for (int k = 0; k < 3; ++k) {
            origin[k] = o[k];
            inverse[k] = i[k];
        }
        limit = (leave < dist) ? leave : dist;
        stack.swap(spareStack());
        stack.clear();
        if (stack.capacity() < 16) stack.reserve(16);
        down(root, enter, limit);
    }
    ~bspWalk_t() {
        // Hand the storage back for the next walk on this thread.
        std::vector<state_t>& spare = spareStack();
        if (stack.capacity() > spare.capacity()) spare.swap(stack);
    }
    bspWalk_t(const bspWalk_t&) = default;
    bspWalk_t& operator=(const bspWalk_t&) = default;

    /// Moves to the next leaf, or ends the walk (`current` null).
    void next() {
        current = leaf_t();
        if (stack.empty()) return;
        const state_t& top = stack.back();
        if (top.enter >= limit) return;
        const state_t s = top;
        stack.pop_back();
        down(s.node, s.enter, s.leave < limit ? s.leave : limit);
    }

    /// Far children still to visit.
    std::vector<state_t> stack;
    /// The leaf to test now; null when the walk is over.
    leaf_t current;
    const point3d_t* from;
    const vector3d_t* ray;
    /// Reciprocals of the direction's components, 0 where a component is 0.
    vector3d_t invRay;
    /// Leaves entered at or beyond this parameter are skipped; lower it after
    /// every nearer hit.
    float limit;
    /// Kept for the caller; the walk does not use it.
    bool shadow;
    /// Reads the nodes.
    Access access;

private:
    float origin[3] = {0, 0, 0};
    float inverse[3] = {0, 0, 0};

    void down(node_t node, float tmin, float tmax) {
        while (!access.isLeaf(node)) {
            float where = 0;
            int side = 0;
            const int axis = access.axis(node);
            // Axis values other than 0 and 1 read as z, as in planeCrossInv.
            const int k = (axis == 0 || axis == 1) ? axis : 2;
            const bool crosses =
                planeCrossAt(access.pos(node), origin[k], inverse[k], tmin, tmax, where, side);
            const node_t nearChild = side == 0 ? access.left(node) : access.right(node);
            if (crosses) {
                // Filled field by field: building the record first and copying
                // it makes the compiler stall on a store-to-load round trip.
                stack.emplace_back();
                state_t& far = stack.back();
                far.node = side == 0 ? access.right(node) : access.left(node);
                far.enter = where;
                far.leave = tmax;
                tmax = where;
            }
            node = nearChild;
        }
        current = access.leaf(node);
    }

    static std::vector<state_t>& spareStack() {
        static thread_local std::vector<state_t> spare;
        return spare;
    }
};

/// Node access of pureBspTree_t for bspWalk_t.
template <class T> struct pureBspAccess_t {
    typedef const pureBspTree_t<T>* node_t;
    typedef T* leaf_t;
    bool isLeaf(node_t n) const { return n->data != nullptr; }
    float pos(node_t n) const { return n->pos; }
    int axis(node_t n) const { return n->axis; }
    node_t left(node_t n) const { return n->left; }
    node_t right(node_t n) const { return n->right; }
    leaf_t leaf(node_t n) const { return n->data; }
};

/// Walks the leaves of a pureBspTree_t that a ray crosses, nearest first;
/// see bspWalk_t for the fields and the protocol. `current` is the leaf's
/// list.
template <class T> class pureBspIterator_t : public bspWalk_t<pureBspAccess_t<T>> {
public:
    /// Starts a walk over `tree` (null: the walk is over at once) along
    /// from + t·ray within [0, dist]; `box` is the box of the whole tree.
    pureBspIterator_t(const pureBspTree_t<T>* tree, float dist, const bound_t& box, const point3d_t& from,
                      const vector3d_t& ray, bool shadow)
        : bspWalk_t<pureBspAccess_t<T>>(pureBspAccess_t<T>(), tree, tree != nullptr, dist, box, from, ray,
                                        shadow) {}
    /// Moves to the next leaf, or ends the walk (`current` null).
    pureBspIterator_t& operator++() {
        this->next();
        return *this;
    }
};

/// A compact read-only copy of a triangle tree for fast walks: 8-byte nodes
/// in depth-first order (a node's low child follows it) and the leaves'
/// triangles in one array. Walked with bspWalk_t<flatTriangleTree_t::access_t>
/// it visits the same leaves in the same order as pureBspIterator_t over the
/// tree it was copied from, and yields the same triangles in the same order.
class flatTriangleTree_t {
public:
    struct flatNode_t {
        union {
            float pos;           // interior node
            std::uint32_t begin; // leaf: first entry in `items`
        };
        // Low two bits: the axis, or 3 for a leaf. The rest: the index of the
        // high child (interior) or the number of triangles (leaf).
        std::uint32_t word;

        bool isLeaf() const { return (word & 3u) == 3u; }
        std::uint32_t count() const { return word >> 2; }
    };

    struct access_t {
        typedef const flatNode_t* node_t;
        typedef const flatNode_t* leaf_t;
        const flatNode_t* base;
        bool isLeaf(node_t n) const { return n->isLeaf(); }
        float pos(node_t n) const { return n->pos; }
        int axis(node_t n) const { return static_cast<int>(n->word & 3u); }
        node_t left(node_t n) const { return n + 1; }
        node_t right(node_t n) const { return base + (n->word >> 2); }
        leaf_t leaf(node_t n) const { return n; }
    };

    flatTriangleTree_t() {}
    /// Copies `tree`; empty (see `valid`) when `tree` is null or too large to
    /// index with 30 bits.
    explicit flatTriangleTree_t(const triangleTree_t* tree);

    bool valid() const { return !nodes.empty(); }
    access_t access() const { return access_t{nodes.data()}; }
    const flatNode_t* root() const { return nodes.data(); }
    /// The triangles of a leaf node.
    const triangle_t* const* leafBegin(const flatNode_t* leaf) const { return items.data() + leaf->begin; }
    const triangle_t* const* leafEnd(const flatNode_t* leaf) const {
        return items.data() + leaf->begin + leaf->count();
    }

    std::vector<flatNode_t> nodes;
    std::vector<const triangle_t*> items;
};

} // namespace vexlar

#endif

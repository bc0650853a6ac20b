// Walks of the compact triangle tree and its conversions.
#include "vexlarcore/meshtree.h"

#include <memory>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include "vexlarcore/simd/lanes_sse.h"
#include "vexlarcore/simd/raykernel.h"

#include <xmmintrin.h>
#endif

namespace vexlar {

void meshTree_t::clear() {
    nodes = podArray_t<compactNode_t>();
    items = podArray_t<std::uint32_t>();
    records = podArray_t<triangleRecord_t>();
    depth = 0;
    avgDepth = avgSize = 0;
}

bool meshTree_t::adopt(podArray_t<compactNode_t>&& n, podArray_t<std::uint32_t>&& i,
                       podArray_t<triangleRecord_t>&& r, unsigned d) {
    nodes = std::move(n);
    items = std::move(i);
    records = std::move(r);
    depth = d;
    if (check()) return true;
    clear();
    return false;
}

bool meshTree_t::check() const {
    if (nodes.empty() || nodes.size() >= (std::size_t(1) << 30)) return false;
    // Depth first with the low child next: walking the layout with a stack
    // of pending high children must meet every node exactly once, in order.
    std::vector<std::uint32_t> pending;
    std::size_t next = 0;
    unsigned deepest = 0;
    std::vector<unsigned> levels;
    pending.push_back(0);
    levels.push_back(1);
    while (!pending.empty()) {
        const std::uint32_t at = pending.back();
        const unsigned level = levels.back();
        pending.pop_back();
        levels.pop_back();
        if (at != next || at >= nodes.size()) return false;
        ++next;
        const compactNode_t& node = nodes[at];
        if (node.isLeaf()) {
            const std::size_t begin = node.begin, count = node.count();
            if (begin > items.size() || count > items.size() - begin) return false;
            for (std::size_t k = begin; k < begin + count; ++k)
                if (items[k] >= records.size()) return false;
            if (level > deepest) deepest = level;
            continue;
        }
        const std::uint32_t high = node.word >> 2;
        if (high <= at + 1 || high >= nodes.size()) return false;
        pending.push_back(high);
        levels.push_back(level + 1);
        pending.push_back(at + 1);
        levels.push_back(level + 1);
    }
    return next == nodes.size() && deepest == depth;
}

triangleTree_t* meshTree_t::nodeTree(triangle_t* const* byIndex) const {
    if (nodes.empty()) return nullptr;
    triangleTree_t* root = nullptr;
    // Allocated in depth-first order, each node next to its leaf list, so
    // that a walk down a branch touches neighbouring memory.
    std::vector<std::pair<std::uint32_t, triangleTree_t**>> pending{{0u, &root}};
    while (!pending.empty()) {
        const std::pair<std::uint32_t, triangleTree_t**> next = pending.back();
        pending.pop_back();
        const compactNode_t& n = nodes[next.first];
        if (n.isLeaf()) {
            std::unique_ptr<triangleList_t> list(new triangleList_t());
            list->reserve(n.count());
            for (std::uint32_t k = n.begin; k < n.begin + n.count(); ++k) list->push_back(byIndex[items[k]]);
            *next.second = new triangleTree_t(list.release());
        } else {
            triangleTree_t* node = new triangleTree_t(n.pos, static_cast<int>(n.word & 3u), nullptr, nullptr);
            *next.second = node;
            pending.push_back({n.word >> 2, &node->right});
            pending.push_back({next.first + 1, &node->left});
        }
    }
    return root;
}

namespace {

// A subtree still to visit and the ray interval inside its region.
struct pending_t {
    std::uint32_t node;
    float enter;
    float leave;
};

// The walk's stack of far children: inline for trees of up to 64 levels,
// one allocation for deeper ones. A walk holds at most one entry per
// interior node on its current path.
class walkStack_t {
public:
    explicit walkStack_t(unsigned depth) : base(inlineEntries) {
        // At most depth - 1 entries are kept, and one more slot is written.
        if (depth > inlineCount) {
            heap.reset(new pending_t[depth]);
            base = heap.get();
        }
    }
    bool empty() const { return count == 0; }
    // Writes the entry in any case and keeps it when `keep`: no branch. The
    // slot past the top always exists, as a walk never fills the stack.
    void pushIf(bool keep, std::uint32_t node, float enter, float leave) {
        pending_t& p = base[count];
        p.node = node;
        p.enter = enter;
        p.leave = leave;
        count += keep ? 1u : 0u;
    }
    const pending_t& top() const { return base[count - 1]; }
    void pop() { --count; }

private:
    static const unsigned inlineCount = 64;
    pending_t inlineEntries[inlineCount];
    std::unique_ptr<pending_t[]> heap;
    pending_t* base;
    unsigned count = 0;
};

// The front-to-back walk of bspWalk_t over the compact nodes: `visit(leaf)`
// is called for every leaf the ray crosses nearest first and returns whether
// to go on; it may lower `limit`. Every comparison is that of planeCrossInv.
template <class Visit>
void walk(const meshTree_t& tree, const point3d_t& from, const vector3d_t& ray, float dist,
          const bound_t& box, float& limit, Visit&& visit) {
    float enter = 0, leave = 0;
    if (!box.cross(from, ray, enter, leave, dist)) return;
    const float origin[4] = {from.x, from.y, from.z, 0.0f};
    const float inverse[4] = {ray.x != 0.0f ? 1.0f / ray.x : 0.0f, ray.y != 0.0f ? 1.0f / ray.y : 0.0f,
                              ray.z != 0.0f ? 1.0f / ray.z : 0.0f, 0.0f};
    // Axes along which no plane is ever crossed (a zero reciprocal).
    const unsigned parallel =
        (inverse[0] == 0.0f ? 1u : 0u) | (inverse[1] == 0.0f ? 2u : 0u) | (inverse[2] == 0.0f ? 4u : 0u);
    limit = leave < dist ? leave : dist;
    const compactNode_t* nodes = tree.nodes.data();
    walkStack_t stack(tree.depth);
    std::uint32_t node = 0;
    float tmin = enter, tmax = limit;
    while (true) {
        std::uint32_t word = nodes[node].word;
        while ((word & 3u) != 3u) {
            // planeCrossInv without branches on the data: `before` is a
            // plane crossed before the segment starts (the segment then lies
            // on the far side), `crosses` one crossed inside it.
            const unsigned axis = word & 3u;
            const float pos = nodes[node].pos;
            const float o = origin[axis];
            const float t = (pos - o) * inverse[axis];
            const bool ahead = !((parallel >> axis) & 1u) & !(t < 0.0f);
            const bool before = ahead & (t < tmin);
            const bool crosses = ahead & !(t < tmin) & !(t > tmax);
            const bool side = (o >= pos) != before;
            const std::uint32_t lowChild = node + 1, highChild = word >> 2;
            stack.pushIf(crosses, side ? lowChild : highChild, t, tmax);
            tmax = crosses ? t : tmax;
            node = side ? highChild : lowChild;
            word = nodes[node].word;
        }
        if (!visit(nodes[node])) return;
        if (stack.empty()) return;
        const pending_t next = stack.top();
        if (next.enter >= limit) return;
        stack.pop();
        node = next.node;
        tmin = next.enter;
        tmax = next.leave < limit ? next.leave : limit;
    }
}

#if defined(__SSE2__)

// The side test and ray parameter of four triangles at once (simd/raykernel.h):
// `test` returns the lanes whose side test passes and stores the four ray
// parameters in `t`.
class rayLanes_t {
public:
    typedef sseLanes_t L;
    rayLanes_t(const point3d_t& f, const vector3d_t& r)
        : from{L::set1(f.x), L::set1(f.y), L::set1(f.z)}, ray{L::set1(r.x), L::set1(r.y), L::set1(r.z)} {}

    int test(const triangleRecord_t* const r[4], float t[4]) const {
        // Rows: pa.x pa.y pa.z pb.x | pb.y pb.z pc.x pc.y | pc.z N.x N.y N.z.
        __m128 a0 = _mm_load_ps(&r[0]->corners.c[0][0]), a1 = _mm_load_ps(&r[1]->corners.c[0][0]),
               a2 = _mm_load_ps(&r[2]->corners.c[0][0]), a3 = _mm_load_ps(&r[3]->corners.c[0][0]);
        __m128 b0 = _mm_load_ps(&r[0]->corners.c[1][1]), b1 = _mm_load_ps(&r[1]->corners.c[1][1]),
               b2 = _mm_load_ps(&r[2]->corners.c[1][1]), b3 = _mm_load_ps(&r[3]->corners.c[1][1]);
        __m128 c0 = _mm_load_ps(&r[0]->corners.c[2][2]), c1 = _mm_load_ps(&r[1]->corners.c[2][2]),
               c2 = _mm_load_ps(&r[2]->corners.c[2][2]), c3 = _mm_load_ps(&r[3]->corners.c[2][2]);
        _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
        _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
        _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
        const lanes3_t<L> pa = {a0, a1, a2}, pb = {a3, b0, b1}, pc = {b2, b3, c0}, n = {c1, c2, c3};
        __m128 tv;
        const int bits = L::bits(sideTestLanes<L>(pa, pb, pc, n, from, ray, tv));
        _mm_storeu_ps(t, tv);
        return bits;
    }

private:
    lanes3_t<L> from, ray;
};

#else

// The scalar form of the four-lane test.
class rayLanes_t {
public:
    rayLanes_t(const point3d_t& from, const vector3d_t& ray) : from(from), ray(ray) {}

    int test(const triangleRecord_t* const r[4], float t[4]) const {
        int bits = 0;
        for (int k = 0; k < 4; ++k) {
            const auto& c = r[k]->corners.c;
            const vector3d_t n(r[k]->n[0], r[k]->n[1], r[k]->n[2]);
            const vector3d_t s = (ray * n < 0) ? -ray : ray;
            const vector3d_t da = point3d_t(c[0][0], c[0][1], c[0][2]) - from;
            const vector3d_t db = point3d_t(c[1][0], c[1][1], c[1][2]) - from;
            const vector3d_t dc = point3d_t(c[2][0], c[2][1], c[2][2]) - from;
            if (!(((da ^ db) * s) < 0) && !(((db ^ dc) * s) < 0) && ((dc ^ da) * s) >= 0) bits |= 1 << k;
            t[k] = (n * da) / (n * ray);
        }
        return bits;
    }

private:
    point3d_t from;
    vector3d_t ray;
};

#endif

// The records of up to four references of a leaf, the last repeated to fill
// the lanes.
inline int gather(const meshTree_t& tree, const std::uint32_t* refs, std::uint32_t left,
                  const triangleRecord_t* lane[4]) {
    const int m = left < 4 ? static_cast<int>(left) : 4;
    for (int k = 0; k < 4; ++k) lane[k] = &tree.records[refs[k < m ? k : m - 1]];
    return m;
}

} // namespace

bool meshTree_t::nearest(const point3d_t& from, const vector3d_t& ray, float dist, const bound_t& box,
                         std::uint32_t skip, treeHit_t& hit, std::uint32_t& met) const {
    met = 0;
    if (!valid()) return false;
    const rayLanes_t lanes(from, ray);
    std::uint32_t best = none, count = 0;
    float bestT = -1;
    float limit = dist;
    const std::uint32_t* allItems = items.data();
    walk(*this, from, ray, dist, box, limit, [&](const compactNode_t& leaf) {
        const std::uint32_t* refs = allItems + leaf.begin;
        const std::uint32_t n = leaf.count();
        count += n;
        for (std::uint32_t k = 0; k < n; k += 4) {
            const triangleRecord_t* lane[4];
            const int m = gather(*this, refs + k, n - k, lane);
            float t[4];
            int bits = lanes.test(lane, t) & ((1 << m) - 1);
            // In leaf order, as the one-by-one loop: the first of equal
            // distances stays the best.
            while (bits != 0) {
                const int j = __builtin_ctz(static_cast<unsigned>(bits));
                bits &= bits - 1;
                const std::uint32_t idx = refs[k + j];
                if (idx == skip || idx == best) continue;
                if (t[j] > 0 && (bestT < 0 || t[j] < bestT)) {
                    bestT = t[j];
                    best = idx;
                    if (t[j] < limit) limit = t[j];
                }
            }
        }
        return true;
    });
    met = count;
    if (best == none) return false;
    hit.index = best;
    hit.t = bestT;
    return true;
}

bool meshTree_t::blocked(const point3d_t& from, const vector3d_t& ray, float dist, const bound_t& box,
                         std::uint32_t skip, std::uint32_t& met) const {
    met = 0;
    if (!valid()) return false;
    const rayLanes_t lanes(from, ray);
    std::uint32_t count = 0;
    bool found = false;
    float limit = dist;
    const std::uint32_t* allItems = items.data();
    walk(*this, from, ray, dist, box, limit, [&](const compactNode_t& leaf) {
        const std::uint32_t* refs = allItems + leaf.begin;
        const std::uint32_t n = leaf.count();
        for (std::uint32_t k = 0; k < n; k += 4) {
            const triangleRecord_t* lane[4];
            const int m = gather(*this, refs + k, n - k, lane);
            float t[4];
            int bits = lanes.test(lane, t) & ((1 << m) - 1);
            while (bits != 0) {
                const int j = __builtin_ctz(static_cast<unsigned>(bits));
                bits &= bits - 1;
                if (refs[k + j] == skip) continue;
                if (t[j] > 0 && t[j] < dist) {
                    count += k + static_cast<std::uint32_t>(j) + 1;
                    found = true;
                    return false;
                }
            }
        }
        count += n;
        return true;
    });
    met = count;
    return found;
}

} // namespace vexlar

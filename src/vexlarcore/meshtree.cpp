// Walks of the compact triangle tree and its conversions.
#include "vexlarcore/meshtree.h"

#include <memory>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
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
        if (depth > inlineCount) {
            heap.reset(new pending_t[depth]);
            base = heap.get();
        }
    }
    bool empty() const { return count == 0; }
    void push(std::uint32_t node, float enter, float leave) {
        pending_t& p = base[count++];
        p.node = node;
        p.enter = enter;
        p.leave = leave;
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
    const float origin[3] = {from.x, from.y, from.z};
    const float inverse[3] = {ray.x != 0.0f ? 1.0f / ray.x : 0.0f, ray.y != 0.0f ? 1.0f / ray.y : 0.0f,
                              ray.z != 0.0f ? 1.0f / ray.z : 0.0f};
    limit = leave < dist ? leave : dist;
    const compactNode_t* nodes = tree.nodes.data();
    walkStack_t stack(tree.depth);
    std::uint32_t node = 0;
    float tmin = enter, tmax = limit;
    while (true) {
        while (!nodes[node].isLeaf()) {
            const compactNode_t& n = nodes[node];
            const int axis = static_cast<int>(n.word & 3u);
            const float o = origin[axis], id = inverse[axis];
            int side = (o >= n.pos) ? 1 : 0;
            const float t = (n.pos - o) * id;
            bool crosses = false;
            if (!(id == 0.0f || t < 0.0f)) {
                if (t < tmin)
                    side = 1 - side; // crossed before the segment starts
                else if (!(t > tmax))
                    crosses = true;
            }
            const std::uint32_t lowChild = node + 1, highChild = n.word >> 2;
            if (crosses) {
                stack.push(side == 0 ? highChild : lowChild, t, tmax);
                tmax = t;
            }
            node = side == 0 ? lowChild : highChild;
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

// The side test and ray parameter of four triangles at once. For every lane
// the same single-precision operations as triangle_t::hit and the mesh's
// t = N·(pa − from) / N·ray, in the same order, so each lane's bits equal the
// scalar results. `hits` receives the lanes whose side test passes, `t` the
// four parameters.
class rayLanes_t {
public:
    rayLanes_t(const point3d_t& from, const vector3d_t& ray)
        : fx(_mm_set1_ps(from.x)), fy(_mm_set1_ps(from.y)), fz(_mm_set1_ps(from.z)), rx(_mm_set1_ps(ray.x)),
          ry(_mm_set1_ps(ray.y)), rz(_mm_set1_ps(ray.z)) {}

    int test(const triangleRecord_t* const r[4], float t[4]) const {
        // Rows: pa.x pa.y pa.z pb.x | pb.y pb.z pc.x pc.y | pc.z N.x N.y N.z.
        __m128 a0 = _mm_loadu_ps(&r[0]->corners.c[0][0]), a1 = _mm_loadu_ps(&r[1]->corners.c[0][0]),
               a2 = _mm_loadu_ps(&r[2]->corners.c[0][0]), a3 = _mm_loadu_ps(&r[3]->corners.c[0][0]);
        __m128 b0 = _mm_loadu_ps(&r[0]->corners.c[1][1]), b1 = _mm_loadu_ps(&r[1]->corners.c[1][1]),
               b2 = _mm_loadu_ps(&r[2]->corners.c[1][1]), b3 = _mm_loadu_ps(&r[3]->corners.c[1][1]);
        __m128 c0 = _mm_loadu_ps(&r[0]->corners.c[2][2]), c1 = _mm_loadu_ps(&r[1]->corners.c[2][2]),
               c2 = _mm_loadu_ps(&r[2]->corners.c[2][2]), c3 = _mm_loadu_ps(&r[3]->corners.c[2][2]);
        _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
        _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
        _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
        const __m128 pax = a0, pay = a1, paz = a2, pbx = a3, pby = b0, pbz = b1, pcx = b2, pcy = b3, pcz = c0;
        const __m128 nx = c1, ny = c2, nz = c3;

        // ray·N, which is also N·ray: the products commute exactly and the
        // sums run in the same order.
        const __m128 rn = _mm_add_ps(_mm_add_ps(_mm_mul_ps(rx, nx), _mm_mul_ps(ry, ny)), _mm_mul_ps(rz, nz));
        // r = ray, negated where ray·N < 0.
        const __m128 flip = _mm_and_ps(_mm_cmplt_ps(rn, _mm_setzero_ps()), _mm_set1_ps(-0.0f));
        const __m128 sx = _mm_xor_ps(rx, flip), sy = _mm_xor_ps(ry, flip), sz = _mm_xor_ps(rz, flip);

        const __m128 dax = _mm_sub_ps(pax, fx), day = _mm_sub_ps(pay, fy), daz = _mm_sub_ps(paz, fz);
        const __m128 dbx = _mm_sub_ps(pbx, fx), dby = _mm_sub_ps(pby, fy), dbz = _mm_sub_ps(pbz, fz);
        const __m128 dcx = _mm_sub_ps(pcx, fx), dcy = _mm_sub_ps(pcy, fy), dcz = _mm_sub_ps(pcz, fz);

        const __m128 s1 = tripleProduct(dax, day, daz, dbx, dby, dbz, sx, sy, sz);
        const __m128 s2 = tripleProduct(dbx, dby, dbz, dcx, dcy, dcz, sx, sy, sz);
        const __m128 s3 = tripleProduct(dcx, dcy, dcz, dax, day, daz, sx, sy, sz);
        const __m128 zero = _mm_setzero_ps();
        const __m128 pass =
            _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(s1, zero), _mm_cmplt_ps(s2, zero)), _mm_cmpge_ps(s3, zero));

        const __m128 num =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, dax), _mm_mul_ps(ny, day)), _mm_mul_ps(nz, daz));
        _mm_storeu_ps(t, _mm_div_ps(num, rn));
        return _mm_movemask_ps(pass);
    }

private:
    __m128 fx, fy, fz, rx, ry, rz;

    // (a × b)·s, each component and the sum in the scalar order.
    static __m128 tripleProduct(__m128 ax, __m128 ay, __m128 az, __m128 bx, __m128 by, __m128 bz, __m128 sx,
                                __m128 sy, __m128 sz) {
        const __m128 cx = _mm_sub_ps(_mm_mul_ps(ay, bz), _mm_mul_ps(az, by));
        const __m128 cy = _mm_sub_ps(_mm_mul_ps(az, bx), _mm_mul_ps(ax, bz));
        const __m128 cz = _mm_sub_ps(_mm_mul_ps(ax, by), _mm_mul_ps(ay, bx));
        return _mm_add_ps(_mm_add_ps(_mm_mul_ps(cx, sx), _mm_mul_ps(cy, sy)), _mm_mul_ps(cz, sz));
    }
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

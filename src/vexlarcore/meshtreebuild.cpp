// The builder of the triangle partition tree, writing the compact layout
// directly.
//
// The tree is defined recursively: a node with more than `leafSize`
// triangles (and a bad-split counter of at most 3) is cut at the midpoint of
// its box's longest axis; every triangle goes to the half or halves it
// overlaps; the low child is built before the high one. The same order is
// kept here with explicit stacks, so that degenerate input (paths thousands
// of levels deep) cannot exhaust the call stack, and so that nodes come out
// in depth-first order with the low child right after its parent, which is
// the compact layout. Nothing is allocated per node.
#include "vexlarcore/meshtree.h"

#if defined(__SSE2__)
#include "vexlarcore/simd/lanes_sse.h"

#include <xmmintrin.h>
#endif

#include <cstddef>
#include <limits>
#include <vector>

namespace vexlar {

std::uint32_t leafs = 0;
std::uint32_t leafst = 0;
float foo1 = 0;
float foo2 = 0;

triangleRecord_t triangleRecord_t::of(const triangle_t& t) {
    triangleRecord_t r;
    const point3d_t* v[3] = {t.pa, t.pb, t.pc};
    for (int k = 0; k < 3; ++k) {
        r.corners.c[k][0] = v[k]->x;
        r.corners.c[k][1] = v[k]->y;
        r.corners.c[k][2] = v[k]->z;
    }
    r.n[0] = t.N.x;
    r.n[1] = t.N.y;
    r.n[2] = t.N.z;
    return r;
}

namespace {

const std::size_t noParent = std::numeric_limits<std::size_t>::max();
const std::size_t maxNodes = std::size_t(1) << 30;
const std::size_t maxItems = std::size_t(0xffffffffu);

// Where a triangle goes: the codes of cheapPosition (0 undecided, 1 low, 2
// high, 3 both).
const unsigned char undecided = 0, lowSide = 1, highSide = 2, bothSides = 3;

// A subtree still to build. Its triangles are the range [begin, end) of the
// work arena, used as a stack: the task on top of `todo` owns the top of it.
struct task_t {
    std::size_t begin, end;
    bound_t box;
    unsigned depth;
    unsigned badSplits;
    std::size_t parent; // index into `open`, or noParent
    int side;           // 0: the parent's low child, 1: its high child
};

// An interior node whose children are not finished yet, collecting their
// average leaf depths and sizes.
struct openNode_t {
    std::uint32_t node;
    float avgDepth[2];
    float avgSize[2];
    int done;
    std::size_t parent;
    int side;
};

// The axis with the largest extent; ties prefer x, then y.
int longestAxis(const bound_t& b) {
    const float dx = b.g.x - b.a.x, dy = b.g.y - b.a.y, dz = b.g.z - b.a.z;
    if (dx >= dy && dx >= dz) return 0;
    return dy >= dz ? 1 : 2;
}

// The midpoint of the box along `axis`, in double precision, rounded.
float midpoint(const bound_t& b, int axis) {
    return static_cast<float>(
        (static_cast<double>(axisValue(b.a, axis)) + static_cast<double>(axisValue(b.g, axis))) / 2.0);
}

float& axisRef(point3d_t& p, int axis) {
    return axis == 0 ? p.x : (axis == 1 ? p.y : p.z);
}

// The classification of cheapPosition on a record. NaN coordinates classify
// as in the vertex-by-vertex formulation (a NaN never lies on the other side).
unsigned char classify(const triangleCorners_t& t, const float lo[3], const float hi[3], float pos,
                       int axis) {
    const int u = axis == 0 ? 1 : 0;
    const int v = axis == 2 ? 1 : 2;
    bool outside = false;
    for (int k = 0; k < 3; ++k) {
        const float pu = t.c[k][u], pv = t.c[k][v];
        outside |= (pu < lo[u]) | (pu > hi[u]) | (pv < lo[v]) | (pv > hi[v]);
    }
    const unsigned char base = outside ? undecided : bothSides;
    const float c0 = t.c[0][axis], c1 = t.c[1][axis], c2 = t.c[2][axis];
    if (c0 == pos) return base;
    if (c0 < pos) return (!(c1 >= pos) & !(c2 >= pos)) ? lowSide : base;
    return (!(c1 <= pos) & !(c2 <= pos)) ? highSide : base;
}

#if defined(__SSE2__)

// classify() of four records at once, lane by lane with the same comparisons
// (false for NaN, as the scalar ones). `out` receives the four codes.
void classify4(const triangleRecord_t* const r[4], const float lo[3], const float hi[3], float pos, int axis,
               unsigned char out[4]) {
    typedef sseLanes_t L;
    __m128 a0 = _mm_load_ps(&r[0]->corners.c[0][0]), a1 = _mm_load_ps(&r[1]->corners.c[0][0]),
           a2 = _mm_load_ps(&r[2]->corners.c[0][0]), a3 = _mm_load_ps(&r[3]->corners.c[0][0]);
    __m128 b0 = _mm_load_ps(&r[0]->corners.c[1][1]), b1 = _mm_load_ps(&r[1]->corners.c[1][1]),
           b2 = _mm_load_ps(&r[2]->corners.c[1][1]), b3 = _mm_load_ps(&r[3]->corners.c[1][1]);
    __m128 c0 = _mm_load_ss(&r[0]->corners.c[2][2]), c1 = _mm_load_ss(&r[1]->corners.c[2][2]),
           c2 = _mm_load_ss(&r[2]->corners.c[2][2]), c3 = _mm_load_ss(&r[3]->corners.c[2][2]);
    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
    _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    // coord[vertex][axis]
    const __m128 coord[3][3] = {{a0, a1, a2}, {a3, b0, b1}, {b2, b3, c0}};
    const int u = axis == 0 ? 1 : 0;
    const int v = axis == 2 ? 1 : 2;
    const __m128 loU = L::set1(lo[u]), hiU = L::set1(hi[u]), loV = L::set1(lo[v]), hiV = L::set1(hi[v]);
    __m128 outside = L::zero();
    for (int k = 0; k < 3; ++k) {
        const __m128 pu = coord[k][u], pv = coord[k][v];
        outside = L::bitOr(outside, L::bitOr(L::bitOr(L::lt(pu, loU), L::gt(pu, hiU)),
                                             L::bitOr(L::lt(pv, loV), L::gt(pv, hiV))));
    }
    const __m128 p = L::set1(pos);
    const __m128 x0 = coord[0][axis], x1 = coord[1][axis], x2 = coord[2][axis];
    const __m128 below = L::lt(x0, p);
    const __m128 low = L::andNot(L::bitOr(L::ge(x1, p), L::ge(x2, p)), below);
    // Above: not on the plane, not below, and neither other vertex at or
    // below it (so also a NaN position, as in the scalar form).
    const __m128 notHigh = L::bitOr(L::bitOr(L::eq(x0, p), below), L::bitOr(L::le(x1, p), L::le(x2, p)));
    const int ob = L::bits(outside), lb = L::bits(low), hb = ~L::bits(notHigh) & 15;
    for (int k = 0; k < 4; ++k) {
        out[k] = ((lb >> k) & 1)   ? lowSide
                 : ((hb >> k) & 1) ? highSide
                 : ((ob >> k) & 1) ? undecided
                                   : bothSides;
    }
}

#endif

// The counter of a child: one up when the split left it every triangle of
// its parent, otherwise one down, never below 0.
unsigned childBadSplits(std::size_t childSize, std::size_t n, unsigned badSplits) {
    if (childSize == n) return badSplits + 1;
    return badSplits > 0 ? badSplits - 1 : 0;
}

float half(float sum) {
    return static_cast<float>(static_cast<double>(sum) / 2.0);
}

} // namespace

int cheapPosition(const triangle_t& tri, const bound_t& bound, float pos, int axis) {
    // Other axis values read as z, as everywhere else in the tree code.
    const float lo[3] = {bound.a.x, bound.a.y, bound.a.z};
    const float hi[3] = {bound.g.x, bound.g.y, bound.g.z};
    return classify(triangleRecord_t::of(tri).corners, lo, hi, pos, (axis == 0 || axis == 1) ? axis : 2);
}

namespace {

class splitBuilder_t {
public:
    splitBuilder_t(const podArray_t<triangleRecord_t>& records, unsigned leafSize,
                   podArray_t<compactNode_t>& nodes, podArray_t<std::uint32_t>& items)
        : records(records), leafSize(leafSize), nodes(nodes), items(items) {}

    // Builds the whole tree; false when it outgrows the compact indices.
    bool run(const bound_t& bound, unsigned depth, unsigned badSplits, float& avgDepth, float& avgSize) {
        const std::size_t n = records.size();
        arena.resize(n);
        for (std::size_t i = 0; i < n; ++i) arena[i] = static_cast<std::uint32_t>(i);
        firstDepth = depth;
        todo.push_back(task_t{0, n, bound, depth, badSplits, noParent, 0});
        while (!todo.empty()) {
            const task_t task = todo.back();
            todo.pop_back();
            if (nodes.size() >= maxNodes) return false;
            linkToParent(task);
            if (task.end - task.begin > leafSize && task.badSplits <= 3) {
                split(task);
            } else {
                if (!emitLeaf(task)) return false;
                passAveragesUp(task, avgDepth, avgSize);
            }
        }
        return true;
    }

    unsigned levels() const { return maxLevels; }

private:
    const podArray_t<triangleRecord_t>& records;
    const unsigned leafSize;
    podArray_t<compactNode_t>& nodes;
    podArray_t<std::uint32_t>& items;

    podArray_t<std::uint32_t> arena;
    podArray_t<std::uint32_t> low, high;   // the halves of one split
    podArray_t<unsigned char> where;       // per triangle of one split
    podArray_t<std::uint32_t> undecidedAt; // positions in the split's range
    std::vector<task_t> todo;
    std::vector<openNode_t> open;
    unsigned firstDepth = 1;
    unsigned maxLevels = 0;

    // A high child patches its index into its parent; a low child needs
    // nothing (it follows its parent).
    void linkToParent(const task_t& task) {
        if (task.parent == noParent || task.side == 0) return;
        nodes[open[task.parent].node].word |= static_cast<std::uint32_t>(nodes.size()) << 2;
    }

    // Cuts the task's box in half, sends its triangles to the halves and
    // queues both children, low on top.
    void split(const task_t& task) {
        const int axis = longestAxis(task.box);
        const float pos = midpoint(task.box, axis);
        bound_t lowBox = task.box, highBox = task.box;
        axisRef(lowBox.g, axis) = pos;
        axisRef(highBox.a, axis) = pos;

        classifyRange(task, axis, pos);
        settleUndecided(task, lowBox, highBox);
        distribute(task);

        compactNode_t node;
        node.pos = pos;
        node.word = static_cast<std::uint32_t>(axis);
        nodes.push_back(node);
        const std::size_t n = task.end - task.begin;
        open.push_back(openNode_t{
            static_cast<std::uint32_t>(nodes.size() - 1), {0, 0}, {0, 0}, 0, task.parent, task.side});
        const std::size_t me = open.size() - 1;
        // The children replace this task's range: high first, low on top.
        arena.resize(task.begin);
        arena.append(high.data(), high.size());
        arena.append(low.data(), low.size());
        const std::size_t mid = task.begin + high.size();
        todo.push_back(task_t{task.begin, mid, highBox, task.depth + 1,
                              childBadSplits(high.size(), n, task.badSplits), me, 1});
        todo.push_back(task_t{mid, arena.size(), lowBox, task.depth + 1,
                              childBadSplits(low.size(), n, task.badSplits), me, 0});
    }

    // The vertex classification of every triangle of the task; the ones it
    // cannot place are listed for the exact test.
    void classifyRange(const task_t& task, int axis, float pos) {
        const std::size_t n = task.end - task.begin;
        const float lo[3] = {task.box.a.x, task.box.a.y, task.box.a.z};
        const float hi[3] = {task.box.g.x, task.box.g.y, task.box.g.z};
        where.resize(n);
        undecidedAt.resize(n);
        std::size_t undecidedCount = 0;
        const std::uint32_t* refs = arena.data() + task.begin;
        std::size_t j = 0;
#if defined(__SSE2__)
        for (; j + 4 <= n; j += 4) {
            const triangleRecord_t* r[4] = {&records[refs[j]], &records[refs[j + 1]], &records[refs[j + 2]],
                                            &records[refs[j + 3]]};
            classify4(r, lo, hi, pos, axis, &where[j]);
            for (int k = 0; k < 4; ++k) {
                undecidedAt[undecidedCount] = static_cast<std::uint32_t>(j + k);
                undecidedCount += where[j + k] == undecided ? 1 : 0;
            }
        }
#endif
        for (; j < n; ++j) {
            where[j] = classify(records[refs[j]].corners, lo, hi, pos, axis);
            undecidedAt[undecidedCount] = static_cast<std::uint32_t>(j);
            undecidedCount += where[j] == undecided ? 1 : 0;
        }
        undecidedAt.resize(undecidedCount);
    }

    // The exact overlap test against both halves, four triangles at a time.
    // Overlapping one half sends the triangle there; overlapping both, or
    // neither (it only grazes the box within rounding), sends it to both.
    void settleUndecided(const task_t& task, const bound_t& lowBox, const bound_t& highBox) {
        const std::uint32_t* refs = arena.data() + task.begin;
        const std::size_t count = undecidedAt.size();
        for (std::size_t j = 0; j < count; j += 4) {
            const int m = static_cast<int>(count - j < 4 ? count - j : 4);
            const triangleRecord_t* batch[4];
            for (int k = 0; k < m; ++k) batch[k] = &records[refs[undecidedAt[j + k]]];
            bool inLow[4], inHigh[4];
            triBoxOverlapPair(lowBox, highBox, batch, m, inLow, inHigh);
            for (int k = 0; k < m; ++k)
                where[undecidedAt[j + k]] = (inLow[k] && !inHigh[k])   ? lowSide
                                            : (inHigh[k] && !inLow[k]) ? highSide
                                                                       : bothSides;
        }
    }

    // The two halves' lists, each in the task's order.
    void distribute(const task_t& task) {
        const std::size_t n = task.end - task.begin;
        const std::uint32_t* refs = arena.data() + task.begin;
        low.resize(n);
        high.resize(n);
        std::size_t nl = 0, nh = 0;
        for (std::size_t j = 0; j < n; ++j) {
            low[nl] = refs[j];
            high[nh] = refs[j];
            nl += where[j] != highSide ? 1 : 0;
            nh += where[j] != lowSide ? 1 : 0;
        }
        low.resize(nl);
        high.resize(nh);
    }

    bool emitLeaf(const task_t& task) {
        const std::size_t n = task.end - task.begin;
        if (items.size() + n > maxItems || n >= maxNodes) return false;
        if (n > 0) {
            ++leafs;
            leafst += static_cast<std::uint32_t>(n);
        }
        compactNode_t node;
        node.begin = static_cast<std::uint32_t>(items.size());
        node.word = (static_cast<std::uint32_t>(n) << 2) | 3u;
        nodes.push_back(node);
        items.append(arena.data() + task.begin, n);
        arena.resize(task.begin);
        const unsigned levels = task.depth - firstDepth + 1;
        if (levels > maxLevels) maxLevels = levels;
        return true;
    }

    // Hands the leaf's depth and size to its parent; every interior node the
    // leaf completes averages its two children and passes that on up.
    void passAveragesUp(const task_t& task, float& avgDepth, float& avgSize) {
        float d = static_cast<float>(task.depth);
        float s = static_cast<float>(task.end - task.begin);
        std::size_t parent = task.parent;
        int side = task.side;
        while (true) {
            if (parent == noParent) {
                avgDepth = d;
                avgSize = s;
                return;
            }
            openNode_t& o = open[parent];
            o.avgDepth[side] = d;
            o.avgSize[side] = s;
            if (++o.done < 2) return;
            d = half(o.avgDepth[0] + o.avgDepth[1]);
            s = half(o.avgSize[0] + o.avgSize[1]);
            side = o.side;
            const std::size_t up = o.parent;
            // Children finish before their parent, so a finished node is the
            // last open one.
            open.resize(parent);
            parent = up;
        }
    }
};

} // namespace

bool meshTree_t::build(podArray_t<triangleRecord_t>&& recs, const bound_t& bound, unsigned leafSize,
                       unsigned depth0, unsigned badSplits, float& avgDepth, float& avgSize) {
    clear();
    records = std::move(recs);
    if (records.size() > maxItems) {
        records.clear();
        return false;
    }
    // The counters are only published for a tree that is kept.
    const std::uint32_t leafs0 = leafs, leafst0 = leafst;
    float d = 0, s = 0;
    bool ok;
    {
        splitBuilder_t builder(records, leafSize, nodes, items);
        ok = builder.run(bound, depth0, badSplits, d, s);
        depth = builder.levels();
    }
    if (!ok) {
        leafs = leafs0;
        leafst = leafst0;
        clear();
        return false;
    }
    nodes.shrink_to_fit();
    items.shrink_to_fit();
    avgDepth = this->avgDepth = d;
    avgSize = this->avgSize = s;
    return true;
}

} // namespace vexlar

#include "vexlarcore/bsptree.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace vexlar {

std::uint32_t leafs = 0;
std::uint32_t leafst = 0;
float foo1 = 0;
float foo2 = 0;

namespace {

// ---------------------------------------------------------------------------
// Builder

// The corners of one triangle, copied out of the mesh so that classifying
// it reads one small record instead of chasing four pointers.
struct packedTriangle_t {
    float c[3][3]; // c[vertex][axis]

    point3d_t corner(int k) const { return point3d_t(c[k][0], c[k][1], c[k][2]); }
};

struct packedBox_t {
    float a[3], g[3];
    explicit packedBox_t(const bound_t& b) : a{b.a.x, b.a.y, b.a.z}, g{b.g.x, b.g.y, b.g.z} {}
};

// The classification of cheapPosition on copied corners. The comparisons
// are arranged without data-dependent branches where possible; NaN
// coordinates classify exactly as in the vertex-by-vertex formulation (a NaN
// never counts as lying on the other side).
int classify(const packedTriangle_t& t, const packedBox_t& box, float pos, int axis) {
    const int u = axis == 0 ? 1 : 0;
    const int v = axis == 2 ? 1 : 2;
    bool outside = false;
    for (int k = 0; k < 3; ++k) {
        const float pu = t.c[k][u], pv = t.c[k][v];
        outside |= (pu < box.a[u]) | (pu > box.g[u]) | (pv < box.a[v]) | (pv > box.g[v]);
    }
    const int base = outside ? 0 : 3;

    const float c0 = t.c[0][axis], c1 = t.c[1][axis], c2 = t.c[2][axis];
    if (c0 == pos) return base;
    if (c0 < pos) return (!(c1 >= pos) & !(c2 >= pos)) ? 1 : base;
    return (!(c1 <= pos) & !(c2 <= pos)) ? 2 : base;
}

packedTriangle_t pack(const triangle_t& t) {
    packedTriangle_t p;
    const point3d_t* v[3] = {t.pa, t.pb, t.pc};
    for (int k = 0; k < 3; ++k) {
        p.c[k][0] = v[k]->x;
        p.c[k][1] = v[k]->y;
        p.c[k][2] = v[k]->z;
    }
    return p;
}

float& axisRef(point3d_t& p, int axis) {
    return axis == 0 ? p.x : (axis == 1 ? p.y : p.z);
}

// A node of the tree under construction; children and leaf contents are
// indices, so nothing is allocated per node until the finished tree is laid
// out.
struct draftNode_t {
    float pos;
    int axis;
    std::uint32_t left, right;        // interior node: draft indices of the children
    std::size_t itemsBegin, itemsEnd; // leaf: its range in the leaf item array
    bool leaf;
};

// A subtree still to build. Its triangles (positions in the input list,
// ascending) are the range [begin, end) of the work arena, which is used as
// a stack: a task on top of `todo` always owns the top of the arena.
struct buildTask_t {
    std::size_t begin, end;
    bound_t box;
    unsigned depth;
    unsigned badSplits;
    std::size_t parent; // index into the open interior nodes, or noParent
    int side;           // 0: parent's low child, 1: its high child
};

// An interior node whose children are not finished yet.
struct openNode_t {
    std::uint32_t node;
    float avgDepth[2];
    float avgSize[2];
    int done;
    std::size_t parent;
    int side;
};

const std::size_t noParent = std::numeric_limits<std::size_t>::max();

// The counter of a child: one up when the split left it with every triangle
// of its parent, otherwise one down, never below 0.
unsigned childBadSplits(std::size_t childSize, std::size_t n, unsigned badSplits) {
    if (childSize == n) return badSplits + 1;
    return badSplits > 0 ? badSplits - 1 : 0;
}

float half(float sum) {
    return static_cast<float>(static_cast<double>(sum) / 2.0);
}

// Allocates the finished tree in depth-first order, each node next to its
// leaf list, so that a ray walking down a branch touches neighbouring memory.
triangleTree_t* layOut(const std::vector<draftNode_t>& draft, const std::vector<std::uint32_t>& items,
                       const std::vector<triangle_t*>& input) {
    triangleTree_t* root = nullptr;
    std::vector<std::pair<std::uint32_t, triangleTree_t**>> pending{{0u, &root}};
    while (!pending.empty()) {
        const std::pair<std::uint32_t, triangleTree_t**> next = pending.back();
        pending.pop_back();
        const draftNode_t& d = draft[next.first];
        if (d.leaf) {
            auto* list = new triangleList_t();
            list->reserve(d.itemsEnd - d.itemsBegin);
            for (std::size_t i = d.itemsBegin; i < d.itemsEnd; ++i) list->push_back(input[items[i]]);
            *next.second = new triangleTree_t(list);
        } else {
            triangleTree_t* node = new triangleTree_t(d.pos, d.axis, nullptr, nullptr);
            *next.second = node;
            pending.push_back({d.right, &node->right});
            pending.push_back({d.left, &node->left});
        }
    }
    return root;
}

} // namespace

triangleTree_t* buildTriangleTree(triangleList_t* tris, const bound_t& bound, unsigned leafSize,
                                  unsigned depth, unsigned badSplits, float& avgDepth, float& avgSize) {
    const std::size_t total = tris->size();
    if (total <= leafSize || badSplits > 3) {
        // A leaf at once: it keeps the caller's list.
        if (total > 0) {
            ++leafs;
            leafst += static_cast<std::uint32_t>(total);
        }
        avgDepth = static_cast<float>(depth);
        avgSize = static_cast<float>(total);
        return new triangleTree_t(tris);
    }

    // The natural formulation recurses into the low child and then the high
    // child. The same order is kept here with explicit stacks: `todo` holds
    // the subtrees still to build (low child on top), `open` the interior
    // nodes waiting for their children's averages. Degenerate input can make
    // paths thousands of levels deep, which must not depend on the size of
    // the caller's stack.
    std::vector<triangle_t*> input;
    input.swap(*tris);
    delete tris;
    std::vector<packedTriangle_t> packed;
    packed.reserve(total);
    for (const triangle_t* t : input) packed.push_back(pack(*t));

    std::vector<std::uint32_t> arena(total);
    for (std::size_t i = 0; i < total; ++i) arena[i] = static_cast<std::uint32_t>(i);
    std::vector<std::uint32_t> low, high; // scratch for one split
    std::vector<std::uint32_t> leafItems;
    std::vector<draftNode_t> draft;
    std::vector<buildTask_t> todo;
    std::vector<openNode_t> open;
    todo.push_back(buildTask_t{0, total, bound, depth, badSplits, noParent, 0});

    while (!todo.empty()) {
        const buildTask_t task = todo.back();
        todo.pop_back();
        const std::size_t n = task.end - task.begin;
        const std::uint32_t self = static_cast<std::uint32_t>(draft.size());
        if (task.parent != noParent) {
            draftNode_t& parent = draft[open[task.parent].node];
            (task.side == 0 ? parent.left : parent.right) = self;
        }

        if (n > leafSize && task.badSplits <= 3) {
            const bound_t& b = task.box;
            const float dx = b.g.x - b.a.x, dy = b.g.y - b.a.y, dz = b.g.z - b.a.z;
            int axis;
            if (dx >= dy && dx >= dz)
                axis = 0;
            else if (dy >= dz)
                axis = 1;
            else
                axis = 2;
            const float pos = static_cast<float>(
                (static_cast<double>(axisValue(b.a, axis)) + static_cast<double>(axisValue(b.g, axis))) /
                2.0);
            bound_t lowBox = b, highBox = b;
            axisRef(lowBox.g, axis) = pos;
            axisRef(highBox.a, axis) = pos;

            const packedBox_t pb(b);
            low.clear();
            high.clear();
            for (std::size_t j = task.begin; j < task.end; ++j) {
                const std::uint32_t i = arena[j];
                const packedTriangle_t& t = packed[i];
                int k = classify(t, pb, pos, axis);
                if (k == 0) {
                    const point3d_t p0 = t.corner(0), p1 = t.corner(1), p2 = t.corner(2);
                    const bool inLow = triBoxOverlap(lowBox, p0, p1, p2);
                    const bool inHigh = triBoxOverlap(highBox, p0, p1, p2);
                    // A triangle the exact test puts in neither half (it only
                    // grazes the box within rounding) is kept on both sides.
                    k = (inLow && !inHigh) ? 1 : ((inHigh && !inLow) ? 2 : 3);
                }
                if (k != 2) low.push_back(i);
                if (k != 1) high.push_back(i);
            }

            draft.push_back(draftNode_t{pos, axis, 0, 0, 0, 0, false});
            open.push_back(openNode_t{self, {0, 0}, {0, 0}, 0, task.parent, task.side});
            const std::size_t me = open.size() - 1;
            // The children replace this task's range: high first, low on top.
            arena.resize(task.begin);
            arena.insert(arena.end(), high.begin(), high.end());
            arena.insert(arena.end(), low.begin(), low.end());
            const std::size_t mid = task.begin + high.size();
            todo.push_back(buildTask_t{task.begin, mid, highBox, task.depth + 1,
                                       childBadSplits(high.size(), n, task.badSplits), me, 1});
            todo.push_back(buildTask_t{mid, arena.size(), lowBox, task.depth + 1,
                                       childBadSplits(low.size(), n, task.badSplits), me, 0});
            continue;
        }

        // A leaf.
        if (n > 0) {
            ++leafs;
            leafst += static_cast<std::uint32_t>(n);
        }
        draft.push_back(draftNode_t{0, 0, 0, 0, leafItems.size(), leafItems.size() + n, true});
        leafItems.insert(leafItems.end(), arena.begin() + static_cast<std::ptrdiff_t>(task.begin),
                         arena.begin() + static_cast<std::ptrdiff_t>(task.end));
        arena.resize(task.begin);

        // Pass the averages up through every interior node the leaf completes.
        float d = static_cast<float>(task.depth);
        float s = static_cast<float>(n);
        std::size_t parent = task.parent;
        int side = task.side;
        while (true) {
            if (parent == noParent) {
                avgDepth = d;
                avgSize = s;
                break;
            }
            openNode_t& o = open[parent];
            o.avgDepth[side] = d;
            o.avgSize[side] = s;
            if (++o.done < 2) break;
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

    // Release the scratch before laying out, so the tree's small blocks come
    // from fresh memory in walk order.
    std::vector<std::uint32_t>().swap(arena);
    std::vector<std::uint32_t>().swap(low);
    std::vector<std::uint32_t>().swap(high);
    std::vector<packedTriangle_t>().swap(packed);
    return layOut(draft, leafItems, input);
}

flatTriangleTree_t::flatTriangleTree_t(const triangleTree_t* tree) {
    if (tree == nullptr) return;
    const std::uint32_t maxIndex = (1u << 30) - 1;
    // Depth first, low child right after its parent; the high child's index
    // is patched into its parent when the child is placed.
    std::vector<std::pair<const triangleTree_t*, std::size_t>> pending{{tree, 0}};
    const std::size_t noPatch = std::numeric_limits<std::size_t>::max();
    pending.back().second = noPatch;
    while (!pending.empty()) {
        const std::pair<const triangleTree_t*, std::size_t> next = pending.back();
        pending.pop_back();
        const std::size_t self = nodes.size();
        if (self > maxIndex || items.size() > maxIndex) {
            nodes.clear();
            items.clear();
            return;
        }
        if (next.second != noPatch) nodes[next.second].word |= static_cast<std::uint32_t>(self) << 2;
        const triangleTree_t* n = next.first;
        flatNode_t f;
        if (n->isLeaf()) {
            if (n->data->size() > maxIndex) {
                nodes.clear();
                items.clear();
                return;
            }
            f.begin = static_cast<std::uint32_t>(items.size());
            f.word = (static_cast<std::uint32_t>(n->data->size()) << 2) | 3u;
            items.insert(items.end(), n->data->begin(), n->data->end());
        } else {
            f.pos = n->pos;
            // Any axis value other than 0 and 1 reads as z, as in planeCrossInv.
            f.word = n->axis == 0 ? 0u : (n->axis == 1 ? 1u : 2u);
            pending.push_back({n->right, self});
            pending.push_back({n->left, noPatch});
        }
        nodes.push_back(f);
    }
}

int cheapPosition(const triangle_t& tri, const bound_t& bound, float pos, int axis) {
    // Other axis values read as z, as everywhere else in the tree code.
    return classify(pack(tri), packedBox_t(bound), pos, (axis == 0 || axis == 1) ? axis : 2);
}

bool planeBoxOverlap(const vector3d_t& normal, float d, const point3d_t& maxbox) {
    vector3d_t vmin, vmax;
    const float n[3] = {normal.x, normal.y, normal.z};
    const float m[3] = {maxbox.x, maxbox.y, maxbox.z};
    float lo[3], hi[3];
    for (int q = 0; q < 3; ++q) {
        if (n[q] > 0.0f) {
            lo[q] = -m[q];
            hi[q] = m[q];
        } else {
            lo[q] = m[q];
            hi[q] = -m[q];
        }
    }
    vmin.set(lo[0], lo[1], lo[2]);
    vmax.set(hi[0], hi[1], hi[2]);
    if (normal * vmin + d > 0.0f) return false;
    return normal * vmax + d >= 0.0f;
}

namespace {

// One separating-axis test: the projections p and q of two vertices on the
// axis against the box's projected radius.
inline bool separated(float p, float q, float rad) {
    const float mn = p < q ? p : q;
    const float mx = p < q ? q : p;
    return mn > rad || mx < -rad;
}

inline void minMax3(float a, float b, float c, float& mn, float& mx) {
    mn = mx = a;
    if (b < mn) mn = b;
    if (b > mx) mx = b;
    if (c < mn) mn = c;
    if (c > mx) mx = c;
}

} // namespace

bool triBoxOverlap(const bound_t& box, const point3d_t& p1, const point3d_t& p2, const point3d_t& p3) {
    const point3d_t m((box.a.x + box.g.x) * 0.5f, (box.a.y + box.g.y) * 0.5f, (box.a.z + box.g.z) * 0.5f);
    const point3d_t h(box.g.x - m.x, box.g.y - m.y, box.g.z - m.z);
    const vector3d_t v0 = p1 - m, v1 = p2 - m, v2 = p3 - m;
    const vector3d_t e0 = v1 - v0, e1 = v2 - v1, e2 = v0 - v2;

    // The nine axes edge x unit axis. For each, the third vertex projects
    // onto one of the two tested.
    float fex = std::fabs(e0.x), fey = std::fabs(e0.y), fez = std::fabs(e0.z);
    if (separated(e0.z * v0.y - e0.y * v0.z, e0.z * v2.y - e0.y * v2.z, fez * h.y + fey * h.z)) return false;
    if (separated(-e0.z * v0.x + e0.x * v0.z, -e0.z * v2.x + e0.x * v2.z, fez * h.x + fex * h.z))
        return false;
    if (separated(e0.y * v1.x - e0.x * v1.y, e0.y * v2.x - e0.x * v2.y, fey * h.x + fex * h.y)) return false;

    fex = std::fabs(e1.x), fey = std::fabs(e1.y), fez = std::fabs(e1.z);
    if (separated(e1.z * v0.y - e1.y * v0.z, e1.z * v2.y - e1.y * v2.z, fez * h.y + fey * h.z)) return false;
    if (separated(-e1.z * v0.x + e1.x * v0.z, -e1.z * v2.x + e1.x * v2.z, fez * h.x + fex * h.z))
        return false;
    if (separated(e1.y * v0.x - e1.x * v0.y, e1.y * v1.x - e1.x * v1.y, fey * h.x + fex * h.y)) return false;

    fex = std::fabs(e2.x), fey = std::fabs(e2.y), fez = std::fabs(e2.z);
    if (separated(e2.z * v0.y - e2.y * v0.z, e2.z * v1.y - e2.y * v1.z, fez * h.y + fey * h.z)) return false;
    if (separated(-e2.z * v0.x + e2.x * v0.z, -e2.z * v1.x + e2.x * v1.z, fez * h.x + fex * h.z))
        return false;
    if (separated(e2.y * v1.x - e2.x * v1.y, e2.y * v2.x - e2.x * v2.y, fey * h.x + fex * h.y)) return false;

    // The box's face normals.
    float mn, mx;
    minMax3(v0.x, v1.x, v2.x, mn, mx);
    if (mn > h.x || mx < -h.x) return false;
    minMax3(v0.y, v1.y, v2.y, mn, mx);
    if (mn > h.y || mx < -h.y) return false;
    minMax3(v0.z, v1.z, v2.z, mn, mx);
    if (mn > h.z || mx < -h.z) return false;

    // The triangle's plane.
    const vector3d_t normal = e0 ^ e1;
    const float d = -(normal * v0);
    return planeBoxOverlap(normal, d, h);
}

bound_t paddedBound(const point3d_t& mn, const point3d_t& mx) {
    const double e = 1e-5;
    return bound_t(
        point3d_t(static_cast<float>(mn.x - e), static_cast<float>(mn.y - e), static_cast<float>(mn.z - e)),
        point3d_t(static_cast<float>(mx.x + e), static_cast<float>(mx.y + e), static_cast<float>(mx.z + e)));
}

bound_t face_calc_bound(const std::vector<triangle_t*>& tris) {
    if (tris.empty()) return bound_t();
    point3d_t mn = *tris[0]->pa, mx = mn;
    for (const triangle_t* t : tris) {
        growExtent(mn, mx, *t->pa);
        growExtent(mn, mx, *t->pb);
        growExtent(mn, mx, *t->pc);
    }
    return paddedBound(mn, mx);
}

bool face_is_in_bound(const triangle_t* const& tri, bound_t& box) {
    const point3d_t* verts[3] = {tri->pa, tri->pb, tri->pc};
    for (const point3d_t* p : verts) {
        if (p->x >= box.a.x && p->x <= box.g.x && p->y >= box.a.y && p->y <= box.g.y && p->z >= box.a.z &&
            p->z <= box.g.z)
            return true;
    }
    return false;
}

point3d_t face_get_pos(const triangle_t* const& tri) {
    const float third = 1.0f / 3.0f;
    const point3d_t& a = *tri->pa;
    const point3d_t& b = *tri->pb;
    const point3d_t& c = *tri->pc;
    return point3d_t((a.x + b.x + c.x) * third, (a.y + b.y + c.y) * third, (a.z + b.z + c.z) * third);
}

// ---------------------------------------------------------------------------
// Exact classifier

bool intersectX(const point2d_t& p1, const point2d_t& p2, float x, float minY, float maxY, point2d_t& out) {
    if (p2.y != p1.y) {
        if (p2.x == p1.x) return false;
        const float u = (x - p1.x) / (p2.x - p1.x);
        if (u < 0.0f || u > 1.0f) return false;
        const float y = p1.y + u * (p2.y - p1.y);
        if (y < minY || y > maxY) return false;
        out = point2d_t(x, y);
        return true;
    }
    if (p1.y < minY || p1.y > maxY) return false;
    if (x < std::min(p1.x, p2.x) || x > std::max(p1.x, p2.x)) return false;
    out = point2d_t(x, p1.y);
    return true;
}

bool intersectY(const point2d_t& p1, const point2d_t& p2, float y, float minX, float maxX, point2d_t& out) {
    if (p2.x != p1.x) {
        if (p2.y == p1.y) return false;
        const float u = (y - p1.y) / (p2.y - p1.y);
        if (u < 0.0f || u > 1.0f) return false;
        const float x = p1.x + u * (p2.x - p1.x);
        if (x < minX || x > maxX) return false;
        out = point2d_t(x, y);
        return true;
    }
    if (p1.x < minX || p1.x > maxX) return false;
    if (y < std::min(p1.y, p2.y) || y > std::max(p1.y, p2.y)) return false;
    out = point2d_t(p1.x, y);
    return true;
}

namespace {

// Twice the signed area of (a, b, c).
inline float area2(const point2d_t& a, const point2d_t& b, const point2d_t& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

inline bool inSquare(float x, float y, const square_t& sq) {
    return x >= sq.minX && x <= sq.maxX && y >= sq.minY && y <= sq.maxY;
}

} // namespace

bool isInside(const point2d_t& p, const point2d_t& p1, const point2d_t& p2, const point2d_t& p3) {
    if (area2(p1, p2, p) * area2(p1, p2, p3) < 0.0f) return false;
    if (area2(p2, p3, p) * area2(p2, p3, p1) < 0.0f) return false;
    return area2(p3, p1, p) * area2(p3, p1, p2) >= 0.0f;
}

float exitDist(const point3d_t& from, const vector3d_t& dir, float maxDist, const square_t& sq) {
    float tmin = -std::numeric_limits<float>::infinity();
    float tmax = std::numeric_limits<float>::infinity();
    const float o[2] = {from.x, from.y};
    const float d[2] = {dir.x, dir.y};
    const float lo[2] = {sq.minX, sq.minY};
    const float hi[2] = {sq.maxX, sq.maxY};
    for (int i = 0; i < 2; ++i) {
        if (d[i] == 0.0f) {
            if (o[i] < lo[i] || o[i] > hi[i]) return -1.0f;
            continue;
        }
        float t0 = (lo[i] - o[i]) / d[i];
        float t1 = (hi[i] - o[i]) / d[i];
        if (t0 > t1) std::swap(t0, t1);
        if (t0 > tmin) tmin = t0;
        if (t1 < tmax) tmax = t1;
    }
    if (tmax <= maxDist && tmin <= tmax) return tmax;
    return -1.0f;
}

namespace {

// The heights (z) at which an edge from a to b, z growing or falling along
// it, leaves the square: the extreme height that edge reaches over it.
// Contributes nothing when the edge does not leave the square in [0, |b−a|].
bool edgeExitHeight(const point3d_t& a, const point3d_t& b, const square_t& sq, float& z) {
    vector3d_t dir = b - a;
    const float len = dir.length();
    if (len == 0.0f) return false;
    dir = dir / len;
    const float t = exitDist(a, dir, len, sq);
    if (t < 0.0f) return false;
    z = a.z + t * dir.z;
    return true;
}

} // namespace

int perpendicularPosition(const point3d_t& p1, const point3d_t& p2, const point3d_t& p3, const square_t& sq,
                          float pos) {
    point3d_t v[3] = {p1, p2, p3};
    std::sort(v, v + 3, [](const point3d_t& a, const point3d_t& b) { return a.z < b.z; });
    const point3d_t& lo = v[0];
    const point3d_t& mid = v[1];
    const point3d_t& hi = v[2];

    // The extremes of a planar piece over the square lie at vertices inside
    // it or where edges leave it; every edge is checked in both directions,
    // which covers faces whose highest and lowest parts over the square sit
    // on any of the three edges.
    float top = -std::numeric_limits<float>::infinity();
    float bottom = std::numeric_limits<float>::infinity();
    float z;
    if (inSquare(hi.x, hi.y, sq)) {
        top = hi.z;
    } else {
        if (edgeExitHeight(mid, hi, sq, z)) top = std::max(top, z);
        if (edgeExitHeight(lo, hi, sq, z)) top = std::max(top, z);
        if (inSquare(mid.x, mid.y, sq))
            top = std::max(top, mid.z);
        else if (edgeExitHeight(lo, mid, sq, z))
            top = std::max(top, z);
    }
    if (inSquare(lo.x, lo.y, sq)) {
        bottom = lo.z;
    } else {
        if (edgeExitHeight(mid, lo, sq, z)) bottom = std::min(bottom, z);
        if (edgeExitHeight(hi, lo, sq, z)) bottom = std::min(bottom, z);
        if (inSquare(mid.x, mid.y, sq))
            bottom = std::min(bottom, mid.z);
        else if (edgeExitHeight(hi, mid, sq, z))
            bottom = std::min(bottom, z);
    }
    if (pos > top && pos > bottom) return 1;
    if (pos < top && pos < bottom) return 2;
    return 3;
}

int expensivePosition(const triangle_t& tri, const bound_t& bound, float pos, int axis) {
    // Permute so that the split axis comes last: (z, y, x), (x, z, y), (x, y, z).
    static const int perm[3][3] = {{2, 1, 0}, {0, 2, 1}, {0, 1, 2}};
    const int* pm = perm[axis];
    auto permuted = [pm](const point3d_t& p) {
        return point3d_t(axisValue(p, pm[0]), axisValue(p, pm[1]), axisValue(p, pm[2]));
    };
    const point3d_t a = permuted(*tri.pa), b = permuted(*tri.pb), c = permuted(*tri.pc);
    const square_t sq{axisValue(bound.a, pm[0]), axisValue(bound.g, pm[0]), axisValue(bound.a, pm[1]),
                      axisValue(bound.g, pm[1])};

    const float nAxis = axisValue(tri.N, axis);
    if (std::fabs(nAxis) < 0.0001f) return perpendicularPosition(a, b, c, sq, pos);

    // The plane as a height over the square.
    const float nu = axisValue(tri.N, pm[0]), nv = axisValue(tri.N, pm[1]);
    const float ca = -nu / nAxis;
    const float cb = -nv / nAxis;
    const float cc = (tri.N * toVector(*tri.pa)) / nAxis;
    checkPosition_f f(ca, cb, cc, pos);
    intersectApply(point2d_t(a.x, a.y), point2d_t(b.x, b.y), point2d_t(c.x, c.y), sq, f);
    return f.state;
}

} // namespace vexlar

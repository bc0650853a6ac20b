// The triangle partition tree: builder, classifiers, overlap tests, the ray
// walk, and the whole tree checked against brute force through meshes.
#include "vexlarcore/bsptree.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

using namespace vexlar;

namespace {

const float inf = std::numeric_limits<float>::infinity();

// Triangles over consecutive point triples.
std::vector<triangle_t> tripleTriangles(std::vector<point3d_t>& pts) {
    std::vector<triangle_t> ts;
    for (std::size_t i = 0; i + 2 < pts.size(); i += 3) ts.emplace_back(&pts[i], &pts[i + 1], &pts[i + 2]);
    return ts;
}

triangleList_t* listOf(std::vector<triangle_t>& ts) {
    auto* l = new triangleList_t();
    for (triangle_t& t : ts) l->push_back(&t);
    return l;
}

float& axisRef(point3d_t& p, int axis) {
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

struct leafInfo_t {
    const triangleList_t* list;
    bound_t box;
    unsigned depth;
};

// Every leaf with its box, walking the splits from the root box.
void collectLeaves(const triangleTree_t* node, const bound_t& box, unsigned depth,
                   std::vector<leafInfo_t>& out) {
    if (node->isLeaf()) {
        out.push_back(leafInfo_t{node->data, box, depth});
        return;
    }
    bound_t lo = box, hi = box;
    axisRef(lo.g, node->axis) = axisRef(hi.a, node->axis) = node->pos;
    collectLeaves(node->left, lo, depth + 1, out);
    collectLeaves(node->right, hi, depth + 1, out);
}

// Builds the tree over `ts` in their own bounds (leaves of up to 4) and
// lists its leaves; `avgDepth` receives the builder's average leaf depth.
std::unique_ptr<triangleTree_t> buildWithLeaves(std::vector<triangle_t>& ts, std::vector<leafInfo_t>& leaves,
                                                float* avgDepth = nullptr) {
    float d, s;
    triangleList_t* list = listOf(ts);
    const bound_t box = face_calc_bound(*list);
    std::unique_ptr<triangleTree_t> tree(buildTriangleTree(list, box, 4, 1, 0, d, s));
    collectLeaves(tree.get(), box, 1, leaves);
    if (avgDepth) *avgDepth = d;
    return tree;
}

std::unique_ptr<meshObject_t> soupMesh(std::vector<point3d_t> pts) {
    std::vector<triangle_t> ts = tripleTriangles(pts);
    return std::unique_ptr<meshObject_t>(meshObject_t::factory(pts, {}, ts, {}, {}));
}

// Nearest hit over all triangles, with the side test and ray parameter the
// mesh uses; t = -1 for none.
const triangle_t* bruteNearest(const meshObject_t& m, const point3d_t& from, const vector3d_t& ray,
                               float& bestT, const void* skip = nullptr) {
    const triangle_t* best = nullptr;
    bestT = -1;
    for (const triangle_t& t : m.triangles) {
        if (&t == skip || !t.hit(from, ray)) continue;
        const float d = (t.N * (*t.pa - from)) / (t.N * ray);
        if (d > 0 && (bestT < 0 || d < bestT)) {
            bestT = d;
            best = &t;
        }
    }
    return best;
}

bool bruteBlocked(const meshObject_t& m, const point3d_t& from, const vector3d_t& ray, float dist) {
    float t;
    return bruteNearest(m, from, ray, t) != nullptr && (dist < 0 || t < dist);
}

vector3d_t randomDirection(std::mt19937& rng) {
    std::normal_distribution<float> n(0, 1);
    vector3d_t d;
    do d.set(n(rng), n(rng), n(rng));
    while (d.lengthSqr() < 1e-6f);
    d.normalize();
    return d;
}

// Random triangles of mixed sizes in the unit cube.
std::vector<point3d_t> randomSoup(std::mt19937& rng, int count) {
    std::uniform_real_distribution<float> u(0, 1), size(0.01f, 0.4f);
    std::vector<point3d_t> pts;
    for (int i = 0; i < count; ++i) {
        const point3d_t c(u(rng), u(rng), u(rng));
        const float s = size(rng);
        for (int k = 0; k < 3; ++k) {
            const vector3d_t d = randomDirection(rng) * (s * u(rng));
            pts.push_back(c + d);
        }
    }
    return pts;
}

// Compares nearest hits and shadow answers of the mesh with brute force.
void checkAgainstBruteForce(const meshObject_t& mesh, std::mt19937& rng, int rayCount, int& hits) {
    renderState_t state;
    const bound_t box = mesh.getBound();
    std::uniform_real_distribution<float> u(0, 1);
    for (int i = 0; i < rayCount; ++i) {
        // Half the rays start outside and aim into the box, half start inside.
        const point3d_t target(box.a.x + u(rng) * (box.g.x - box.a.x), box.a.y + u(rng) * (box.g.y - box.a.y),
                               box.a.z + u(rng) * (box.g.z - box.a.z));
        point3d_t from = target;
        vector3d_t ray = randomDirection(rng);
        if (i % 2 == 0) {
            from = target - ray * 3.0f;
        }
        float bt;
        const triangle_t* bt_tri = bruteNearest(mesh, from, ray, bt);
        surfacePoint_t sp;
        const bool got = mesh.shoot(state, sp, from, ray, false, -1);
        ASSERT_EQ(got, bt_tri != nullptr) << "ray " << i;
        if (got) {
            ++hits;
            ASSERT_EQ(sp.depth, bt) << "ray " << i;
            if (sp.origin != bt_tri) {
                // Only an exact tie may pick another triangle.
                const triangle_t* other = static_cast<const triangle_t*>(sp.origin);
                EXPECT_EQ((other->N * (*other->pa - from)) / (other->N * ray), bt) << "ray " << i;
            }
        }
        const float dist = (i % 3 == 0) ? -1.0f : u(rng) * 2.0f;
        EXPECT_EQ(mesh.shoot(state, sp, from, ray, true, dist), bruteBlocked(mesh, from, ray, dist))
            << "ray " << i << " dist " << dist;
    }
}

} // namespace

TEST(bspBuild, SmallListsMakeOneLeaf) {
    std::vector<point3d_t> pts;
    for (int i = 0; i < 4; ++i) {
        pts.push_back(point3d_t(i, 0, 0));
        pts.push_back(point3d_t(i + 1.0f, 0, 0));
        pts.push_back(point3d_t(i, 1, 0));
    }
    std::vector<triangle_t> ts = tripleTriangles(pts);
    const std::uint32_t leafs0 = leafs, leafst0 = leafst;
    float d = 0, s = 0;
    triangleList_t* list = listOf(ts);
    std::unique_ptr<triangleTree_t> tree(buildTriangleTree(list, face_calc_bound(*list), 4, 1, 0, d, s));
    ASSERT_TRUE(tree->isLeaf());
    EXPECT_EQ(tree->data, list);
    EXPECT_EQ(tree->data->size(), 4u);
    EXPECT_EQ(leafs - leafs0, 1u);
    EXPECT_EQ(leafst - leafst0, 4u);
    EXPECT_EQ(d, 1.0f);
    EXPECT_EQ(s, 4.0f);
}

TEST(bspBuild, EmptyListMakesAnEmptyLeaf) {
    const std::uint32_t leafs0 = leafs, leafst0 = leafst;
    float d = 9, s = 9;
    auto* list = new triangleList_t();
    std::unique_ptr<triangleTree_t> tree(buildTriangleTree(list, bound_t(), 4, 1, 0, d, s));
    ASSERT_TRUE(tree->isLeaf());
    EXPECT_TRUE(tree->data->empty());
    EXPECT_EQ(leafs, leafs0);
    EXPECT_EQ(leafst, leafst0);
    EXPECT_EQ(d, 1.0f);
    EXPECT_EQ(s, 0.0f);
}

TEST(bspBuild, IdenticalTrianglesStopAfterFourBadSplits) {
    std::vector<point3d_t> pts{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    std::vector<triangle_t> ts(5, triangle_t(&pts[0], &pts[1], &pts[2]));
    const std::uint32_t leafs0 = leafs, leafst0 = leafst;
    float d;
    std::vector<leafInfo_t> leaves;
    auto tree = buildWithLeaves(ts, leaves, &d);
    std::uint32_t full = 0;
    for (const leafInfo_t& l : leaves) {
        if (l.list->empty()) continue;
        // Every split passed all five on, one bad split per level.
        EXPECT_EQ(l.list->size(), 5u);
        EXPECT_EQ(l.depth, 5u);
        ++full;
    }
    EXPECT_GT(full, 0u);
    EXPECT_EQ(leafs - leafs0, full);
    EXPECT_EQ(leafst - leafst0, 5 * full);
    EXPECT_GT(d, 1.0f);
    EXPECT_LE(d, 5.0f);
}

TEST(bspBuild, LongestAxisWithTiesPreferringX) {
    std::mt19937 rng(3);
    std::vector<point3d_t> pts = randomSoup(rng, 10);
    std::vector<triangle_t> ts = tripleTriangles(pts);
    float d, s;
    // Equal extents: x.
    std::unique_ptr<triangleTree_t> a(
        buildTriangleTree(listOf(ts), bound_t(point3d_t(-1, -1, -1), point3d_t(2, 2, 2)), 4, 1, 0, d, s));
    ASSERT_FALSE(a->isLeaf());
    EXPECT_EQ(a->axis, 0);
    EXPECT_EQ(a->pos, 0.5f);
    // y ties z and beats x: y.
    std::unique_ptr<triangleTree_t> b(
        buildTriangleTree(listOf(ts), bound_t(point3d_t(0, -1, -1), point3d_t(1, 2, 2)), 4, 1, 0, d, s));
    EXPECT_EQ(b->axis, 1);
    std::unique_ptr<triangleTree_t> c(
        buildTriangleTree(listOf(ts), bound_t(point3d_t(0, 0, -4), point3d_t(1, 1, 2)), 4, 1, 0, d, s));
    EXPECT_EQ(c->axis, 2);
    EXPECT_EQ(c->pos, -1.0f);
}

TEST(bspBuild, NoTriangleIsLost) {
    std::mt19937 rng(21);
    for (int round = 0; round < 4; ++round) {
        std::vector<point3d_t> pts = randomSoup(rng, 400);
        std::vector<triangle_t> ts = tripleTriangles(pts);
        std::vector<leafInfo_t> leaves;
        auto tree = buildWithLeaves(ts, leaves);
        for (const triangle_t& t : ts) {
            bool inOverlapping = false;
            for (const leafInfo_t& l : leaves) {
                const bool listed = std::find(l.list->begin(), l.list->end(), &t) != l.list->end();
                if (listed && triBoxOverlap(l.box, *t.pa, *t.pb, *t.pc)) inOverlapping = true;
                // Completeness: a leaf whose box, shrunk well inside, still
                // overlaps the triangle must list it.
                bound_t inner = l.box;
                const float e = 1e-4f;
                inner.a = point3d_t(inner.a.x + e, inner.a.y + e, inner.a.z + e);
                inner.g = point3d_t(inner.g.x - e, inner.g.y - e, inner.g.z - e);
                if (inner.a.x < inner.g.x && inner.a.y < inner.g.y && inner.a.z < inner.g.z &&
                    triBoxOverlap(inner, *t.pa, *t.pb, *t.pc)) {
                    EXPECT_TRUE(listed);
                }
            }
            EXPECT_TRUE(inOverlapping);
        }
    }
}

TEST(bspBuild, DegenerateInputTerminatesAndStillTraces) {
    std::mt19937 rng(5);
    // Needles: thousands of slivers through one line, plus a fan of slivers
    // around one point.
    std::vector<point3d_t> pts;
    std::uniform_real_distribution<float> u(0, 1);
    for (int i = 0; i < 1500; ++i) {
        pts.push_back(point3d_t(0, 0.5f, 0.5f));
        pts.push_back(point3d_t(1, 0.5f, 0.5f));
        pts.push_back(point3d_t(u(rng), 0.5f + 1e-6f * u(rng), 0.5f));
    }
    for (int i = 0; i < 1500; ++i) {
        const vector3d_t d = randomDirection(rng);
        const vector3d_t e = d ^ vector3d_t(0, 0, 1);
        pts.push_back(point3d_t(0.5f, 0.5f, 0.5f));
        pts.push_back(point3d_t(0.5f, 0.5f, 0.5f) + d * 0.5f);
        pts.push_back(point3d_t(0.5f, 0.5f, 0.5f) + d * 0.5f + e * 1e-5f);
    }
    // Triangles at halving scales, which the midpoint splits peel off one
    // level at a time.
    for (int i = 0; i < 100; ++i) {
        const float s = std::ldexp(1.0f, -i);
        pts.push_back(point3d_t(2 + s, 0, 0));
        pts.push_back(point3d_t(2 + 1.5f * s, 0, 0));
        pts.push_back(point3d_t(2 + s, 0.01f, 0.01f));
    }
    // Ordinary triangles among them, so that rays have something to find.
    const std::vector<point3d_t> ordinary = randomSoup(rng, 200);
    pts.insert(pts.end(), ordinary.begin(), ordinary.end());
    auto mesh = soupMesh(pts);
    ASSERT_NE(mesh->tree, nullptr);
    std::vector<leafInfo_t> leaves;
    collectLeaves(mesh->tree, mesh->getBound(), 1, leaves);
    unsigned deepest = 0;
    for (const leafInfo_t& l : leaves) deepest = std::max(deepest, l.depth);
    // The failure counter bounds every path by twice the triangle count.
    EXPECT_LE(deepest, 2 * mesh->triangles.size() + 4);
    EXPECT_GT(deepest, 30u); // the halving scales did make a deep path
    int hits = 0;
    checkAgainstBruteForce(*mesh, rng, 120, hits);
    EXPECT_GT(hits, 10);
}

TEST(bspBuild, RandomSoupsTraceLikeBruteForce) {
    std::mt19937 rng(1234);
    int hits = 0;
    for (int round = 0; round < 6; ++round) {
        auto mesh = soupMesh(randomSoup(rng, 50 + 150 * round));
        checkAgainstBruteForce(*mesh, rng, 600, hits);
    }
    EXPECT_GT(hits, 1000);
}

TEST(bspBuild, SkipElementAgainstBruteForce) {
    std::mt19937 rng(99);
    auto mesh = soupMesh(randomSoup(rng, 300));
    renderState_t state;
    int checked = 0;
    for (int i = 0; i < 300; ++i) {
        const point3d_t from(-1, 0.5f, 0.5f);
        vector3d_t ray = vector3d_t(1.5f, 0, 0) + randomDirection(rng) * 0.5f;
        ray.normalize();
        float t;
        const triangle_t* first = bruteNearest(*mesh, from, ray, t);
        if (first == nullptr) continue;
        state.skipElement = first;
        float t2;
        const triangle_t* second = bruteNearest(*mesh, from, ray, t2, first);
        surfacePoint_t sp;
        const bool got = mesh->shoot(state, sp, from, ray, false, -1);
        ASSERT_EQ(got, second != nullptr);
        if (got) {
            EXPECT_NE(sp.origin, static_cast<const void*>(first));
            EXPECT_EQ(sp.depth, t2);
        }
        ++checked;
    }
    EXPECT_GT(checked, 50);
}

TEST(bspClassify, CheapPosition) {
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    const bound_t box(point3d_t(-1, -1, -1), point3d_t(2, 2, 2));
    triangle_t t(&p[0], &p[1], &p[2]);
    EXPECT_EQ(cheapPosition(t, box, 2.0f, 0), 1);
    EXPECT_EQ(cheapPosition(t, box, -0.5f, 0), 2);
    EXPECT_EQ(cheapPosition(t, box, 0.5f, 0), 3);
    // Vertices exactly on the plane: 3 inside the cross-section, never 1 or 2.
    EXPECT_EQ(cheapPosition(t, box, 0.0f, 0), 3);
    EXPECT_EQ(cheapPosition(t, box, 1.0f, 0), 3);
    EXPECT_EQ(cheapPosition(t, box, 0.0f, 2), 3);
    // Outside the cross-section: undecided.
    const bound_t narrow(point3d_t(-1, -1, -1), point3d_t(2, 0.5f, 2));
    EXPECT_EQ(cheapPosition(t, narrow, 0.5f, 0), 0);
    EXPECT_EQ(cheapPosition(t, narrow, 0.0f, 0), 0);
    EXPECT_EQ(cheapPosition(t, narrow, 2.0f, 0), 1);
    EXPECT_EQ(cheapPosition(t, narrow, 0.5f, 1), 3); // y is not part of the cross-section
    EXPECT_EQ(cheapPosition(t, narrow, 3.0f, 2), 1);
    // The cross-section bounds are inclusive.
    const bound_t tight(point3d_t(0, 0, 0), point3d_t(1, 1, 0));
    EXPECT_EQ(cheapPosition(t, tight, 0.5f, 0), 3);
}

TEST(bspClassify, PlaneCrossInv) {
    const point3d_t from(0, 0, 0);
    const vector3d_t inv(1, 0, -0.5f); // a direction (1, 0, -2)
    const struct {
        float pos;
        int axis;
        float start, end;
        bool crosses;
        int side;
        float where;
    } cases[] = {
        {0.5f, 0, 0, 10, true, 0, 0.5f},
        {0.5f, 1, 0, 10, false, 0, 7},    // parallel: the origin's side, no crossing
        {-0.5f, 1, 0, 10, false, 1, 7},   // parallel, origin above
        {-0.5f, 0, 0, 10, false, 1, 0},   // plane behind the origin: the origin's side
        {0.5f, 0, 1, 10, false, 1, 0},    // crossed before the segment starts: the other side
        {5.0f, 0, 0, 2, false, 0, 0},     // beyond the segment's end
        {-1.0f, 2, 0, 10, true, 1, 0.5f}, // negative direction, starting above
        {0.0f, 0, 0, 10, true, 1, 0.0f},  // on the plane counts as the upper side
    };
    for (const auto& c : cases) {
        float where = 7;
        int side = 9;
        EXPECT_EQ(planeCrossInv(c.pos, c.axis, from, inv, c.start, c.end, where, side), c.crosses)
            << c.pos << " on axis " << c.axis;
        EXPECT_EQ(side, c.side) << c.pos << " on axis " << c.axis;
        if (c.crosses || c.axis == 1) {
            EXPECT_EQ(where, c.where) << c.pos << " on axis " << c.axis;
        }
    }
}

namespace {

// A hand-made tree over [0, 1]^3 split at x = 0.5; each leaf lists one
// marker triangle.
struct twoLeaves : ::testing::Test {
    std::vector<triangle_t> markers{triangle_t(), triangle_t()};
    std::unique_ptr<triangleTree_t> tree{
        new triangleTree_t(0.5f, 0, new triangleTree_t(new triangleList_t{&markers[0]}),
                           new triangleTree_t(new triangleList_t{&markers[1]}))};
    bound_t box{point3d_t(0, 0, 0), point3d_t(1, 1, 1)};

    const triangle_t* leafOf(const pureBspIterator_t<triangleList_t>& it) {
        return it.current ? it.current->front() : nullptr;
    }
    // The marker of every leaf the walk visits, in order.
    std::vector<const triangle_t*> walk(const triangleTree_t* root, const point3d_t& from,
                                        const vector3d_t& ray, float dist = inf) {
        std::vector<const triangle_t*> out;
        for (pureBspIterator_t<triangleList_t> it(root, dist, box, from, ray, false); it.current; ++it)
            out.push_back(it.current->front());
        return out;
    }
    typedef std::vector<const triangle_t*> seq;
};

} // namespace

TEST_F(twoLeaves, FrontToBackInBothDirections) {
    const point3d_t from(-1, 0.5f, 0.5f);
    const vector3d_t ray(1, 0, 0);
    pureBspIterator_t<triangleList_t> it(tree.get(), inf, box, from, ray, false);
    EXPECT_EQ(leafOf(it), &markers[0]);
    EXPECT_EQ(it.limit, 2.0f);
    ASSERT_EQ(it.stack.size(), 1u);
    EXPECT_EQ(it.stack[0].enter, 1.5f);
    EXPECT_EQ(it.stack[0].leave, 2.0f);
    EXPECT_GE(it.stack.capacity(), 16u);
    ++it;
    EXPECT_EQ(leafOf(it), &markers[1]);
    ++it;
    EXPECT_EQ(it.current, nullptr);

    EXPECT_EQ(walk(tree.get(), point3d_t(2, 0.5f, 0.5f), vector3d_t(-1, 0, 0)),
              (seq{&markers[1], &markers[0]}));
}

TEST_F(twoLeaves, StartInsideBeginsAtZero) {
    const point3d_t from(0.25f, 0.5f, 0.5f);
    const vector3d_t ray(1, 0, 0);
    pureBspIterator_t<triangleList_t> it(tree.get(), inf, box, from, ray, false);
    EXPECT_EQ(leafOf(it), &markers[0]);
    EXPECT_EQ(it.limit, 0.75f);
    ASSERT_EQ(it.stack.size(), 1u);
    EXPECT_EQ(it.stack[0].enter, 0.25f);
    EXPECT_EQ(it.stack[0].leave, 0.75f);
    // Started on the far side of the plane: only that leaf.
    EXPECT_EQ(walk(tree.get(), point3d_t(0.75f, 0.5f, 0.5f), ray), seq{&markers[1]});
}

TEST_F(twoLeaves, ParallelRayVisitsItsOwnSideOnly) {
    const vector3d_t ray(0, 1, 0);
    EXPECT_EQ(walk(tree.get(), point3d_t(0.25f, -1, 0.5f), ray), seq{&markers[0]});
    EXPECT_EQ(walk(tree.get(), point3d_t(0.75f, -1, 0.5f), ray), seq{&markers[1]});
}

TEST_F(twoLeaves, LoweredLimitPrunesFarChildren) {
    const point3d_t from(-1, 0.5f, 0.5f);
    const vector3d_t ray(1, 0, 0);
    pureBspIterator_t<triangleList_t> it(tree.get(), inf, box, from, ray, false);
    it.limit = 1.5f; // a hit exactly at the far child's entry
    ++it;
    EXPECT_EQ(it.current, nullptr);
    EXPECT_EQ(it.stack.size(), 1u); // left on the stack

    pureBspIterator_t<triangleList_t> jt(tree.get(), inf, box, from, ray, false);
    jt.limit = 1.5001f;
    ++jt;
    EXPECT_EQ(leafOf(jt), &markers[1]);

    // A distance limit short of the far child.
    EXPECT_EQ(walk(tree.get(), from, ray, 1.25f), seq{&markers[0]});
}

TEST_F(twoLeaves, NoTreeOrMissedBoxEndsAtOnce) {
    const point3d_t from(-1, 0.5f, 0.5f);
    EXPECT_TRUE(walk(nullptr, from, vector3d_t(1, 0, 0)).empty());
    EXPECT_TRUE(walk(tree.get(), from, vector3d_t(-1, 0, 0)).empty());
    EXPECT_TRUE(walk(tree.get(), from, vector3d_t(1, 0, 0), 0.5f).empty());
}

TEST(bspIterator, StackGrowsBeyondItsReserve) {
    // A left-leaning chain of 40 splits: a ray along +x pushes 40 far leaves
    // and must then visit all 41 leaves in x order.
    std::vector<triangle_t> markers(41);
    triangleTree_t* node = new triangleTree_t(new triangleList_t{&markers[0]});
    for (int i = 1; i <= 40; ++i)
        node = new triangleTree_t(i / 41.0f, 0, node, new triangleTree_t(new triangleList_t{&markers[i]}));
    std::unique_ptr<triangleTree_t> tree(node);
    const bound_t box(point3d_t(0, 0, 0), point3d_t(1, 1, 1));
    const point3d_t from(-1, 0.5f, 0.5f);
    const vector3d_t ray(1, 0, 0);
    pureBspIterator_t<triangleList_t> it(tree.get(), inf, box, from, ray, false);
    EXPECT_EQ(it.stack.size(), 40u);
    for (int i = 0; i <= 40; ++i, ++it) {
        ASSERT_NE(it.current, nullptr);
        EXPECT_EQ(it.current->front(), &markers[i]);
    }
    EXPECT_EQ(it.current, nullptr);
}

namespace {

// Double-precision clipping of a triangle by the box lo..hi (Sutherland-
// Hodgman), every axis but `freeAxis` (-1: all three); what is left of it.
struct dpoint {
    double v[3];
};

std::vector<dpoint> clipTriangle(const double lo[3], const double hi[3], const point3d_t& a,
                                 const point3d_t& b, const point3d_t& c, int freeAxis = -1) {
    std::vector<dpoint> poly{{{a.x, a.y, a.z}}, {{b.x, b.y, b.z}}, {{c.x, c.y, c.z}}};
    for (int axis = 0; axis < 3 && !poly.empty(); ++axis) {
        if (axis == freeAxis) continue;
        for (int upper = 0; upper < 2; ++upper) {
            const double bound = upper ? hi[axis] : lo[axis];
            auto inside = [&](const dpoint& p) { return upper ? p.v[axis] <= bound : p.v[axis] >= bound; };
            std::vector<dpoint> out;
            for (std::size_t i = 0; i < poly.size(); ++i) {
                const dpoint& p = poly[i];
                const dpoint& q = poly[(i + 1) % poly.size()];
                if (inside(p)) out.push_back(p);
                if (inside(p) != inside(q)) {
                    const double s = (bound - p.v[axis]) / (q.v[axis] - p.v[axis]);
                    dpoint r;
                    for (int k = 0; k < 3; ++k) r.v[k] = p.v[k] + s * (q.v[k] - p.v[k]);
                    r.v[axis] = bound;
                    out.push_back(r);
                }
            }
            poly.swap(out);
        }
    }
    return poly;
}

// Reference overlap: anything of the triangle left inside the box.
bool referenceOverlap(const double lo[3], const double hi[3], const point3d_t& a, const point3d_t& b,
                      const point3d_t& c) {
    return !clipTriangle(lo, hi, a, b, c).empty();
}

} // namespace

TEST(bspOverlap, TriBoxOverlapMatchesClipping) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> u(-2, 2), h(0.05f, 1.5f);
    int yes = 0, no = 0;
    for (int i = 0; i < 20000; ++i) {
        const point3d_t c(u(rng), u(rng), u(rng));
        const bound_t box(point3d_t(c.x - h(rng), c.y - h(rng), c.z - h(rng)),
                          point3d_t(c.x + h(rng), c.y + h(rng), c.z + h(rng)));
        point3d_t p[3];
        const float scale = (i % 4 == 0) ? 4.0f : 1.0f; // some triangles larger than the box
        for (point3d_t& q : p) q = point3d_t(u(rng) * scale, u(rng) * scale, u(rng) * scale);
        // Decide only cases that a margin of 1e-4 cannot flip.
        const double e = 1e-4;
        const double outerLo[3] = {box.a.x - e, box.a.y - e, box.a.z - e};
        const double outerHi[3] = {box.g.x + e, box.g.y + e, box.g.z + e};
        const double innerLo[3] = {box.a.x + e, box.a.y + e, box.a.z + e};
        const double innerHi[3] = {box.g.x - e, box.g.y - e, box.g.z - e};
        const bool outer = referenceOverlap(outerLo, outerHi, p[0], p[1], p[2]);
        const bool inner = referenceOverlap(innerLo, innerHi, p[0], p[1], p[2]);
        if (outer != inner) continue;
        EXPECT_EQ(triBoxOverlap(box, p[0], p[1], p[2]), inner) << "case " << i;
        (inner ? yes : no)++;
    }
    EXPECT_GT(yes, 2000);
    EXPECT_GT(no, 2000);
}

TEST(bspOverlap, FixedCases) {
    const bound_t box(point3d_t(0, 0, 0), point3d_t(1, 1, 1));
    // Inside.
    EXPECT_TRUE(triBoxOverlap(box, point3d_t(0.2f, 0.2f, 0.2f), point3d_t(0.8f, 0.2f, 0.2f),
                              point3d_t(0.2f, 0.8f, 0.2f)));
    // Far away.
    EXPECT_FALSE(triBoxOverlap(box, point3d_t(5, 5, 5), point3d_t(6, 5, 5), point3d_t(5, 6, 5)));
    // Large triangle through the box with every vertex outside.
    EXPECT_TRUE(
        triBoxOverlap(box, point3d_t(-10, -10, 0.5f), point3d_t(10, -10, 0.5f), point3d_t(0, 10, 0.5f)));
    // Its bounding box overlaps, but the triangle passes the corner by.
    EXPECT_FALSE(triBoxOverlap(box, point3d_t(1.5f, 0.9f, 0.5f), point3d_t(0.9f, 1.5f, 0.5f),
                               point3d_t(1.5f, 1.5f, 0.5f)));
    // The plane misses: tilted triangle above a corner.
    EXPECT_TRUE(triBoxOverlap(box, point3d_t(3, 0, 0), point3d_t(0, 3, 0), point3d_t(0, 0, 3))); // touches
    EXPECT_FALSE(triBoxOverlap(box, point3d_t(3.5f, 0, 0), point3d_t(0, 3.5f, 0), point3d_t(0, 0, 3.5f)));
    EXPECT_TRUE(triBoxOverlap(box, point3d_t(2.5f, 0, 0), point3d_t(0, 2.5f, 0), point3d_t(0, 0, 2.5f)));
}

TEST(bspOverlap, PlaneBoxOverlap) {
    const point3d_t half(1, 1, 1);
    EXPECT_TRUE(planeBoxOverlap(vector3d_t(0, 0, 1), 0, half));
    EXPECT_TRUE(planeBoxOverlap(vector3d_t(0, 0, 1), -1, half)); // touching the top face counts
    EXPECT_FALSE(planeBoxOverlap(vector3d_t(0, 0, 1), -1.01f, half));
    EXPECT_FALSE(planeBoxOverlap(vector3d_t(0, 0, 1), 1.01f, half));
    EXPECT_TRUE(planeBoxOverlap(vector3d_t(1, 1, 1), -2.9f, half));
    EXPECT_FALSE(planeBoxOverlap(vector3d_t(1, 1, 1), -3.1f, half));
    EXPECT_TRUE(planeBoxOverlap(vector3d_t(-1, 1, -1), 2.9f, half));
}

TEST(bspFaces, BoundsMembershipAndCentroid) {
    std::vector<point3d_t> p{point3d_t(0, 0, 0),  point3d_t(3, 0, 0), point3d_t(0, 3, 1),
                             point3d_t(-1, 2, 2), point3d_t(0, 5, 0), point3d_t(1, 1, -4)};
    std::vector<triangle_t> ts = tripleTriangles(p);
    std::vector<triangle_t*> list{&ts[0], &ts[1]};
    const bound_t b = face_calc_bound(list);
    EXPECT_FALSE(b.null);
    EXPECT_EQ(b.a.x, static_cast<float>(-1.0 - 1e-5));
    EXPECT_EQ(b.a.z, static_cast<float>(-4.0 - 1e-5));
    EXPECT_EQ(b.g.x, static_cast<float>(3.0 + 1e-5));
    EXPECT_EQ(b.g.y, static_cast<float>(5.0 + 1e-5));
    EXPECT_EQ(b.a.y, static_cast<float>(0.0 - 1e-5));

    const bound_t empty = face_calc_bound(std::vector<triangle_t*>());
    EXPECT_TRUE(empty.null);
    EXPECT_EQ(empty.a.x, 0.0f);
    EXPECT_EQ(empty.g.z, 0.0f);

    const triangle_t* t0 = &ts[0];
    bound_t unit(point3d_t(3, 0, 0), point3d_t(4, 1, 1));
    EXPECT_TRUE(face_is_in_bound(t0, unit)); // vertex (3, 0, 0) on the corner
    bound_t miss(point3d_t(1, 1, 0), point3d_t(2, 2, 1));
    EXPECT_FALSE(face_is_in_bound(t0, miss)); // the face crosses it, no vertex inside

    const point3d_t c = face_get_pos(t0);
    const float third = 1.0f / 3.0f;
    EXPECT_EQ(c.x, 3.0f * third);
    EXPECT_EQ(c.y, 3.0f * third);
    EXPECT_EQ(c.z, 1.0f * third);
}

TEST(bspExact, TwoDimensionalHelpers) {
    point2d_t out;
    EXPECT_TRUE(intersectX(point2d_t(0, 0), point2d_t(2, 2), 1, 0, 2, out));
    EXPECT_EQ(out.x, 1.0f);
    EXPECT_EQ(out.y, 1.0f);
    EXPECT_FALSE(intersectX(point2d_t(0, 0), point2d_t(2, 2), 1, 1.5f, 2, out)); // outside the y range
    EXPECT_FALSE(intersectX(point2d_t(0, 0), point2d_t(2, 2), 3, 0, 5, out));    // beyond the segment
    EXPECT_FALSE(intersectX(point2d_t(1, 0), point2d_t(1, 2), 1, 0, 2, out));    // vertical segment
    EXPECT_TRUE(intersectX(point2d_t(0, 1), point2d_t(2, 1), 0.5f, 0, 2, out));  // horizontal
    EXPECT_EQ(out.x, 0.5f);
    EXPECT_EQ(out.y, 1.0f);
    EXPECT_FALSE(intersectX(point2d_t(0, 1), point2d_t(2, 1), 2.5f, 0, 2, out));

    EXPECT_TRUE(intersectY(point2d_t(0, 0), point2d_t(2, 4), 1, 0, 2, out));
    EXPECT_EQ(out.x, 0.5f);
    EXPECT_EQ(out.y, 1.0f);
    EXPECT_TRUE(intersectY(point2d_t(1, 0), point2d_t(1, 2), 0.5f, 0, 2, out)); // vertical segment
    EXPECT_EQ(out.x, 1.0f);
    EXPECT_FALSE(intersectY(point2d_t(0, 1), point2d_t(2, 1), 1, 0, 2, out)); // horizontal segment

    const point2d_t a(0, 0), b(2, 0), c(0, 2);
    EXPECT_TRUE(isInside(point2d_t(0.5f, 0.5f), a, b, c));
    EXPECT_TRUE(isInside(point2d_t(1, 1), a, b, c)); // on the edge
    EXPECT_TRUE(isInside(point2d_t(0.5f, 0.5f), a, c, b));
    EXPECT_FALSE(isInside(point2d_t(1.5f, 1), a, b, c));

    const square_t sq{0, 1, 0, 1};
    EXPECT_EQ(exitDist(point3d_t(-1, 0.5f, 0), vector3d_t(1, 0, 0), 10, sq), 2.0f);
    EXPECT_EQ(exitDist(point3d_t(-1, 0.5f, 0), vector3d_t(1, 0, 0), 1.5f, sq), -1.0f); // exits too late
    EXPECT_EQ(exitDist(point3d_t(-1, 2.0f, 0), vector3d_t(1, 0, 0), 10, sq), -1.0f);   // misses
    EXPECT_EQ(exitDist(point3d_t(-1, -1, 0), vector3d_t(1, 1, 0), 10, sq), 2.0f);      // diagonal
    EXPECT_EQ(exitDist(point3d_t(-1, 3, 0), vector3d_t(1, 1, 0), 10, sq), -1.0f);
    EXPECT_EQ(exitDist(point3d_t(0.5f, 0.5f, 0), vector3d_t(0, 0, 1), 10, sq), -1.0f); // never leaves

    checkPosition_f f(0, 0, 1, 2); // height 1 everywhere, plane at 2
    EXPECT_TRUE(f(point2d_t(0, 0)));
    EXPECT_EQ(f.state, 1);
    checkPosition_f g(1, 0, 0, 0.5f); // height x
    EXPECT_TRUE(g(point2d_t(1, 0)));
    EXPECT_EQ(g.state, 2);
    EXPECT_FALSE(g(point2d_t(0, 0)));
    EXPECT_EQ(g.state, 3);
    checkPosition_f k(1, 0, 0, 0.5f);
    EXPECT_FALSE(k(point2d_t(0.5f, 7)));
    EXPECT_EQ(k.state, 3);
}

namespace {

// Reference classification: clip the triangle to the box's cross-section
// prism in double precision and compare the extent along the axis with pos.
// Returns -1 when the answer is too close to call.
int referencePosition(const point3d_t& a, const point3d_t& b, const point3d_t& c, const bound_t& box,
                      float pos, int axis) {
    const double big = 1e30;
    double lo[3] = {box.a.x, box.a.y, box.a.z}, hi[3] = {box.g.x, box.g.y, box.g.z};
    const std::vector<dpoint> poly = clipTriangle(lo, hi, a, b, c, axis);
    if (poly.empty()) return 0;
    double mn = big, mx = -big;
    for (const dpoint& p : poly) {
        mn = std::min(mn, p.v[axis]);
        mx = std::max(mx, p.v[axis]);
    }
    const double e = 1e-3;
    if (mx < pos - e) return 1;
    if (mn > pos + e) return 2;
    if (mn < pos - e && mx > pos + e) return 3;
    return -1;
}

} // namespace

TEST(bspExact, ExpensivePositionMatchesClipping) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> u(-2, 2);
    int decided = 0, outside = 0;
    for (int i = 0; i < 5000; ++i) {
        point3d_t p[3];
        for (point3d_t& q : p) q = point3d_t(u(rng), u(rng), u(rng));
        triangle_t t(&p[0], &p[1], &p[2]);
        const float x0 = u(rng), y0 = u(rng), z0 = u(rng);
        const bound_t box(point3d_t(x0, y0, z0), point3d_t(x0 + 1.5f, y0 + 1.5f, z0 + 1.5f));
        const int axis = i % 3;
        const float pos = u(rng);
        if (std::fabs(axisValue(t.N, axis)) < 0.05f) continue; // the height path only
        const int ref = referencePosition(p[0], p[1], p[2], box, pos, axis);
        if (ref < 0) continue;
        // The clipper scans a closed square; a triangle that only touches a
        // border line is not a fair reference case.
        const int got = expensivePosition(t, box, pos, axis);
        if (ref == 0 && got != 0) {
            const bound_t grown(point3d_t(x0 - 1e-3f, y0 - 1e-3f, z0 - 1e-3f),
                                point3d_t(x0 + 1.501f, y0 + 1.501f, z0 + 1.501f));
            if (referencePosition(p[0], p[1], p[2], grown, pos, axis) != 0) continue;
        }
        EXPECT_EQ(got, ref) << "case " << i;
        ++decided;
        if (ref == 0) ++outside;
    }
    EXPECT_GT(decided, 2000);
    EXPECT_GT(outside, 100);
}

TEST(bspExact, PerpendicularTriangles) {
    // A triangle in the plane y = 0.5, parallel to the z axis, over the
    // square [0, 1]^2 in x and y: heights from 0 to 2 along z.
    std::vector<point3d_t> p{point3d_t(0.2f, 0.5f, 0), point3d_t(0.8f, 0.5f, 0), point3d_t(0.5f, 0.5f, 2)};
    triangle_t t(&p[0], &p[1], &p[2]);
    const bound_t box(point3d_t(0, 0, -5), point3d_t(1, 1, 5));
    EXPECT_EQ(expensivePosition(t, box, 3.0f, 2), 1);
    EXPECT_EQ(expensivePosition(t, box, -1.0f, 2), 2);
    EXPECT_EQ(expensivePosition(t, box, 1.0f, 2), 3);

    // The apex sticks out of the square: the top is where the edges leave.
    std::vector<point3d_t> q{point3d_t(0.2f, 0.5f, 0), point3d_t(0.8f, 0.5f, 0), point3d_t(3.2f, 0.5f, 3)};
    triangle_t s(&q[0], &q[1], &q[2]);
    // Edge (0.8,0)->(3.2,3) leaves x = 1 at z = 0.25; edge (0.2,0)->(3.2,3)
    // leaves at z = 0.8.
    EXPECT_EQ(expensivePosition(s, box, 0.9f, 2), 1);
    EXPECT_EQ(expensivePosition(s, box, 0.7f, 2), 3);
    const square_t sq{0, 1, 0, 1};
    EXPECT_EQ(perpendicularPosition(q[0], q[1], q[2], sq, 0.9f), 1);
    EXPECT_EQ(perpendicularPosition(q[0], q[1], q[2], sq, -0.1f), 2);

    // Nothing over the square: 3.
    std::vector<point3d_t> r{point3d_t(5, 0.5f, 0), point3d_t(6, 0.5f, 0), point3d_t(5.5f, 0.5f, 2)};
    EXPECT_EQ(perpendicularPosition(r[0], r[1], r[2], sq, 1.0f), 3);
}

namespace {

// The builder's algorithm in its plain recursive form, as a reference for
// the tree the library builds.
triangleTree_t* referenceBuild(triangleList_t* tris, const bound_t& bound, unsigned leafSize, unsigned depth,
                               unsigned bad, float& avgDepth, float& avgSize) {
    const std::size_t n = tris->size();
    if (n <= leafSize || bad > 3) {
        avgDepth = static_cast<float>(depth);
        avgSize = static_cast<float>(n);
        return new triangleTree_t(tris);
    }
    const float dx = bound.g.x - bound.a.x, dy = bound.g.y - bound.a.y, dz = bound.g.z - bound.a.z;
    const int axis = (dx >= dy && dx >= dz) ? 0 : (dy >= dz ? 1 : 2);
    const float pos = static_cast<float>(
        (static_cast<double>(axisValue(bound.a, axis)) + static_cast<double>(axisValue(bound.g, axis))) /
        2.0);
    bound_t lowBox = bound, highBox = bound;
    axisRef(lowBox.g, axis) = axisRef(highBox.a, axis) = pos;
    auto* lo = new triangleList_t();
    auto* hi = new triangleList_t();
    for (triangle_t* t : *tris) {
        const int k = cheapPosition(*t, bound, pos, axis);
        bool inLo = k == 1 || k == 3, inHi = k == 2 || k == 3;
        if (k == 0) {
            inLo = triBoxOverlap(lowBox, *t->pa, *t->pb, *t->pc);
            inHi = triBoxOverlap(highBox, *t->pa, *t->pb, *t->pc);
            if (!inLo && !inHi) inLo = inHi = true;
        }
        if (inLo) lo->push_back(t);
        if (inHi) hi->push_back(t);
    }
    auto counter = [&](std::size_t size) { return size == n ? bad + 1 : (bad > 0 ? bad - 1 : 0); };
    const unsigned loBad = counter(lo->size()), hiBad = counter(hi->size());
    delete tris;
    float da, sa, db, sb;
    triangleTree_t* l = referenceBuild(lo, lowBox, leafSize, depth + 1, loBad, da, sa);
    triangleTree_t* r = referenceBuild(hi, highBox, leafSize, depth + 1, hiBad, db, sb);
    avgDepth = static_cast<float>(static_cast<double>(da + db) / 2.0);
    avgSize = static_cast<float>(static_cast<double>(sa + sb) / 2.0);
    return new triangleTree_t(pos, axis, l, r);
}

// Structural equality; counts the non-empty leaves and their references.
bool sameTree(const triangleTree_t* a, const triangleTree_t* b, std::uint32_t& leaves, std::uint32_t& refs) {
    if (a->isLeaf() != b->isLeaf()) return false;
    if (a->isLeaf()) {
        if (!a->data->empty()) {
            ++leaves;
            refs += static_cast<std::uint32_t>(a->data->size());
        }
        return *a->data == *b->data;
    }
    return a->pos == b->pos && a->axis == b->axis && sameTree(a->left, b->left, leaves, refs) &&
           sameTree(a->right, b->right, leaves, refs);
}

} // namespace

TEST(bspBuild, SameTreeAsThePlainRecursiveBuild) {
    std::mt19937 rng(31);
    for (int round = 0; round < 5; ++round) {
        std::vector<point3d_t> pts = randomSoup(rng, 100 + 120 * round);
        if (round == 4) {
            // Plus many copies of one triangle and a fan of needles.
            for (int i = 0; i < 60; ++i) {
                pts.push_back(point3d_t(0.2f, 0.2f, 0.2f));
                pts.push_back(point3d_t(0.6f, 0.2f, 0.3f));
                pts.push_back(point3d_t(0.2f, 0.7f, 0.2f));
            }
        }
        std::vector<triangle_t> ts = tripleTriangles(pts);
        triangleList_t* list = listOf(ts);
        const bound_t box = face_calc_bound(*list);
        const std::uint32_t leafs0 = leafs, leafst0 = leafst;
        float d1, s1, d2, s2;
        std::unique_ptr<triangleTree_t> built(buildTriangleTree(list, box, 4, 1, 0, d1, s1));
        std::unique_ptr<triangleTree_t> ref(referenceBuild(listOf(ts), box, 4, 1, 0, d2, s2));
        std::uint32_t leaves = 0, refs = 0;
        EXPECT_TRUE(sameTree(built.get(), ref.get(), leaves, refs)) << "round " << round;
        EXPECT_EQ(d1, d2);
        EXPECT_EQ(s1, s2);
        EXPECT_EQ(leafs - leafs0, leaves);
        EXPECT_EQ(leafst - leafst0, refs);
    }
}

TEST(bspIterator, CompactCopyWalksLikeTheTree) {
    std::mt19937 rng(41);
    std::vector<point3d_t> pts = randomSoup(rng, 800);
    std::vector<triangle_t> ts = tripleTriangles(pts);
    triangleList_t* list = listOf(ts);
    const bound_t box = face_calc_bound(*list);
    float d, s;
    std::unique_ptr<triangleTree_t> tree(buildTriangleTree(list, box, 4, 1, 0, d, s));
    const flatTriangleTree_t flat(tree.get());
    ASSERT_TRUE(flat.valid());
    EXPECT_FALSE(flatTriangleTree_t(nullptr).valid());
    std::uniform_real_distribution<float> u(0, 1);
    int leavesSeen = 0;
    for (int i = 0; i < 500; ++i) {
        const point3d_t from(u(rng) * 3 - 1, u(rng) * 3 - 1, u(rng) * 3 - 1);
        vector3d_t ray = point3d_t(u(rng), u(rng), u(rng)) - from; // towards the soup
        ray.normalize();
        if (i % 10 == 0) ray.set(0, i % 20 == 0 ? 1.0f : -1.0f, 0); // parallel to two axes
        const float dist = (i % 3 == 0) ? inf : u(rng) * 3;
        pureBspIterator_t<triangleList_t> a(tree.get(), dist, box, from, ray, false);
        bspWalk_t<flatTriangleTree_t::access_t> b(flat.access(), flat.root(), true, dist, box, from, ray,
                                                  false);
        EXPECT_EQ(a.limit, b.limit);
        while (a.current) {
            ASSERT_TRUE(b.current);
            const std::vector<const triangle_t*> fromFlat(flat.leafBegin(b.current), flat.leafEnd(b.current));
            const std::vector<const triangle_t*> fromTree(a.current->begin(), a.current->end());
            ASSERT_EQ(fromFlat, fromTree);
            ++leavesSeen;
            // Lower both limits alike, as a mesh does after a hit.
            if (!a.stack.empty() && i % 2 == 0) a.limit = b.limit = (a.stack.back().enter + a.limit) / 2;
            ++a;
            b.next();
        }
        EXPECT_FALSE(b.current);
    }
    EXPECT_GT(leavesSeen, 2000);
}

TEST(bspIterator, MeshWalksAReplacedTreeItself) {
    std::mt19937 rng(51);
    auto mesh = soupMesh(randomSoup(rng, 300));
    renderState_t state;
    std::vector<float> depths;
    const point3d_t from(-1, 0.5f, 0.5f);
    std::vector<vector3d_t> rays;
    for (int i = 0; i < 200; ++i) {
        vector3d_t r = vector3d_t(1.5f, 0, 0) + randomDirection(rng) * 0.5f;
        r.normalize();
        rays.push_back(r);
        surfacePoint_t sp;
        depths.push_back(mesh->shoot(state, sp, from, r, false, -1) ? sp.depth : -1.0f);
    }
    // The host swaps in a tree of its own over the same triangles.
    triangleList_t* list = new triangleList_t();
    for (triangle_t& t : mesh->triangles) list->push_back(&t);
    float d, s;
    triangleTree_t* own = buildTriangleTree(list, face_calc_bound(*list), 1, 1, 0, d, s);
    delete mesh->tree;
    mesh->tree = own;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        surfacePoint_t sp;
        EXPECT_EQ(mesh->shoot(state, sp, from, rays[i], false, -1) ? sp.depth : -1.0f, depths[i]);
    }
    delete mesh->tree;
    mesh->tree = nullptr;
    surfacePoint_t sp;
    EXPECT_FALSE(mesh->shoot(state, sp, from, rays[0], false, -1));
}

// The triangle partition tree: builder, classifiers and overlap tests checked
// against double-precision clipping, the ray walk, and whole trees traced
// against brute force through meshes.
#include "vexlarcore/bsptree.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include "test_support.h"
#include "triangle_soup.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

using namespace vexlar;
using namespace soup;

namespace {

float& axisRef(point3d_t& p, int axis) {
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

struct leafInfo_t {
    const triangleList_t* list;
    bound_t box;
    unsigned depth;
};

void collectLeaves(const triangleTree_t* node, const bound_t& box, unsigned depth,
                   std::vector<leafInfo_t>& out) {
    if (node->isLeaf()) return out.push_back(leafInfo_t{node->data, box, depth});
    bound_t lo = box, hi = box;
    axisRef(lo.g, node->axis) = axisRef(hi.a, node->axis) = node->pos;
    collectLeaves(node->left, lo, depth + 1, out);
    collectLeaves(node->right, hi, depth + 1, out);
}

std::unique_ptr<meshObject_t> soupMesh(std::vector<point3d_t> pts) {
    std::vector<triangle_t> ts = tripleTriangles(pts);
    return std::unique_ptr<meshObject_t>(meshObject_t::factory(pts, {}, ts, {}, {}));
}

vector3d_t randomDirection(std::mt19937& rng) {
    std::normal_distribution<float> n(0, 1);
    vector3d_t d;
    do d.set(n(rng), n(rng), n(rng));
    while (d.lengthSqr() < 1e-6f);
    return d.normalize();
}

// Random triangles of mixed sizes in the unit cube.
std::vector<point3d_t> randomSoup(std::mt19937& rng, int count) {
    std::uniform_real_distribution<float> u(0, 1), size(0.01f, 0.4f);
    std::vector<point3d_t> pts;
    for (int i = 0; i < count; ++i) {
        const point3d_t c(u(rng), u(rng), u(rng));
        const float s = size(rng);
        for (int k = 0; k < 3; ++k) pts.push_back(c + randomDirection(rng) * (s * u(rng)));
    }
    return pts;
}

// Nearest hits (with a skipped element every third ray) and shadow answers
// of the mesh against brute force.
void checkAgainstBruteForce(const meshObject_t& mesh, std::mt19937& rng, int rayCount, int& hits) {
    renderState_t state;
    const bound_t box = mesh.getBound();
    std::uniform_real_distribution<float> u(0, 1);
    for (int i = 0; i < rayCount; ++i) {
        const point3d_t target(box.a.x + u(rng) * (box.g.x - box.a.x), box.a.y + u(rng) * (box.g.y - box.a.y),
                               box.a.z + u(rng) * (box.g.z - box.a.z));
        const vector3d_t ray = randomDirection(rng);
        const point3d_t from = i % 2 ? target : target - ray * 3.0f; // half start inside
        float first;
        state.skipElement = i % 3 == 0 ? bruteNearest(mesh, from, ray, first) : nullptr;
        float bt;
        const triangle_t* want = bruteNearest(mesh, from, ray, bt, state.skipElement);
        surfacePoint_t sp;
        ASSERT_EQ(mesh.shoot(state, sp, from, ray, false, -1), want != nullptr) << i;
        if (want) {
            ++hits;
            ASSERT_EQ(sp.depth, bt) << i;
            const triangle_t* got = static_cast<const triangle_t*>(sp.origin);
            EXPECT_EQ((got->N * (*got->pa - from)) / (got->N * ray), bt) << i; // another only on a tie
        }
        state.skipElement = nullptr;
        const float dist = (i % 3 == 0) ? -1.0f : u(rng) * 2.0f;
        want = bruteNearest(mesh, from, ray, bt);
        EXPECT_EQ(mesh.shoot(state, sp, from, ray, true, dist), want && (dist < 0 || bt < dist)) << i;
    }
}

// Sutherland-Hodgman clipping of a triangle in double by `box` grown by
// `grow` on every side, on every axis but `freeAxis`: what is left of it.
struct dpoint {
    double v[3];
};
std::vector<dpoint> clipTriangle(const bound_t& box, double grow, const point3d_t& a, const point3d_t& b,
                                 const point3d_t& c, int freeAxis = -1) {
    std::vector<dpoint> poly{{{a.x, a.y, a.z}}, {{b.x, b.y, b.z}}, {{c.x, c.y, c.z}}};
    for (int axis = 0; axis < 3 && !poly.empty(); ++axis) {
        if (axis == freeAxis) continue;
        for (int upper = 0; upper < 2; ++upper) {
            const double bound = upper ? axisValue(box.g, axis) + grow : axisValue(box.a, axis) - grow;
            auto inside = [&](const dpoint& p) { return upper ? p.v[axis] <= bound : p.v[axis] >= bound; };
            std::vector<dpoint> out;
            for (std::size_t i = 0; i < poly.size(); ++i) {
                const dpoint &p = poly[i], &q = poly[(i + 1) % poly.size()];
                if (inside(p)) out.push_back(p);
                if (inside(p) == inside(q)) continue;
                const double s = (bound - p.v[axis]) / (q.v[axis] - p.v[axis]);
                dpoint r;
                for (int k = 0; k < 3; ++k) r.v[k] = p.v[k] + s * (q.v[k] - p.v[k]);
                r.v[axis] = bound;
                out.push_back(r);
            }
            poly.swap(out);
        }
    }
    return poly;
}

} // namespace

TEST(bspTree, LeavesStopAtFourTrianglesOrBadSplitsAndSplitsHalveTheLongestAxis) {
    std::vector<point3d_t> pts;
    for (int i = 0; i < 4; ++i)
        pts.insert(pts.end(), {point3d_t(i, 0, 0), point3d_t(i + 1.0f, 0, 0), point3d_t(i, 1, 0)});
    std::vector<triangle_t> ts = tripleTriangles(pts);
    const std::uint32_t leafs0 = leafs, leafst0 = leafst;
    float d = 0, s = 0;
    triangleList_t* list = listOf(ts);
    std::unique_ptr<triangleTree_t> tree(buildTriangleTree(list, face_calc_bound(*list), 4, 1, 0, d, s));
    ASSERT_TRUE(tree->isLeaf() && tree->data == list); // the caller's list is kept
    EXPECT_TRUE(leafs - leafs0 == 1 && leafst - leafst0 == 4 && d == 1 && s == 4);
    std::unique_ptr<triangleTree_t> empty(buildTriangleTree(new triangleList_t(), bound_t(), 4, 1, 0, d, s));
    EXPECT_TRUE(empty->isLeaf() && d == 1 && s == 0 && leafs - leafs0 == 1); // empty leaves are not counted
    // Identical triangles: every split passes all five on, one bad split a level.
    std::vector<triangle_t> same(5, triangle_t(&pts[0], &pts[1], &pts[2]));
    std::vector<leafInfo_t> leaves;
    list = listOf(same);
    const bound_t sameBox = face_calc_bound(*list);
    tree.reset(buildTriangleTree(list, sameBox, 4, 1, 0, d, s));
    collectLeaves(tree.get(), sameBox, 1, leaves);
    for (const leafInfo_t& l : leaves)
        EXPECT_TRUE(l.list->empty() || (l.list->size() == 5 && l.depth == 5)) << l.depth;
    EXPECT_TRUE(d > 1 && d <= 5);
    std::mt19937 rng(3);
    std::vector<point3d_t> soup = randomSoup(rng, 10);
    ts = tripleTriangles(soup);
    const struct {
        bound_t box;
        int axis;
        float pos;
    } cases[] = {{bound_t(point3d_t(-1, -1, -1), point3d_t(2, 2, 2)), 0, 0.5f}, // ties prefer x
                 {bound_t(point3d_t(0, -1, -1), point3d_t(1, 2, 2)), 1, 0.5f},  // then y
                 {bound_t(point3d_t(0, 0, -4), point3d_t(1, 1, 2)), 2, -1.0f}};
    for (const auto& c : cases) {
        std::unique_ptr<triangleTree_t> t(buildTriangleTree(listOf(ts), c.box, 4, 1, 0, d, s));
        ASSERT_FALSE(t->isLeaf());
        EXPECT_TRUE(t->axis == c.axis && t->pos == c.pos) << t->axis << " " << t->pos;
    }
}

TEST(bspTree, MeshesTraceLikeBruteForce) {
    std::mt19937 rng(1234);
    int hits = 0;
    for (int round = 0; round < 5; ++round)
        checkAgainstBruteForce(*soupMesh(randomSoup(rng, 50 + 150 * round)), rng, 500, hits);
    EXPECT_GT(hits, 600);
    // Degenerate input: needles through one line, a fan of slivers, halving
    // scales the midpoint splits peel off one level at a time.
    std::vector<point3d_t> pts;
    std::uniform_real_distribution<float> u(0, 1);
    for (int i = 0; i < 1500; ++i)
        pts.insert(pts.end(), {point3d_t(0, 0.5f, 0.5f), point3d_t(1, 0.5f, 0.5f),
                               point3d_t(u(rng), 0.5f + 1e-6f * u(rng), 0.5f)});
    for (int i = 0; i < 1500; ++i) {
        const vector3d_t d = randomDirection(rng), e = d ^ vector3d_t(0, 0, 1);
        const point3d_t c(0.5f, 0.5f, 0.5f);
        pts.insert(pts.end(), {c, c + d * 0.5f, c + d * 0.5f + e * 1e-5f});
    }
    for (int i = 0; i < 100; ++i) {
        const float s = std::ldexp(1.0f, -i);
        pts.insert(pts.end(),
                   {point3d_t(2 + s, 0, 0), point3d_t(2 + 1.5f * s, 0, 0), point3d_t(2 + s, 0.01f, 0.01f)});
    }
    const std::vector<point3d_t> ordinary = randomSoup(rng, 200);
    pts.insert(pts.end(), ordinary.begin(), ordinary.end());
    auto mesh = soupMesh(pts);
    std::vector<leafInfo_t> leaves;
    collectLeaves(mesh->tree, mesh->getBound(), 1, leaves);
    unsigned deepest = 0;
    for (const leafInfo_t& l : leaves) deepest = std::max(deepest, l.depth);
    EXPECT_LE(deepest, 2 * mesh->triangles.size() + 4); // the failure counter bounds every path
    EXPECT_GT(deepest, 30u);
    hits = 0;
    checkAgainstBruteForce(*mesh, rng, 120, hits);
    EXPECT_GT(hits, 5);
}

TEST(bspTree, OverlapAndClassificationMatchClippingAndKnownCases) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> u(-2, 2), h(0.05f, 1.5f);
    int yes = 0, no = 0;
    for (int i = 0; i < 20000; ++i) {
        const point3d_t c(u(rng), u(rng), u(rng));
        const bound_t box(point3d_t(c.x - h(rng), c.y - h(rng), c.z - h(rng)),
                          point3d_t(c.x + h(rng), c.y + h(rng), c.z + h(rng)));
        point3d_t p[3];
        const float scale = (i % 4 == 0) ? 4.0f : 1.0f; // some larger than the box
        for (point3d_t& q : p) q = point3d_t(u(rng) * scale, u(rng) * scale, u(rng) * scale);
        // Decide only cases a margin of 1e-4 cannot flip.
        const bool inner = !clipTriangle(box, -1e-4, p[0], p[1], p[2]).empty();
        if (inner != !clipTriangle(box, 1e-4, p[0], p[1], p[2]).empty()) continue;
        EXPECT_EQ(triBoxOverlap(box, p[0], p[1], p[2]), inner) << i;
        (inner ? yes : no)++;
    }
    EXPECT_TRUE(yes > 2000 && no > 2000);
    const point3d_t half(1, 1, 1);
    EXPECT_TRUE(planeBoxOverlap(vector3d_t(0, 0, 1), -1, half)); // touching the top face counts
    EXPECT_FALSE(planeBoxOverlap(vector3d_t(0, 0, 1), -1.01f, half));
    EXPECT_TRUE(planeBoxOverlap(vector3d_t(1, 1, 1), -2.9f, half) &&
                !planeBoxOverlap(vector3d_t(1, 1, 1), -3.1f, half));
    // The exact classifier against the clipped prism's extent along the axis.
    int decided = 0, outside = 0;
    for (int i = 0; i < 5000; ++i) {
        point3d_t p[3];
        for (point3d_t& q : p) q = point3d_t(u(rng), u(rng), u(rng));
        triangle_t t(&p[0], &p[1], &p[2]);
        const float x0 = u(rng), y0 = u(rng), z0 = u(rng), pos = u(rng);
        const bound_t cell(point3d_t(x0, y0, z0), point3d_t(x0 + 1.5f, y0 + 1.5f, z0 + 1.5f));
        const int axis = i % 3;
        if (std::fabs(axisValue(t.N, axis)) < 0.05f) continue; // the height path only
        auto reference = [&](float grow) {
            const std::vector<dpoint> poly = clipTriangle(cell, grow, p[0], p[1], p[2], axis);
            if (poly.empty()) return 0;
            double mn = 1e30, mx = -1e30;
            for (const dpoint& q : poly) mn = std::min(mn, q.v[axis]), mx = std::max(mx, q.v[axis]);
            const double e = 1e-3;
            return mx < pos - e ? 1 : mn > pos + e ? 2 : (mn < pos - e && mx > pos + e) ? 3 : -1;
        };
        const int ref = reference(0);
        if (ref < 0) continue;
        const int got = expensivePosition(t, cell, pos, axis);
        if (ref == 0 && got != 0 && reference(1e-3f) != 0) continue; // only touches a border line
        EXPECT_EQ(got, ref) << i;
        ++decided;
        outside += ref == 0;
    }
    EXPECT_TRUE(decided > 2000 && outside > 100);
    // Known classifier cases and padded face bounds.
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    triangle_t t(&p[0], &p[1], &p[2]);
    const bound_t wide(point3d_t(-1, -1, -1), point3d_t(2, 2, 2)),
        narrow(point3d_t(-1, -1, -1), point3d_t(2, 0.5f, 2)), tight(point3d_t(0, 0, 0), point3d_t(1, 1, 0));
    const struct {
        const bound_t* box;
        float pos;
        int axis, want;
    } cheap[] = {{&wide, 2.0f, 0, 1},   {&wide, -0.5f, 0, 2},
                 {&wide, 0.5f, 0, 3},   {&wide, 0.0f, 0, 3}, // on the plane: 3
                 {&wide, 1.0f, 0, 3},   {&wide, 0.0f, 2, 3},
                 {&narrow, 0.5f, 0, 0}, {&narrow, 0.0f, 0, 0}, // outside: 0
                 {&narrow, 2.0f, 0, 1}, {&narrow, 0.5f, 1, 3},
                 {&narrow, 3.0f, 2, 1}, {&tight, 0.5f, 0, 3}};
    for (const auto& c : cheap)
        EXPECT_EQ(cheapPosition(t, *c.box, c.pos, c.axis), c.want) << c.pos << " " << c.axis;
    // A triangle parallel to the split axis, over the square [0, 1]^2.
    std::vector<point3d_t> q{point3d_t(0.2f, 0.5f, 0), point3d_t(0.8f, 0.5f, 0), point3d_t(0.5f, 0.5f, 2),
                             point3d_t(3.2f, 0.5f, 3)};
    triangle_t in(&q[0], &q[1], &q[2]), out(&q[0], &q[1], &q[3]);
    const bound_t column(point3d_t(0, 0, -5), point3d_t(1, 1, 5));
    EXPECT_TRUE(expensivePosition(in, column, 3.0f, 2) == 1 && expensivePosition(in, column, -1.0f, 2) == 2 &&
                expensivePosition(in, column, 1.0f, 2) == 3);
    // The apex leaves the square: its top is where the edges leave (z = 0.8).
    EXPECT_TRUE(expensivePosition(out, column, 0.9f, 2) == 1 && expensivePosition(out, column, 0.7f, 2) == 3);
    EXPECT_EQ(perpendicularPosition(q[0], q[1], q[3], square_t{0, 1, 0, 1}, -0.1f), 2);
    // Face bounds are padded in double.
    std::vector<point3d_t> f{point3d_t(0, 0, 0),  point3d_t(3, 0, 0), point3d_t(0, 3, 1),
                             point3d_t(-1, 2, 2), point3d_t(0, 5, 0), point3d_t(1, 1, -4)};
    std::vector<triangle_t> ts = tripleTriangles(f);
    const bound_t b = face_calc_bound({&ts[0], &ts[1]});
    EXPECT_TRUE(b.a.x == static_cast<float>(-1.0 - 1e-5) && b.a.z == static_cast<float>(-4.0 - 1e-5) &&
                b.g.y == static_cast<float>(5.0 + 1e-5) && !b.null);
    EXPECT_TRUE(face_calc_bound({}).null);
}

// The generic point tree and the photon map built on it: splitting rules,
// the region walk and the gather rules, checked against brute force.
#include "vexlarcore/photon.h"
#include "vexlarcore/sampling.h"

#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <set>

using namespace vexlar;

namespace {

typedef const point3d_t* item_t;
typedef gBoundTreeNode_t<item_t> node_t;

bound_t calcBound(const std::vector<item_t>& v) {
    if (v.empty()) return bound_t(point3d_t(0, 0, 0), point3d_t(0, 0, 0));
    point3d_t lo = *v[0], hi = *v[0];
    for (item_t p : v) {
        lo.set(std::min(lo.x, p->x), std::min(lo.y, p->y), std::min(lo.z, p->z));
        hi.set(std::max(hi.x, p->x), std::max(hi.y, p->y), std::max(hi.z, p->z));
    }
    return bound_t(lo, hi);
}
bool isInBound(const item_t& p, bound_t& b) {
    return b.a.x <= p->x && p->x <= b.g.x && b.a.y <= p->y && p->y <= b.g.y && b.a.z <= p->z && p->z <= b.g.z;
}
point3d_t getPos(const item_t& p) {
    return *p;
}

std::unique_ptr<node_t> build(const std::vector<point3d_t>& pts, unsigned leafSize = 8, bool sx = false,
                              bool sy = false, bool sz = false) {
    std::vector<item_t> items;
    for (const point3d_t& p : pts) items.push_back(&p);
    return std::unique_ptr<node_t>(
        buildGenericTree(items, calcBound, isInBound, getPos, leafSize, 1, sx, sy, sz));
}

// What the region walk visits, in its order (points or stored photons).
template <class T> std::vector<T> iterate(const gBoundTreeNode_t<T>* root, const searchCircle_t& c) {
    std::vector<T> out;
    for (gObjectIterator_t<T, searchCircle_t, circleCross_f> it(root, c); !it.finished; ++it)
        out.push_back(*it);
    return out;
}

// A photon arriving along +z, accepted by N = +z for any minCos below 1.
storedPhoton_t upPhoton(const point3d_t& p) {
    return storedPhoton_t(p, color_t(1.0f), vector3d_t(0, 0, 1));
}
// A map of up-facing photons at `at`, its tree built.
std::unique_ptr<globalPhotonMap_t> filled(float maxRadius, const std::vector<point3d_t>& at) {
    auto map = std::make_unique<globalPhotonMap_t>(maxRadius);
    for (const point3d_t& p : at) map->store(upPhoton(p));
    map->buildTree();
    return map;
}
std::vector<point3d_t> onXAxis(int n, float step) {
    std::vector<point3d_t> v;
    for (int i = 1; i <= n; ++i) v.push_back(point3d_t(step * static_cast<float>(i), 0, 0));
    return v;
}
std::vector<float> sortedDistances(const std::vector<foundPhoton_t>& f) {
    std::vector<float> d;
    for (const foundPhoton_t& x : f) d.push_back(x.dis);
    std::sort(d.begin(), d.end());
    return d;
}

// The gather rules applied to a plain list of all photons.
void bruteGather(const std::vector<storedPhoton_t>& photons, float maxRadius, const point3d_t& P,
                 const vector3d_t& N, std::vector<foundPhoton_t>& found, unsigned K, float& radius,
                 float minCos) {
    if (K != 0 && !(radius > maxRadius)) {
        unsigned n;
        for (;;) {
            std::vector<foundPhoton_t> all;
            for (const storedPhoton_t& p : photons) {
                const vector3d_t v = p.pos - P;
                const float d = static_cast<float>(std::sqrt(static_cast<double>(v * v)));
                if (d <= radius && N * dirconverter.convert(p.theta, p.phi) > minCos)
                    all.push_back(foundPhoton_t(&p, d));
            }
            n = static_cast<unsigned>(all.size());
            std::stable_sort(all.begin(), all.end(),
                             [](const foundPhoton_t& a, const foundPhoton_t& b) { return a.dis < b.dis; });
            if (all.size() > K) all.resize(K);
            found = all;
            if (n >= K) break;
            radius = radius + radius;
            if (radius > maxRadius) break;
        }
        if (n > K && static_cast<float>(K) / static_cast<float>(n) < 0.49f) radius *= 0.95f;
    }
    if (radius > maxRadius) radius = maxRadius;
}

const vector3d_t up(0, 0, 1);
const point3d_t origin(0, 0, 0);

struct gathered_t {
    std::vector<foundPhoton_t> found;
    float radius;
};
gathered_t gather(const globalPhotonMap_t& map, float radius, unsigned K, float minCos = 0.0f) {
    gathered_t g{std::vector<foundPhoton_t>(2, foundPhoton_t(nullptr, 7.0f)), radius};
    map.gather(origin, up, g.found, K, g.radius, minCos);
    return g;
}

} // namespace

TEST(pointTree, SplitsAtTheMeanWithThePlaneGroupOnTheRight) {
    std::vector<point3d_t> pts;
    for (int i = 0; i < 9; ++i) pts.push_back(point3d_t(static_cast<float>(i), 0.5f * (i % 2), 0));
    auto root = build(pts); // mean 4: L = 0..3, U = 5..8, M = {4}
    ASSERT_TRUE(!root->isLeaf() && root->right->isLeaf());
    EXPECT_TRUE(root->bound.g.x == 8 && root->bound.g.y == 0.5f &&
                root->right->items == std::vector<item_t>{&pts[4]});
    const node_t* n1 = root->left;
    EXPECT_TRUE(n1->parent == root.get() && n1->bound.g.x == 8 && n1->left->parent == n1);
    EXPECT_EQ(n1->left->items, (std::vector<item_t>{&pts[0], &pts[1], &pts[2], &pts[3]}));
    EXPECT_EQ(n1->right->items, (std::vector<item_t>{&pts[5], &pts[6], &pts[7], &pts[8]}));
    std::vector<point3d_t> lopsided(8, point3d_t(1, 0, 0)); // nothing on the plane at 11/9
    lopsided.push_back(point3d_t(3, 0, 0));
    auto l = build(lopsided);
    EXPECT_TRUE(l->left->items.size() == 8 && l->right->items == std::vector<item_t>{&lopsided[8]});
    // Equal extents: x, then y; all axes ruled out, nothing splits.
    std::vector<point3d_t> cube;
    for (int i = 0; i < 27; ++i) cube.push_back(point3d_t(i % 3, i / 3 % 3, i / 9));
    for (int skipped = 0; skipped < 3; ++skipped) {
        auto c = build(cube, 9, skipped > 0, skipped > 1);
        ASSERT_EQ(c->right->items.size(), 9u); // the middle plane
        for (item_t p : c->right->items) EXPECT_EQ(skipped == 0 ? p->x : skipped == 1 ? p->y : p->z, 1.0f);
    }
    EXPECT_EQ(build(cube, 8, true, true, true)->items.size(), 27u);
    std::vector<point3d_t> same(50, point3d_t(1, 2, 3)); // identical points stay in one leaf, in order
    auto s = build(same);
    ASSERT_TRUE(s->isLeaf() && s->items.size() == 50 && s->items[49] == &same[49]);
    EXPECT_EQ(iterate(s.get(), searchCircle_t(point3d_t(1, 2, 3), 0)).size(), 50u);
    std::vector<point3d_t> nan(20, point3d_t(NAN, 0, 0)); // NaN positions still end
    for (int i = 0; i < 20; ++i) nan[i].y = static_cast<float>(i);
    std::function<std::size_t(const node_t*)> count = [&](const node_t* n) {
        return n->isLeaf() ? n->items.size() : count(n->left) + count(n->right);
    };
    EXPECT_EQ(count(build(nan, 4).get()), 20u);
    EXPECT_TRUE(iterate<item_t>(nullptr, searchCircle_t(origin, 1)).empty() &&
                iterate(build({}).get(), searchCircle_t(origin, 10)).empty());
}

TEST(photonMap, GatherDoublesAndShrinksTheRadius) {
    const auto map = filled(2.0f, {origin});
    gathered_t g = gather(*map, 5.0f, 0); // K = 0 touches nothing and clamps the radius
    EXPECT_TRUE(g.found.size() == 2 && g.found[0].dis == 7.0f && g.radius == 2.0f);
    g = gather(*map, 2.5f, 4); // above the maximum: no search
    EXPECT_TRUE(g.found.size() == 2 && g.radius == 2.0f);
    const auto five = filled(10.0f, {point3d_t(0.1f, 0, 0), point3d_t(0.2f, 0, 0), point3d_t(0.3f, 0, 0),
                                     origin, point3d_t(3, 0, 0)});
    g = gather(*five, 0.5f, 4); // exactly K candidates: one pass, a heap with the farthest on top
    EXPECT_TRUE(g.radius == 0.5f && g.found.size() == 4 &&
                std::is_heap(g.found.begin(), g.found.end(), compareFound_f()));
    const auto twelve = filled(10.0f, onXAxis(12, 0.05f));
    g = gather(*twelve, 1.0f, 4); // three times K: the four nearest, the radius shrunk
    EXPECT_EQ(g.radius, 0.95f);
    std::set<const storedPhoton_t*> got;
    for (const foundPhoton_t& f : g.found) got.insert(f.photon);
    EXPECT_EQ(got, (std::set<const storedPhoton_t*>{&twelve->photons[0], &twelve->photons[1],
                                                    &twelve->photons[2], &twelve->photons[3]}));
    // A single-precision product (double rounds to 0.570000052); 4 / 8 = 0.5 is not below 0.49.
    EXPECT_EQ(gather(*filled(10.0f, onXAxis(12, 0.04f)), 0.6f, 4).radius, 0.6f * 0.95f);
    EXPECT_EQ(gather(*filled(10.0f, onXAxis(8, 0.05f)), 1.0f, 4).radius, 1.0f);
    // Two at 1.5: doubling from 0.25 finds them at 2.
    const auto near = filled(3.0f, {point3d_t(1.5f, 0, 0), point3d_t(0, 1.5f, 0)});
    g = gather(*near, 0.25f, 3); // fewer than K: doubling continues past the maximum
    EXPECT_TRUE(g.found.size() == 2 && g.radius == 3.0f);
    EXPECT_EQ(gather(*near, 0.25f, 2).radius, 2.0f);
    EXPECT_EQ(gather(*near, 0.25f, 2).found.size(), 2u);
    // Radii that cannot grow end the search.
    const auto pair = filled(4.0f, {origin, point3d_t(1, 0, 0)});
    g = gather(*pair, 0.0f, 2);
    EXPECT_TRUE(g.found.size() == 1 && g.radius == 0.0f);
    EXPECT_TRUE(gather(*pair, -1.0f, 2).found.empty());
    EXPECT_EQ(gather(*pair, NAN, 2).radius, 4.0f);
    EXPECT_EQ(gather(*filled(INFINITY, {origin}), 1.0f, 5).found.size(), 1u);
}

TEST(photonMap, DirectionsTiesAndTheTree) {
    globalPhotonMap_t map(10.0f);
    map.store(storedPhoton_t(point3d_t(0.1f, 0, 0), color_t(1.0f), vector3d_t(0, 0, 0)));  // no direction
    map.store(storedPhoton_t(point3d_t(0.2f, 0, 0), color_t(1.0f), vector3d_t(0, 0, -1))); // almost -z
    map.store(upPhoton(point3d_t(0.3f, 0, 0)));
    map.buildTree();
    EXPECT_EQ(gather(map, 1.0f, 1).found[0].photon, &map.photons[2]);
    EXPECT_EQ(gather(map, 1.0f, 1, -0.5f).found[0].photon, &map.photons[0]); // 0 > -0.5
    EXPECT_TRUE(gather(map, 1.0f, 1, 1.0f).found.empty());                   // strictly above minCos
    // Equal distances: the later candidate replaces the earlier.
    const auto tie = filled(10.0f, {point3d_t(0.5f, 0, 0), point3d_t(-0.5f, 0, 0)});
    const std::vector<const storedPhoton_t*> order = iterate(tie->tree, searchCircle_t(origin, 1.0f));
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(gather(*tie, 1.0f, 1).found[0].photon, order[1]);
    storedPhoton_t p(point3d_t(1, 2, 3), color_t(0.5f, 0.25f, 1.0f), vector3d_t(0, 0, 2));
    EXPECT_TRUE(p.theta == 0 && p.direction().z == 1.0f && std::fabs(p.color().R - 0.5f) < 0.01f);
    runningPhoton_t r(origin); // a new segment only after a move longer than dist
    r.position(point3d_t(3, 4, 0), 5.0f);
    r.position(point3d_t(3, 4, 5.5f), 5.0f);
    EXPECT_TRUE(r.lastPos.x == 3 && r.lastPos.z == 0 && r.pos.z == 5.5f);
}

TEST(photonMap, MatchesBruteForceOnRandomClouds) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int cloud = 0; cloud < 6; ++cloud) {
        globalPhotonMap_t map(0.5f + static_cast<float>(cloud) * 0.3f);
        const int n = 200 + static_cast<int>(rng() % 1500);
        for (int i = 0; i < n; ++i) {
            storedPhoton_t p;
            p.pos = point3d_t(u(rng), u(rng), cloud % 2 ? u(rng) * 0.05f : u(rng));
            p.theta = static_cast<unsigned char>(rng() % 256);
            p.phi = static_cast<unsigned char>(rng() % 256);
            map.store(p);
        }
        map.buildTree();
        float radius = 0.05f, refRadius = 0.05f;
        for (int q = 0; q < 60; ++q) {
            const point3d_t P(u(rng), u(rng), u(rng) * 0.2f);
            const vector3d_t N = vector3d_t(u(rng), u(rng), u(rng)).normalize();
            const unsigned K = 1 + rng() % 50;
            const float minCos = q % 3 == 0 ? -1.5f : u(rng) * 0.5f;
            std::vector<foundPhoton_t> got, want;
            map.gather(P, N, got, K, radius, minCos);
            bruteGather(map.photons, map.maxRadius, P, N, want, K, refRadius, minCos);
            ASSERT_EQ(radius, refRadius) << cloud << " " << q;
            ASSERT_TRUE(std::is_heap(got.begin(), got.end(), compareFound_f()));
            ASSERT_EQ(sortedDistances(got), sortedDistances(want)) << cloud << " " << q;
        }
    }
}

// Generic point tree: building rules, the region test and the iterator,
// checked against brute-force walks on random point clouds.
#include "vexlarcore/pointtree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

using namespace vexlar;

namespace {

typedef const point3d_t* item_t;
typedef gBoundTreeNode_t<item_t> node_t;
typedef gObjectIterator_t<item_t, searchCircle_t, circleCross_f> iterator_t;

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

bool samePoint(const point3d_t& a, const point3d_t& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

node_t* build(const std::vector<point3d_t>& pts, unsigned leafSize = 8, bool sx = false, bool sy = false,
              bool sz = false) {
    std::vector<item_t> items;
    for (const point3d_t& p : pts) items.push_back(&p);
    return buildGenericTree(items, calcBound, isInBound, getPos, leafSize, 1, sx, sy, sz);
}

std::vector<item_t> iterate(const node_t* root, const searchCircle_t& c) {
    std::vector<item_t> out;
    for (iterator_t it(root, c); !it.finished; ++it) out.push_back(*it);
    return out;
}

// The visiting rule written as a plain recursion: a node is entered when its
// box is crossed; leaves in depth-first order, left before right.
void reference(const node_t* n, const searchCircle_t& c, std::vector<item_t>& out) {
    if (!circleCross_f()(c, n->bound)) return;
    if (n->isLeaf()) {
        out.insert(out.end(), n->items.begin(), n->items.end());
        return;
    }
    reference(n->left, c, out);
    reference(n->right, c, out);
}

// Structural checks; returns the number of items below n.
std::size_t checkNode(const node_t* n, const node_t* parent, unsigned leafSize, std::multiset<item_t>& seen) {
    EXPECT_EQ(n->parent, parent);
    if (n->isLeaf()) {
        EXPECT_EQ(n->right, nullptr);
        bound_t b = n->bound;
        for (item_t p : n->items) {
            EXPECT_TRUE(isInBound(p, b));
            seen.insert(p);
        }
        if (n->items.size() > leafSize) {
            // Only points that no axis can separate stay together.
            for (item_t p : n->items)
                EXPECT_TRUE(samePoint(*p, *n->items[0])) << "oversized leaf of distinct points";
        }
        return n->items.size();
    }
    EXPECT_NE(n->right, nullptr);
    EXPECT_TRUE(n->items.empty());
    std::size_t l = checkNode(n->left, n, leafSize, seen);
    std::size_t r = checkNode(n->right, n, leafSize, seen);
    EXPECT_GT(l, 0u);
    EXPECT_GT(r, 0u);
    return l + r;
}

} // namespace

TEST(PointTree, NoItemsGiveAnEmptyLeaf) {
    std::vector<point3d_t> none;
    node_t* root = build(none);
    ASSERT_TRUE(root->isLeaf());
    EXPECT_TRUE(root->items.empty());
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_TRUE(iterate(root, searchCircle_t(point3d_t(0, 0, 0), 10)).empty());
    delete root;
    // A null root is finished at once.
    EXPECT_TRUE(iterate(nullptr, searchCircle_t(point3d_t(0, 0, 0), 1)).empty());
}

TEST(PointTree, CoincidentItemsStayInOneLeaf) {
    std::vector<point3d_t> same(50, point3d_t(1, 2, 3));
    node_t* root = build(same);
    ASSERT_TRUE(root->isLeaf());
    ASSERT_EQ(root->items.size(), 50u);
    for (std::size_t i = 0; i < 50; ++i) EXPECT_EQ(root->items[i], &same[i]); // order kept
    EXPECT_EQ(iterate(root, searchCircle_t(point3d_t(1, 2, 3), 0)).size(), 50u);
    delete root;
}

TEST(PointTree, NineItemsSplitAtTheMeanWithThePlaneGroupOnTheRight) {
    std::vector<point3d_t> pts;
    for (int i = 0; i < 9; ++i) pts.push_back(point3d_t(static_cast<float>(i), 0.5f * (i % 2), 0));
    node_t* root = build(pts);
    // Mean 4: L = 0..3, U = 5..8, M = {4}.
    ASSERT_FALSE(root->isLeaf());
    EXPECT_EQ(root->bound.a.x, 0.0f);
    EXPECT_EQ(root->bound.g.x, 8.0f);
    EXPECT_EQ(root->bound.g.y, 0.5f);
    ASSERT_TRUE(root->right->isLeaf());
    ASSERT_EQ(root->right->items.size(), 1u);
    EXPECT_EQ(root->right->items[0], &pts[4]);
    const node_t* n1 = root->left;
    ASSERT_FALSE(n1->isLeaf());
    EXPECT_EQ(n1->parent, root);
    EXPECT_EQ(n1->bound.g.x, 8.0f); // the box of the set that was split
    ASSERT_TRUE(n1->left->isLeaf());
    ASSERT_TRUE(n1->right->isLeaf());
    EXPECT_EQ(n1->left->items, (std::vector<item_t>{&pts[0], &pts[1], &pts[2], &pts[3]}));
    EXPECT_EQ(n1->right->items, (std::vector<item_t>{&pts[5], &pts[6], &pts[7], &pts[8]}));
    EXPECT_EQ(n1->right->bound.a.x, 5.0f);
    EXPECT_EQ(n1->left->parent, n1);
    delete root;
}

TEST(PointTree, EmptyGroupsAreLeftOut) {
    // Eight items at x = 1 and one at x = 3: the mean 11/9 separates them
    // with nothing on the plane, so a single node holds L and U.
    std::vector<point3d_t> pts(8, point3d_t(1, 0, 0));
    pts.push_back(point3d_t(3, 0, 0));
    node_t* root = build(pts);
    ASSERT_FALSE(root->isLeaf());
    ASSERT_TRUE(root->left->isLeaf());
    ASSERT_TRUE(root->right->isLeaf());
    EXPECT_EQ(root->left->items.size(), 8u);
    EXPECT_EQ(root->right->items, (std::vector<item_t>{&pts[8]}));
    delete root;
}

TEST(PointTree, SplitAxisFollowsTheLargestExtentAndTheSkipFlags) {
    // Equal extents on all axes: x wins the tie; with x ruled out, y (tied
    // with z) is next; all three ruled out, nothing splits.
    std::vector<point3d_t> cube;
    for (int i = 0; i < 27; ++i)
        cube.push_back(
            point3d_t(static_cast<float>(i % 3), static_cast<float>(i / 3 % 3), static_cast<float>(i / 9)));
    for (int skipped = 0; skipped < 3; ++skipped) {
        node_t* root = build(cube, 9, skipped > 0, skipped > 1);
        ASSERT_TRUE(root->right->isLeaf());
        ASSERT_EQ(root->right->items.size(), 9u); // the middle plane
        for (item_t p : root->right->items) EXPECT_EQ(skipped == 0 ? p->x : skipped == 1 ? p->y : p->z, 1.0f);
        delete root;
    }
    node_t* root = build(cube, 8, true, true, true);
    EXPECT_TRUE(root->isLeaf());
    EXPECT_EQ(root->items.size(), 27u);
    delete root;
}

TEST(PointTree, NaNPositionsStillEnd) {
    std::vector<point3d_t> pts(20, point3d_t(NAN, 0, 0));
    for (int i = 0; i < 20; ++i) pts[i].y = static_cast<float>(i);
    node_t* root = build(pts, 4);
    std::function<std::size_t(const node_t*)> count = [&](const node_t* n) -> std::size_t {
        return n->isLeaf() ? n->items.size() : count(n->left) + count(n->right);
    };
    EXPECT_EQ(count(root), 20u);
    delete root;
}

TEST(CircleCross, GrownBoxWithInclusiveBounds) {
    bound_t b(point3d_t(0, 0, 0), point3d_t(1, 1, 1));
    circleCross_f cross;
    EXPECT_TRUE(cross(searchCircle_t(point3d_t(2, 0.5f, 0.5f), 1.0f), b)); // exactly radius away
    EXPECT_FALSE(cross(searchCircle_t(point3d_t(2.001f, 0.5f, 0.5f), 1.0f), b));
    EXPECT_TRUE(cross(searchCircle_t(point3d_t(-0.5f, -0.5f, 1.5f), 0.5f), b));
    // A corner region: the grown box, not a sphere, decides.
    EXPECT_TRUE(cross(searchCircle_t(point3d_t(1.9f, 1.9f, 1.9f), 1.0f), b));
    EXPECT_TRUE(cross(searchCircle_t(point3d_t(0.5f, 0.5f, 0.5f), 0.0f), b));
    EXPECT_FALSE(cross(searchCircle_t(point3d_t(0.5f, 0.5f, 3.0f), 1.0f), b));
}

TEST(PointTree, RandomCloudsMatchTheBruteForceWalk) {
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> u(-10.0f, 10.0f);
    for (int cloud = 0; cloud < 12; ++cloud) {
        const unsigned n = 1 + rng() % 700;
        std::vector<point3d_t> pts;
        for (unsigned i = 0; i < n; ++i) {
            // Some clustering and exact duplicates, as photon maps have.
            if (i > 0 && rng() % 5 == 0) {
                pts.push_back(pts[rng() % pts.size()]);
            } else {
                pts.push_back(
                    point3d_t(u(rng), u(rng) * (cloud % 3 == 0 ? 0.01f : 1.0f), std::floor(u(rng))));
            }
        }
        const unsigned leafSize = 1 + rng() % 10;
        node_t* root = build(pts, leafSize);
        std::multiset<item_t> seen;
        ASSERT_EQ(checkNode(root, nullptr, leafSize, seen), pts.size());
        for (const point3d_t& p : pts) ASSERT_EQ(seen.count(&p), 1u);

        for (int q = 0; q < 40; ++q) {
            searchCircle_t c(point3d_t(u(rng), u(rng), u(rng)), std::fabs(u(rng)) * 0.4f);
            if (q % 10 == 0) c.center = pts[rng() % pts.size()];
            std::vector<item_t> got = iterate(root, c), want;
            reference(root, c, want);
            ASSERT_EQ(got, want) << "cloud " << cloud << " query " << q;
            // Every item inside the sphere is among those visited.
            std::set<item_t> visited(got.begin(), got.end());
            for (const point3d_t& p : pts) {
                vector3d_t d = p - c.center;
                if (d.length() <= c.radius) {
                    ASSERT_TRUE(visited.count(&p)) << "missed a point";
                }
            }
        }
        delete root;
    }
}

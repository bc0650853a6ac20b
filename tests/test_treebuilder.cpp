#include "vexlarcore/treebuilder.h"

#include "vexlarcore/bound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace vexlar;

namespace {

// A small tree node whose name records the join order: a parent is named
// "(left,right)".
struct node_t {
    node_t(const std::string& n, const bound_t& b)
        : name(n), box(b), left(nullptr), right(nullptr), count(1) {}
    node_t(node_t* l, node_t* r)
        : name("(" + l->name + "," + r->name + ")"), box(l->box, r->box), left(l), right(r),
          count(l->count + r->count) {}
    ~node_t() {
        delete left;
        delete right;
    }
    std::string name;
    bound_t box;
    node_t* left;
    node_t* right;
    int count;
};

struct dist_f {
    float operator()(const node_t* l, const node_t* r) const { return bound_distance(l->box, r->box); }
};
struct join_f {
    node_t* operator()(node_t* l, node_t* r) const { return new node_t(l, r); }
};

typedef treeBuilder_t<node_t*, float, dist_f, join_f> builder_t;

node_t* cube(const std::string& name, float x, float y, float z, float size = 1) {
    return new node_t(name, bound_t(point3d_t(x, y, z), point3d_t(x + size, y + size, z + size)));
}

// A slab of unit cross-section from x0 to x1, for distances that are easy to
// work out by hand (the volume is the length).
node_t* span(const std::string& name, float x0, float x1) {
    return new node_t(name, bound_t(point3d_t(x0, 0, 0), point3d_t(x1, 1, 1)));
}

std::vector<std::string> names(const builder_t& b) {
    std::vector<std::string> out;
    for (const auto& it : b.items) out.push_back(it.element->name);
    return out;
}

// The bookkeeping the builder keeps after every public operation.
void checkInvariants(builder_t& b) {
    if (b.items.size() < 2) return;
    ASSERT_NE(b.best, b.items.end());
    EXPECT_EQ(b.best->nearestDist, b.minDist);
    std::set<const builder_t::item_t*> live;
    float smallest = b.items.front().nearestDist;
    for (auto& it : b.items) {
        live.insert(&it);
        smallest = std::min(smallest, it.nearestDist);
    }
    EXPECT_EQ(b.minDist, smallest);
    for (auto i = b.items.begin(); i != b.items.end(); ++i) {
        ASSERT_NE(i->nearest, b.items.end());
        ASSERT_NE(i->nearest, i);
        ASSERT_TRUE(live.count(&*i->nearest));
        const auto& back = i->nearest->pointedBy;
        EXPECT_NE(std::find(back.begin(), back.end(), i), back.end()) << i->element->name;
        // Measured from either side: the cost is not exactly symmetric in
        // single precision.
        float d1 = dist_f()(i->element, i->nearest->element), d2 = dist_f()(i->nearest->element, i->element);
        EXPECT_TRUE(i->nearestDist == d1 || i->nearestDist == d2) << i->nearestDist << " " << d1 << " " << d2;
        for (auto p : i->pointedBy) {
            ASSERT_TRUE(live.count(&*p)) << "stale entry in pointedBy of " << i->element->name;
            EXPECT_EQ(p->nearest, i);
        }
    }
}

bool contains(const bound_t& outer, const bound_t& inner) {
    return outer.a.x <= inner.a.x && outer.a.y <= inner.a.y && outer.a.z <= inner.a.z &&
           outer.g.x >= inner.g.x && outer.g.y >= inner.g.y && outer.g.z >= inner.g.z;
}

// Checks boxes and counts down the tree and collects the leaf names.
void checkTree(const node_t* n, std::vector<std::string>& leaves) {
    if (n->left == nullptr) {
        EXPECT_EQ(n->count, 1);
        leaves.push_back(n->name);
        return;
    }
    ASSERT_NE(n->right, nullptr);
    EXPECT_TRUE(contains(n->box, n->left->box) && contains(n->box, n->right->box)) << n->name;
    EXPECT_EQ(n->count, n->left->count + n->right->count);
    checkTree(n->left, leaves);
    checkTree(n->right, leaves);
}

} // namespace

TEST(TreeBuilderTest, EmptyAndSingleNode) {
    builder_t b;
    EXPECT_EQ(b.best, b.items.end());
    b.build();
    EXPECT_TRUE(b.items.empty());
    node_t* a = cube("A", 0, 0, 0);
    b.push(a);
    EXPECT_EQ(b.best, b.items.end());
    b.build();
    ASSERT_EQ(b.items.size(), 1u);
    EXPECT_EQ(b.items.front().element, a);
    delete a;
}

TEST(TreeBuilderTest, TwoNodesJoinNewestFirstAndPop) {
    builder_t b;
    node_t* a = cube("A", 0, 0, 0);
    node_t* bb = cube("B", 3, 0, 0);
    b.push(a);
    b.push(bb);
    EXPECT_EQ(names(b), (std::vector<std::string>{"B", "A"}));
    ASSERT_NE(b.best, b.items.end());
    EXPECT_EQ(b.best->element, bb);
    EXPECT_EQ(b.best->nearest->element, a);
    EXPECT_EQ(b.minDist, 6.0f); // union 4, waste 2, no imbalance
    checkInvariants(b);
    b.build();
    ASSERT_EQ(b.items.size(), 1u);
    node_t* root = b.items.front().element;
    EXPECT_EQ(root->name, "(B,A)");
    EXPECT_EQ(root->left, bb);
    EXPECT_EQ(root->count, 2);
    // pop hands out the best item, then its nearest, and empties the list.
    builder_t c;
    c.push(root->right);
    c.push(root->left);
    EXPECT_EQ(c.pop(), std::make_pair(bb, a));
    EXPECT_TRUE(c.items.empty());
    EXPECT_EQ(c.best, c.items.end());
    delete root;
}

TEST(TreeBuilderTest, ThreeCubesJoinTheOverlappingPairFirst) {
    builder_t b;
    b.push(cube("P0", 0, 0, 0));
    b.push(cube("P1", 0.5f, 0.5f, 0.5f));
    b.push(cube("P2", 10, 10, 10));
    checkInvariants(b);
    EXPECT_EQ(b.best->element->name, "P1");
    EXPECT_EQ(b.best->nearest->element->name, "P0");
    b.step();
    EXPECT_EQ(names(b), (std::vector<std::string>{"(P1,P0)", "P2"}));
    checkInvariants(b);
    b.build();
    node_t* root = b.items.front().element;
    EXPECT_EQ(root->name, "((P1,P0),P2)");
    EXPECT_EQ(root->count, 3);
    delete root;
}

TEST(TreeBuilderTest, PushKeepsTheOldBestOnATie) {
    // A-B and B-C are both at distance 2 (touching unit spans); the pair
    // found first (B with A) stays best when C arrives.
    builder_t b;
    b.push(span("A", 0, 1));
    b.push(span("B", 1, 2));
    b.push(span("C", 2, 3));
    checkInvariants(b);
    EXPECT_EQ(b.best->element->name, "B");
    EXPECT_EQ(b.best->nearest->element->name, "A");
    EXPECT_EQ(b.minDist, 2.0f);
    b.build();
    node_t* root = b.items.front().element;
    EXPECT_EQ(root->name, "((B,A),C)");
    delete root;
}

TEST(TreeBuilderTest, PopRescanPrefersTheFrontAmongEquals) {
    // Two touching pairs far apart: after (B,A) is joined, D-C and C-D are
    // equally near and D, nearer the front of the list, becomes best.
    builder_t b;
    b.push(span("A", 0, 1));
    b.push(span("B", 1, 2));
    b.push(span("C", 10, 11));
    b.push(span("D", 11, 12));
    checkInvariants(b);
    EXPECT_EQ(b.best->element->name, "B");
    b.step();
    checkInvariants(b);
    EXPECT_EQ(names(b), (std::vector<std::string>{"(B,A)", "D", "C"}));
    EXPECT_EQ(b.best->element->name, "D");
    b.build();
    node_t* root = b.items.front().element;
    EXPECT_EQ(root->name, "((D,C),(B,A))");
    delete root;
}

TEST(TreeBuilderTest, StepOnAChainJoinsNeighbours) {
    // Spans of growing gaps: each join takes the closest remaining pair.
    builder_t b;
    b.push(span("A", 0, 1));
    b.push(span("B", 1, 2));
    b.push(span("C", 4, 5));
    b.push(span("D", 12, 13));
    b.build();
    node_t* root = b.items.front().element;
    EXPECT_EQ(root->name, "(((B,A),C),D)");
    std::vector<std::string> leaves;
    checkTree(root, leaves);
    delete root;
}

TEST(TreeBuilderTest, RandomBoxesBuildAConsistentTree) {
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> pos(-50, 50), size(0.1f, 8);
    for (int round = 0; round < 2; ++round) {
        builder_t b;
        const int n = 40 + round * 110;
        std::vector<std::string> expected;
        for (int i = 0; i < n; ++i) {
            float x = pos(rng), y = pos(rng), z = pos(rng);
            // Some identical boxes to exercise equal distances.
            if (i % 7 == 3) x = y = z = 1;
            std::string name = "n" + std::to_string(i);
            expected.push_back(name);
            b.push(new node_t(name,
                              bound_t(point3d_t(x, y, z), point3d_t(x + size(rng), y + size(rng), z + 1))));
            checkInvariants(b);
        }
        while (b.items.size() >= 2) {
            b.step();
            checkInvariants(b);
            if (HasFatalFailure()) return;
        }
        ASSERT_EQ(b.items.size(), 1u);
        node_t* root = b.items.front().element;
        EXPECT_EQ(root->count, n);
        std::vector<std::string> leaves;
        checkTree(root, leaves);
        std::sort(leaves.begin(), leaves.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(leaves, expected);
        delete root;
    }
}

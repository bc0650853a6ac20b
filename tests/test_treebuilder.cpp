#include "vexlarcore/treebuilder.h"

#include "vexlarcore/bound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
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
    for (const auto& it : b.items) {
        out.push_back(it.element->name);
    }
    return out;
}

// The bookkeeping the builder keeps after every public operation.
void checkInvariants(builder_t& b) {
    if (b.items.size() < 2) {
        return;
    }
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

void collectLeaves(const node_t* n, std::vector<std::string>& leaves) {
    if (n->left == nullptr) {
        leaves.push_back(n->name);
        return;
    }
    collectLeaves(n->left, leaves);
    collectLeaves(n->right, leaves);
}

bool contains(const bound_t& outer, const bound_t& inner) {
    return outer.a.x <= inner.a.x && outer.a.y <= inner.a.y && outer.a.z <= inner.a.z &&
           outer.g.x >= inner.g.x && outer.g.y >= inner.g.y && outer.g.z >= inner.g.z;
}

void checkTree(const node_t* n) {
    if (n->left == nullptr) {
        EXPECT_EQ(n->count, 1);
        return;
    }
    ASSERT_NE(n->right, nullptr);
    EXPECT_TRUE(contains(n->box, n->left->box));
    EXPECT_TRUE(contains(n->box, n->right->box));
    EXPECT_EQ(n->count, n->left->count + n->right->count);
    checkTree(n->left);
    checkTree(n->right);
}

} // namespace

TEST(TreeBuilderTest, EmptyBuilderHasNoPair) {
    builder_t b;
    EXPECT_TRUE(b.items.empty());
    EXPECT_EQ(b.best, b.items.end());
    b.build();
    EXPECT_TRUE(b.items.empty());
}

TEST(TreeBuilderTest, SingleNodeIsTheRoot) {
    builder_t b;
    node_t* a = cube("A", 0, 0, 0);
    b.push(a);
    EXPECT_EQ(b.best, b.items.end());
    b.build();
    ASSERT_EQ(b.items.size(), 1u);
    EXPECT_EQ(b.items.front().element, a);
    delete a;
}

TEST(TreeBuilderTest, TwoNodesJoinNewestFirst) {
    builder_t b;
    node_t* a = cube("A", 0, 0, 0);
    node_t* bb = cube("B", 3, 0, 0);
    b.push(a);
    b.push(bb);
    EXPECT_EQ(names(b), (std::vector<std::string>{"B", "A"}));
    ASSERT_NE(b.best, b.items.end());
    EXPECT_EQ(b.best->element, bb);
    EXPECT_EQ(b.best->nearest->element, a);
    // Union 4, waste 2, no imbalance.
    EXPECT_EQ(b.minDist, 6.0f);
    checkInvariants(b);
    b.build();
    ASSERT_EQ(b.items.size(), 1u);
    node_t* root = b.items.front().element;
    EXPECT_EQ(root->name, "(B,A)");
    EXPECT_EQ(root->left, bb);
    EXPECT_EQ(root->right, a);
    EXPECT_EQ(root->count, 2);
    delete root;
}

TEST(TreeBuilderTest, PopReturnsBestThenItsNearest) {
    builder_t b;
    node_t* a = cube("A", 0, 0, 0);
    node_t* bb = cube("B", 3, 0, 0);
    b.push(a);
    b.push(bb);
    auto pair = b.pop();
    EXPECT_EQ(pair.first, bb);
    EXPECT_EQ(pair.second, a);
    EXPECT_TRUE(b.items.empty());
    EXPECT_EQ(b.best, b.items.end());
    delete a;
    delete bb;
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
    checkTree(root);
    delete root;
}

TEST(TreeBuilderTest, RandomBoxesBuildAConsistentTree) {
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> pos(-50, 50), size(0.1f, 8);
    for (int round = 0; round < 4; ++round) {
        builder_t b;
        const int n = 40 + round * 60;
        std::vector<std::string> expected;
        for (int i = 0; i < n; ++i) {
            float x = pos(rng), y = pos(rng), z = pos(rng);
            // Some identical boxes to exercise equal distances.
            if (i % 7 == 3) {
                x = y = z = 1;
            }
            std::string name = "n" + std::to_string(i);
            expected.push_back(name);
            b.push(new node_t(name,
                              bound_t(point3d_t(x, y, z), point3d_t(x + size(rng), y + size(rng), z + 1))));
            checkInvariants(b);
        }
        while (b.items.size() >= 2) {
            b.step();
            checkInvariants(b);
            if (HasFatalFailure()) {
                return;
            }
        }
        ASSERT_EQ(b.items.size(), 1u);
        node_t* root = b.items.front().element;
        EXPECT_EQ(root->count, n);
        checkTree(root);
        std::vector<std::string> leaves;
        collectLeaves(root, leaves);
        std::sort(leaves.begin(), leaves.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(leaves, expected);
        delete root;
    }
}

TEST(TreeBuilderTest, JoinOrderDependsOnlyOnInput) {
    // Building twice from the same pushes gives the same tree.
    auto build = [] {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> pos(0, 20);
        builder_t b;
        for (int i = 0; i < 30; ++i) {
            b.push(cube("c" + std::to_string(i), pos(rng), pos(rng), pos(rng)));
        }
        b.build();
        node_t* root = b.items.front().element;
        std::string name = root->name;
        delete root;
        return name;
    };
    EXPECT_EQ(build(), build());
}

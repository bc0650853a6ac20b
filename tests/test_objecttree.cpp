// The agglomerative tree builder and the object trees built with it: join
// order, bookkeeping, and ray iterators checked against brute force.
#include "vexlarcore/geometree.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/treebuilder.h"

#include "boxobject.h"
#include "joinnode.h"
#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

using namespace vexlar;
using namespace joins;
using support::captured;

namespace {

const float inf = std::numeric_limits<float>::infinity();

// A slab of unit cross-section from x0 to x1: its volume is its length.
node_t* span(const std::string& name, float x0, float x1) {
    return new node_t(name, bound_t(point3d_t(x0, 0, 0), point3d_t(x1, 1, 1)));
}

// Boxes and rays on a 1/16 grid: slabs are exact, and a box is crossed
// whenever a box inside it is.
struct randomScene_t {
    randomScene_t(unsigned seed, int n) : rng(seed) {
        for (int i = 0; i < n; ++i) {
            point3d_t a(grid(-40, 40), grid(-40, 40), grid(-40, 40));
            point3d_t g(a.x + grid(0.25f, 6), a.y + grid(0.25f, 6), a.z + grid(0.25f, 6));
            owned.emplace_back(new boxObject_t(bound_t(a, g)));
            objects.push_back(owned.back().get());
        }
    }
    float grid(float lo, float hi) {
        return std::floor(std::uniform_real_distribution<float>(lo, hi)(rng) * 16) / 16;
    }
    void randomRay(point3d_t& from, vector3d_t& ray) {
        from = point3d_t(grid(-60, 60), grid(-60, 60), grid(-60, 60));
        const bound_t& b = owned[rng() % owned.size()]->box; // aim near an object
        ray = point3d_t(grid(b.a.x - 2, b.g.x + 2), grid(b.a.y - 2, b.g.y + 2), grid(b.a.z - 2, b.g.z + 2)) -
              from;
        ray.normalize();
    }
    std::mt19937 rng;
    std::vector<std::unique_ptr<boxObject_t>> owned;
    std::list<object3d_t*> objects;
};

std::vector<object3d_t*> walk(const geomeTree_t<object3d_t>* tree, const point3d_t& from,
                              const vector3d_t& ray, bool shadow, float dist = inf) {
    std::vector<object3d_t*> out;
    for (geomeIterator_t<object3d_t> it(tree, dist, from, ray, shadow); it.current && out.size() < 100000;
         ++it)
        out.push_back(*it);
    return out;
}

std::vector<object3d_t*> sorted(std::vector<object3d_t*> v) {
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(treeBuilder, JoinsTheClosestPairFirstWithTiesByListPosition) {
    const struct {
        std::vector<std::pair<float, float>> spans;
        std::string root;
    } cases[] = {
        {{{0, 1}, {3, 4}}, "(B,A)"},                             // newest first
        {{{0, 1}, {1, 2}, {2, 3}}, "((B,A),C)"},                 // A-B and B-C tie: the old best stays
        {{{0, 1}, {1, 2}, {10, 11}, {11, 12}}, "((D,C),(B,A))"}, // the front wins among equals after a pop
        {{{0, 1}, {1, 2}, {4, 5}, {12, 13}}, "(((B,A),C),D)"},   // a chain of growing gaps
        {{{0, 1}, {0.5f, 2}, {20, 21}}, "((B,A),C)"},
        {{{0.25f, 1}, {9, 10.75f}, {3.25f, 4}}, "((C,A),B)"}, // C adopts A on two votes of three
    };
    for (const auto& c : cases) {
        builder_t b;
        std::string name = "A";
        for (const auto& s : c.spans) {
            b.push(span(name, s.first, s.second));
            ++name[0];
        }
        b.build();
        ASSERT_EQ(b.items.size(), 1u);
        node_t* root = b.items.front().element;
        EXPECT_EQ(root->name, c.root);
        EXPECT_EQ(root->count, static_cast<int>(c.spans.size()));
        delete root;
    }
    builder_t b; // pop hands out best and its partner and empties the list
    node_t *a = span("A", 0, 1), *bb = span("B", 3, 4);
    b.push(a);
    b.push(bb);
    EXPECT_EQ(b.minDist, 6.0f); // union 4, waste 2
    EXPECT_EQ(b.pop(), std::make_pair(bb, a));
    EXPECT_TRUE(b.items.empty() && b.best == b.items.end());
    b.build(); // nothing to do
    delete a;
    delete bb;
}

TEST(objectTree, BuiltByDistanceAndCounted) {
    std::list<object3d_t*> objects{nullptr};
    EXPECT_EQ(captured([&] { EXPECT_EQ(buildObjectTree(objects), nullptr); }), ""); // nulls are skipped
    boxObject_t p0(bound_t(point3d_t(0, 0, 0), point3d_t(1, 1, 1))),
        p1(bound_t(point3d_t(0.5f, 0.5f, 0.5f), point3d_t(1.5f, 1.5f, 1.5f))),
        p2(bound_t(point3d_t(10, 10, 10), point3d_t(11, 11, 11)));
    objects = {&p0, &p1, &p2};
    geomeTree_t<object3d_t>* root = nullptr;
    captured([&] { root = buildObjectTree(objects); });
    std::unique_ptr<geomeTree_t<object3d_t>> owner(root);
    EXPECT_TRUE(root->count == 3 && root->left->count == 2 && root->bound.a.x == 0 && root->bound.g.z == 11);
    EXPECT_TRUE(root->left->left->element == &p1 && root->left->right->element == &p0 &&
                root->right->element == &p2);
    std::list<object3d_t*> one{&p2}; // a leaf root has its box tested too
    captured([&] { root = buildObjectTree(one); });
    std::unique_ptr<geomeTree_t<object3d_t>> leaf(root);
    EXPECT_TRUE(walk(root, point3d_t(0, 0, 0), vector3d_t(1, 1, -1), false).empty());
    EXPECT_EQ(walk(root, point3d_t(0, 0, 0), vector3d_t(1, 1, 1), true).size(), 1u);
    root = owner.get();
    boundTree_t tree(objects); // the node tree: the same shape, with parents
    std::unique_ptr<boundTreeNode_t> nodes(tree.root);
    EXPECT_TRUE(tree.root->count == 3 && tree.root->left->count == 2 && tree.root->left->left->object == &p1);
    EXPECT_TRUE(tree.root->parent == nullptr && tree.root->left->right->parent == tree.root->left);
    auto* broken = new boundTreeNode_t(new boundTreeNode_t(&p0), new boundTreeNode_t(&p1));
    delete broken->left;
    broken->left = nullptr;
    EXPECT_EQ(captured([&] { delete broken; }), "Corrupted boundtree\n");
}

TEST(objectTree, RandomRaysMatchBruteForce) {
    randomScene_t scene(4242, 250);
    geomeTree_t<object3d_t>* root = nullptr;
    captured([&] { root = buildObjectTree(scene.objects); });
    std::unique_ptr<geomeTree_t<object3d_t>> owner(root);
    boundTree_t tree(scene.objects);
    std::unique_ptr<boundTreeNode_t> nodes(tree.root);
    renderState_t state;
    int several = 0, hits = 0, cut = 0;
    for (int r = 0; r < 200; ++r) {
        point3d_t from;
        vector3d_t ray;
        scene.randomRay(from, ray);
        std::vector<object3d_t*> crossed;
        float w;
        for (object3d_t* o : scene.objects)
            if (o->getBound().cross(from, ray, w, inf)) crossed.push_back(o);
        crossed = sorted(crossed);
        EXPECT_EQ(sorted(walk(root, from, ray, false)), crossed) << r;
        several += crossed.size() > 1;
        // Any-hit mode may add candidates but never repeats or misses one.
        const std::vector<object3d_t*> any = sorted(walk(root, from, ray, true));
        EXPECT_EQ(std::adjacent_find(any.begin(), any.end()), any.end()) << r;
        EXPECT_TRUE(std::includes(any.begin(), any.end(), crossed.begin(), crossed.end())) << r;
        for (float limit : {-1.0f, 40.0f}) { // no limit, and one that leaves the far boxes out
            std::vector<object3d_t*> want, got;
            for (object3d_t* o : scene.objects)
                if (o->getBound().cross(from, ray, w, limit < 0 ? inf : limit)) want.push_back(o);
            for (objectIterator_t it(tree, from, ray, limit); !it.finished; ++it) got.push_back(*it);
            EXPECT_EQ(sorted(got), sorted(want)) << r << " " << limit;
            cut += want.size() < crossed.size();
        }
        // The caller's protocol (lower the limit after each hit) finds the nearest.
        float best = inf, found = inf;
        for (object3d_t* o : scene.objects)
            if (static_cast<boxObject_t*>(o)->hitAt(from, ray, w)) best = std::min(best, w);
        surfacePoint_t sp;
        for (geomeIterator_t<object3d_t> it(root, inf, from, ray, false); it.current; ++it)
            if (it.current->shoot(state, sp, from, ray, false, found) && sp.depth < found)
                it.dist = found = sp.depth;
        EXPECT_EQ(found, best) << r;
        hits += best != inf;
    }
    EXPECT_TRUE(several > 30 && hits > 50 && cut > 20) << several << " " << hits << " " << cut;
}

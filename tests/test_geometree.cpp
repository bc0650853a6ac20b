#include "vexlarcore/geometree.h"

#include "vexlarcore/renderstate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace vexlar;

namespace {

const float inf = std::numeric_limits<float>::infinity();

int destroyed = 0;

// An object that is its own box: a ray hits it where it enters the box, or
// where it leaves when it starts inside.
class boxObject_t : public object3d_t {
public:
    explicit boxObject_t(const bound_t& b) : box(b) {}
    ~boxObject_t() override { ++destroyed; }
    int type() const override { return 99; }
    void transform(const matrix4x4_t&) override {}
    point3d_t toObject(const point3d_t& p) const override { return p; }
    vector3d_t toObjectRot(const vector3d_t& v) const override { return v; }
    point3d_t toObjectOrco(const point3d_t& p) const override { return p; }
    bool shoot(renderState_t&, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray, bool,
               float dist) const override {
        float t;
        if (!hitAt(from, ray, t) || (dist >= 0 && !(t < dist))) return false;
        sp.depth = t;
        sp.object = const_cast<boxObject_t*>(this);
        return true;
    }
    bound_t getBound() const override { return box; }

    bool hitAt(const point3d_t& from, const vector3d_t& ray, float& t) const {
        float enter, leave;
        if (!box.cross(from, ray, enter, leave, inf)) return false;
        t = enter > 0 ? enter : leave;
        return t > 0;
    }

    bound_t box;
};

bound_t boxAt(float x0, float x1) {
    return bound_t(point3d_t(x0, -1, -1), point3d_t(x1, 1, 1));
}

// Random boxes and rays on a 1/16 grid, so that box slabs are computed
// exactly and a box is crossed whenever a box inside it is.
struct randomScene_t {
    explicit randomScene_t(unsigned seed, int n) : rng(seed) {
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
        // Aim near a random object so that many rays cross several boxes.
        const bound_t& b = owned[rng() % owned.size()]->box;
        point3d_t target(grid(b.a.x - 2, b.g.x + 2), grid(b.a.y - 2, b.g.y + 2), grid(b.a.z - 2, b.g.z + 2));
        ray = target - from;
        ray.normalize();
    }
    std::mt19937 rng;
    std::vector<std::unique_ptr<boxObject_t>> owned;
    std::list<object3d_t*> objects;
};

geomeTree_t<object3d_t>* quietBuild(std::list<object3d_t*>& objects) {
    testing::internal::CaptureStdout();
    geomeTree_t<object3d_t>* root = buildObjectTree(objects);
    testing::internal::GetCapturedStdout();
    return root;
}

std::vector<object3d_t*> walk(const geomeTree_t<object3d_t>* tree, const point3d_t& from,
                              const vector3d_t& ray, bool shadow, float dist = inf) {
    std::vector<object3d_t*> out;
    for (geomeIterator_t<object3d_t> it(tree, dist, from, ray, shadow); it.current != nullptr; ++it) {
        out.push_back(*it);
        if (out.size() > 100000) {
            ADD_FAILURE() << "iterator does not end";
            break;
        }
    }
    return out;
}

// Nearest-first order worked out recursively: at each node whose box is
// crossed, the child entered first (the right one on a tie) goes first.
void nearestFirst(const geomeTree_t<object3d_t>* n, const point3d_t& from, const vector3d_t& ray,
                  std::vector<object3d_t*>& out) {
    if (n->isLeaf()) {
        out.push_back(n->element);
        return;
    }
    float wl = inf, wr = inf;
    bool hl = n->left->bound.cross(from, ray, wl, inf), hr = n->right->bound.cross(from, ray, wr, inf);
    bool rightFirst = hl && hr && wr <= wl;
    if (rightFirst) nearestFirst(n->right, from, ray, out);
    if (hl) nearestFirst(n->left, from, ray, out);
    if (hr && !rightFirst) nearestFirst(n->right, from, ray, out);
}

std::vector<object3d_t*> crossedByBruteForce(const std::list<object3d_t*>& objects, const point3d_t& from,
                                             const vector3d_t& ray) {
    std::vector<object3d_t*> out;
    float w;
    for (object3d_t* o : objects)
        if (o->getBound().cross(from, ray, w, inf)) out.push_back(o);
    return out;
}

std::vector<object3d_t*> sorted(std::vector<object3d_t*> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// An address as the tree dumps print it.
std::string at(const void* p) {
    std::ostringstream s;
    s << p;
    return s.str();
}

// Two overlapping unit cubes and a far one: the overlapping pair is joined
// first, newest on the left.
struct threeBoxes_t {
    boxObject_t p0{bound_t(point3d_t(0, 0, 0), point3d_t(1, 1, 1))};
    boxObject_t p1{bound_t(point3d_t(0.5f, 0.5f, 0.5f), point3d_t(1.5f, 1.5f, 1.5f))};
    boxObject_t p2{bound_t(point3d_t(10, 10, 10), point3d_t(11, 11, 11))};
    std::list<object3d_t*> objects{&p0, &p1, &p2};
};

} // namespace

TEST(ObjectTreeTest, EmptyListGivesNoTreeSilently) {
    std::list<object3d_t*> objects;
    for (int nulls = 0; nulls < 2; ++nulls) { // null entries are skipped
        testing::internal::CaptureStdout();
        EXPECT_EQ(buildObjectTree(objects), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        objects.push_back(nullptr);
    }
    geomeIterator_t<object3d_t> it(nullptr, inf, point3d_t(0, 0, 0), vector3d_t(1, 0, 0), false);
    EXPECT_EQ(it.current, nullptr);
}

TEST(ObjectTreeTest, SingleObjectIsALeafRoot) {
    boxObject_t a(boxAt(5, 6));
    std::list<object3d_t*> objects{nullptr, &a};
    testing::internal::CaptureStdout();
    geomeTree_t<object3d_t>* root = buildObjectTree(objects);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Object count= 1\n");
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->isLeaf());
    EXPECT_EQ(root->element, &a);
    EXPECT_EQ(root->count, 1);
    EXPECT_FALSE(root->ownsElement);
    const point3d_t o(0, 0, 0);
    EXPECT_EQ(walk(root, o, vector3d_t(1, 0, 0), true), std::vector<object3d_t*>{&a});
    EXPECT_TRUE(walk(root, o, vector3d_t(-1, 0, 0), false).empty());
    EXPECT_TRUE(walk(root, o, vector3d_t(1, 0, 0), false, 4).empty()); // entry 5 beyond a limit of 4
    delete root;
}

TEST(ObjectTreeTest, ThreeObjectsAreCountedAndJoinedByDistance) {
    threeBoxes_t s;
    testing::internal::CaptureStdout();
    geomeTree_t<object3d_t>* root = buildObjectTree(s.objects);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Object count= 3\n");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->count, 3);
    EXPECT_EQ(root->element, nullptr);
    ASSERT_FALSE(root->left->isLeaf());
    EXPECT_EQ(root->left->left->element, &s.p1);
    EXPECT_EQ(root->left->right->element, &s.p0);
    EXPECT_EQ(root->left->count, 2);
    EXPECT_EQ(root->right->element, &s.p2);
    EXPECT_EQ(root->bound.a.x, 0.0f);
    EXPECT_EQ(root->bound.g.z, 11.0f);
    EXPECT_FALSE(root->bound.null);
    delete root;
}

TEST(ObjectTreeTest, NearerBoxFirstAndTheLimitIsNotStrict) {
    boxObject_t nearBox(boxAt(5, 6)), farBox(boxAt(10, 11));
    const point3d_t from(0, 0, 0);
    const vector3d_t ray(1, 0, 0);
    for (int order = 0; order < 2; ++order) {
        std::list<object3d_t*> objects{&nearBox, &farBox};
        if (order == 1) objects.reverse();
        geomeTree_t<object3d_t>* root = quietBuild(objects);
        EXPECT_EQ(walk(root, from, ray, false), (std::vector<object3d_t*>{&nearBox, &farBox}));
        // Pointing the other way the order reverses.
        EXPECT_EQ(walk(root, point3d_t(20, 0, 0), -ray, false),
                  (std::vector<object3d_t*>{&farBox, &nearBox}));
        // A hit at 5 drops the far box; an entry exactly at the limit is kept.
        for (float hit : {5.0f, 10.0f}) {
            geomeIterator_t<object3d_t> it(root, inf, from, ray, false);
            EXPECT_EQ(it.current, &nearBox);
            it.dist = hit;
            ++it;
            EXPECT_EQ(it.current, hit == 10 ? &farBox : nullptr);
        }
        delete root;
    }
}

TEST(ObjectTreeTest, RayStartingInsideABoxVisitsItFirst) {
    boxObject_t around(boxAt(-1, 1)), ahead(boxAt(3, 4));
    std::list<object3d_t*> objects{&around, &ahead};
    geomeTree_t<object3d_t>* root = quietBuild(objects);
    geomeIterator_t<object3d_t> it(root, inf, point3d_t(0, 0, 0), vector3d_t(1, 0, 0), false);
    EXPECT_EQ(it.current, &around);
    // Entry 0 for the box around the origin: a limit of 0 keeps nothing else.
    it.dist = 0;
    ++it;
    EXPECT_EQ(it.current, nullptr);
    delete root;
}

TEST(ObjectTreeTest, OrderIsNearestFirstPerNodeNotGlobal) {
    // left = {A at 1, B at 10}, right = C at 2. The left subtree is entered
    // first, so B (10) comes before C (2) unless the limit drops it.
    boxObject_t a(boxAt(1, 1.5f)), b(boxAt(10, 10.5f)), c(boxAt(2, 2.5f));
    auto* left = new geomeTree_t<object3d_t>(new geomeTree_t<object3d_t>(&a, a.box),
                                             new geomeTree_t<object3d_t>(&b, b.box));
    auto* root = new geomeTree_t<object3d_t>(left, new geomeTree_t<object3d_t>(&c, c.box));
    EXPECT_EQ(root->count, 3);
    point3d_t from(0, 0, 0);
    vector3d_t ray(1, 0, 0);
    EXPECT_EQ(walk(root, from, ray, false), (std::vector<object3d_t*>{&a, &b, &c}));
    geomeIterator_t<object3d_t> it(root, inf, from, ray, false);
    EXPECT_EQ(it.current, &a);
    it.dist = 1.25f;
    ++it;
    EXPECT_EQ(it.current, nullptr);
    // Any-hit mode goes left first whatever the distances.
    EXPECT_EQ(walk(root, point3d_t(20, 0, 0), vector3d_t(-1, 0, 0), true),
              (std::vector<object3d_t*>{&a, &b, &c}));
    delete root;
}

TEST(ObjectTreeTest, DestroyingTheTreeKeepsObjectsUnlessOwned) {
    destroyed = 0;
    boxObject_t a(boxAt(0, 1)), b(boxAt(2, 3));
    std::list<object3d_t*> objects{&a, &b};
    delete quietBuild(objects);
    EXPECT_EQ(destroyed, 0);
    auto* owned = new geomeTree_t<object3d_t>(new boxObject_t(boxAt(4, 5)), boxAt(4, 5));
    owned->ownsElement = true;
    auto* root = new geomeTree_t<object3d_t>(new geomeTree_t<object3d_t>(&a, a.box), owned);
    delete root;
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectTreeTest, RandomRaysMatchTheBruteForceModel) {
    randomScene_t scene(4242, 250);
    geomeTree_t<object3d_t>* root = quietBuild(scene.objects);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->count, 250);
    int nonEmpty = 0;
    for (int r = 0; r < 200; ++r) {
        point3d_t from;
        vector3d_t ray;
        scene.randomRay(from, ray);
        std::vector<object3d_t*> got = walk(root, from, ray, false), expected;
        std::vector<object3d_t*> crossed = sorted(crossedByBruteForce(scene.objects, from, ray));
        float w;
        if (root->bound.cross(from, ray, w, inf)) nearestFirst(root, from, ray, expected);
        EXPECT_EQ(got, expected) << "ray " << r;
        EXPECT_EQ(sorted(got), crossed) << "ray " << r;
        nonEmpty += got.size() > 1;
        // Any-hit mode tests right children only when it visits them, so
        // extra candidates may appear; none may repeat and none be missing.
        std::vector<object3d_t*> any = sorted(walk(root, from, ray, true));
        EXPECT_EQ(std::adjacent_find(any.begin(), any.end()), any.end()) << "duplicate, ray " << r;
        EXPECT_TRUE(std::includes(any.begin(), any.end(), crossed.begin(), crossed.end())) << "ray " << r;
    }
    EXPECT_GT(nonEmpty, 30);
    delete root;
}

TEST(ObjectTreeTest, CallerProtocolFindsTheNearestHit) {
    randomScene_t scene(7, 300);
    geomeTree_t<object3d_t>* root = quietBuild(scene.objects);
    surfacePoint_t sp;
    renderState_t state;
    int hits = 0;
    for (int r = 0; r < 200; ++r) {
        point3d_t from;
        vector3d_t ray;
        scene.randomRay(from, ray);
        float best = inf;
        object3d_t* bestObj = nullptr;
        for (object3d_t* o : scene.objects) {
            float t;
            if (static_cast<boxObject_t*>(o)->hitAt(from, ray, t) && t < best) {
                best = t;
                bestObj = o;
            }
        }
        float found = inf;
        object3d_t* foundObj = nullptr;
        size_t visited = 0;
        for (geomeIterator_t<object3d_t> it(root, inf, from, ray, false); it.current != nullptr; ++it) {
            ++visited;
            if (it.current->shoot(state, sp, from, ray, false, found) && sp.depth < found) {
                found = sp.depth;
                foundObj = sp.object;
                it.dist = found;
            }
        }
        EXPECT_EQ(found, best) << "ray " << r;
        if (best != inf) {
            EXPECT_EQ(foundObj, bestObj) << "ray " << r;
            ++hits;
        }
        EXPECT_LE(visited, crossedByBruteForce(scene.objects, from, ray).size());
    }
    EXPECT_GT(hits, 50);
    delete root;
}

TEST(NodeTreeTest, ShapeLinksAndCounts) {
    threeBoxes_t s;
    boundTree_t tree(s.objects);
    boundTreeNode_t* root = tree.root;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_EQ(root->count, 3);
    EXPECT_EQ(root->object, nullptr);
    boundTreeNode_t* n = root->left;
    EXPECT_EQ(n->count, 2);
    EXPECT_EQ(root->right->left, nullptr);
    EXPECT_EQ(root->right->count, 1);
    // The dump names every link, so it pins the parents and objects too.
    std::ostringstream dump;
    dump << *root;
    const boundTreeNode_t *l = n->left, *r = n->right, *p2 = root->right;
    EXPECT_EQ(dump.str(), at(l) + "(L " + at(n) + " " + at(&s.p1) + ")\n" + at(r) + "(L " + at(n) + " " +
                              at(&s.p0) + ")\n" + at(n) + "(" + at(l) + " " + at(root) + " " + at(r) + ")\n" +
                              at(p2) + "(L " + at(root) + " " + at(&s.p2) + ")\n" + at(root) + "(" + at(n) +
                              " NULL " + at(p2) + ")");
    delete root;
}

TEST(NodeTreeTest, LeafRootAndEmptyTree) {
    boxObject_t a(boxAt(0, 1));
    std::list<object3d_t*> objects{&a};
    boundTree_t tree(objects);
    ASSERT_NE(tree.root, nullptr);
    std::ostringstream dump;
    dump << *tree.root;
    EXPECT_EQ(dump.str(), at(tree.root) + "(L " + at(&a) + ")"); // no parent field
    objectIterator_t it(tree, point3d_t(-5, 0, 0), vector3d_t(1, 0, 0), 0);
    EXPECT_FALSE(it.finished);
    EXPECT_EQ(*it, &a);
    ++it;
    EXPECT_TRUE(it.finished);
    ++it; // stays finished
    EXPECT_TRUE(it.finished);
    objectIterator_t miss(tree, point3d_t(-5, 0, 0), vector3d_t(-1, 0, 0), 0);
    EXPECT_TRUE(miss.finished);
    delete tree.root;
    // No objects (null entries are skipped): no root, silently.
    std::list<object3d_t*> none{nullptr};
    testing::internal::CaptureStdout();
    boundTree_t empty(none);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(empty.root, nullptr);
    objectIterator_t nothing(empty, point3d_t(0, 0, 0), vector3d_t(1, 0, 0), 0);
    EXPECT_TRUE(nothing.finished);
    EXPECT_EQ(*nothing, nullptr);
}

TEST(NodeTreeTest, MissingChildIsReportedOnDestruction) {
    destroyed = 0;
    boxObject_t a(boxAt(0, 1)), b(boxAt(2, 3));
    auto* inner = new boundTreeNode_t(new boundTreeNode_t(&a), new boundTreeNode_t(&b));
    delete inner->left;
    inner->left = nullptr;
    testing::internal::CaptureStdout();
    delete inner;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Corrupted boundtree\n");
    EXPECT_EQ(destroyed, 0);
}

TEST(NodeTreeTest, DistanceLimitUsesTheLimitedTest) {
    boxObject_t nearBox(boxAt(5, 6)), farBox(boxAt(10, 11));
    std::list<object3d_t*> objects{&nearBox, &farBox};
    boundTree_t tree(objects);
    point3d_t from(0, 0, 0);
    vector3d_t ray(1, 0, 0);
    auto collect = [&](float dist) {
        std::vector<object3d_t*> out;
        for (objectIterator_t it(tree, from, ray, dist); !it.finished; ++it)
            out.push_back(it.current->object);
        return out;
    };
    std::uint32_t before = bcount;
    EXPECT_EQ(collect(7), std::vector<object3d_t*>{&nearBox});
    EXPECT_EQ(collect(10).size(), 2u); // entry exactly at the limit
    EXPECT_EQ(bcount, before);
    // Zero and negative limits mean no limit (and count the tests).
    EXPECT_EQ(collect(0).size(), 2u);
    EXPECT_EQ(collect(-1).size(), 2u);
    EXPECT_GT(bcount, before);
    delete tree.root;
}

namespace {

void leftFirst(const boundTreeNode_t* n, const point3d_t& from, const vector3d_t& ray,
               std::vector<object3d_t*>& out) {
    if (n->isLeaf()) {
        out.push_back(n->object);
        return;
    }
    for (const boundTreeNode_t* c : {n->left, n->right})
        if (c->bound.cross(from, ray)) leftFirst(c, from, ray, out);
}

} // namespace

TEST(NodeTreeTest, IteratorVisitsDepthFirstLeftFirst) {
    randomScene_t scene(31337, 200);
    boundTree_t tree(scene.objects);
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(tree.root->count, 200);
    int several = 0;
    for (int r = 0; r < 150; ++r) {
        point3d_t from;
        vector3d_t ray;
        scene.randomRay(from, ray);
        std::vector<object3d_t*> got;
        for (objectIterator_t it(tree, from, ray, -1); !it.finished; ++it) {
            ASSERT_TRUE(it.current->isLeaf());
            got.push_back(*it);
        }
        std::vector<object3d_t*> expected;
        if (tree.root->bound.cross(from, ray)) leftFirst(tree.root, from, ray, expected);
        EXPECT_EQ(got, expected) << "ray " << r;
        EXPECT_EQ(sorted(got), sorted(crossedByBruteForce(scene.objects, from, ray))) << "ray " << r;
        several += got.size() > 1;
    }
    EXPECT_GT(several, 15);
    delete tree.root;
}

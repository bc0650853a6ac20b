// The box-specialised builder of the object trees against the general
// agglomerative builder: the same joins in the same order on box sets full of
// ties, coincident, flat and far-apart boxes.
#include "vexlarcore/boxpairing.h"

#include "joinnode.h"
#include "test_support.h"

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace vexlar;
using namespace joins;

namespace {

std::vector<node_t*> leavesOf(const std::vector<bound_t>& boxes) {
    std::vector<node_t*> leaves;
    for (std::size_t i = 0; i < boxes.size(); ++i) leaves.push_back(new node_t(std::to_string(i), boxes[i]));
    return leaves;
}

std::string referenceShape(const std::vector<bound_t>& boxes) {
    builder_t b;
    for (node_t* n : leavesOf(boxes)) b.push(n);
    b.build();
    std::unique_ptr<node_t> root(b.items.front().element);
    return root->name;
}

std::string fastShape(const std::vector<bound_t>& boxes) {
    std::unique_ptr<node_t> root(
        buildBoxTree<node_t*, dist_f, join_f>(leavesOf(boxes), [](const node_t* n) { return n->box; }));
    return root->name;
}

bound_t box(float x, float y, float z, float dx, float dy, float dz) {
    return bound_t(point3d_t(x, y, z), point3d_t(x + dx, y + dy, z + dz));
}

} // namespace

TEST(boxPairing, JoinsAsTheGeneralBuilderOnEveryKindOfBoxSet) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0, 1);
    auto r = [&](float scale) { return u(rng) * scale; };
    const std::vector<std::pair<const char*, std::function<bound_t(int)>>> kinds = {
        {"random", [&](int) { return box(r(100), r(100), r(100), r(5), r(5), r(5)); }},
        {"unit grid (ties)", [](int i) { return box(i % 9, i / 9 % 9, i / 81, 1, 1, 1); }},
        {"sphere grid", [](int i) { return box(i % 25 - 0.4f, 0, i / 25 - 0.4f, 0.8f, 0.8f, 0.8f); }},
        {"coincident", [](int i) { return box(float(i % 3), 0, 0, 1, 1, 1); }},
        {"flat and points", [&](int i) { return box(r(1), r(1), 0, i % 2 ? r(1) : 0, i % 3 ? r(1) : 0, 0); }},
        {"nested", [](int i) { return box(-i, -i, -i, 2 * i + 1, 2 * i + 1, 2 * i + 1); }},
        {"infinite",
         [&](int i) { return i % 17 ? box(r(1), r(1), r(1), 1, 1, 1) : box(-1, 0, 0, INFINITY, 1, 1); }},
    };
    for (const auto& kind : kinds) {
        for (int n : {1, 2, 3, 5, 70, 400}) {
            std::vector<bound_t> boxes;
            for (int i = 0; i < n; ++i) boxes.push_back(kind.second(i));
            EXPECT_EQ(fastShape(boxes), referenceShape(boxes)) << kind.first << ", " << n << " boxes";
        }
    }
}

TEST(boxPairing, UnsortedBoxesTakeTheGeneralBuilderWithItsWarnings) {
    std::vector<bound_t> boxes = {box(0, 0, 0, 1, 1, 1), box(5, 0, 0, 1, 1, 1), box(2, 0, 0, 1, 1, 1)};
    boxes[1].g.x = 4; // lower than a.x
    EXPECT_FALSE(sortedBoxes(boxes));
    std::string ref;
    const std::string refOut = support::captured([&] { ref = referenceShape(boxes); });
    EXPECT_EQ(support::captured([&] { EXPECT_EQ(fastShape(boxes), ref); }), refOut);
    EXPECT_NE(refOut, "");
}

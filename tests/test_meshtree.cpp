// The compact tree's four-lane triangle test against the one-triangle code,
// on the values where vector and scalar arithmetic could part: rays through
// edges and vertices, degenerate and huge triangles, zero, infinite and NaN
// components. Hits, triangles and distances must be the same bits.
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include "test_support.h"
#include "triangle_soup.h"

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

using namespace vexlar;

TEST(meshTree, FourLaneTestGivesTheScalarBitsOnAwkwardValues) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1, 1);
    const float inf = std::numeric_limits<float>::infinity();
    const float specials[] = {0.0f, -0.0f, 1.0f, 0.5f, 1e-30f, 1e30f, inf, -inf, std::nanf("")};
    int compared = 0, hits = 0;
    for (int round = 0; round < 400; ++round) {
        // Four triangles (one leaf), some sharing edges, some degenerate.
        std::vector<point3d_t> pts;
        for (int k = 0; k < 12; ++k) pts.emplace_back(u(rng), u(rng), u(rng));
        if (round % 3 == 0) pts[4] = pts[0], pts[5] = pts[2]; // shared edge
        if (round % 5 == 0) pts[8] = pts[9];                  // zero-length edge
        if (round % 7 == 0) pts[10] = point3d_t(specials[round % 9], u(rng), u(rng));
        meshObject_t mesh(pts, {}, soup::tripleTriangles(pts), {}, {});
        triangleList_t* list = soup::listOf(mesh.triangles);
        float d1, d2;
        std::unique_ptr<triangleTree_t> nodeCopy(
            buildTriangleTree(list, face_calc_bound(*list), 4, 1, 0, d1, d2));
        renderState_t state;
        for (int r = 0; r < 40; ++r) {
            point3d_t from(u(rng) * 3, u(rng) * 3, 3);
            // Aim at a vertex, an edge midpoint or anywhere.
            const point3d_t &a = *mesh.triangles[r % 4].pa, &b = *mesh.triangles[r % 4].pb;
            const point3d_t mid((a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2);
            const point3d_t target = r % 3 == 0 ? a : (r % 3 == 1 ? mid : point3d_t(u(rng), u(rng), u(rng)));
            vector3d_t ray = target - from;
            if (r % 11 == 0) ray.x = 0;
            if (r % 13 == 0) ray.y = specials[(round + r) % 9];
            float expected;
            const triangle_t* want = soup::bruteNearest(mesh, from, ray, expected);
            surfacePoint_t sp;
            // The walk is limited to the mesh box; aimed rays cross it unless
            // a coordinate is infinite or NaN.
            const bool got = mesh.shoot(state, sp, from, ray, false, -1);
            if (!got) continue;
            ++compared;
            ASSERT_TRUE(want != nullptr) << "round " << round << " ray " << r;
            EXPECT_EQ(sp.origin, static_cast<const void*>(want)) << "round " << round << " ray " << r;
            EXPECT_EQ(support::bits(sp.depth), support::bits(expected)) << "round " << round << " ray " << r;
            ++hits;
            // Shadow queries give the node tree's answers (the node walk
            // runs once the mesh holds a tree it did not make), also when
            // the nearest face is the one to skip.
            for (const float limit : {expected * 2, expected, -1.0f}) {
                state.skipElement = limit < 0 ? want : nullptr;
                const bool compactAnswer = mesh.shoot(state, sp, from, ray, true, limit);
                triangleTree_t* kept = mesh.tree;
                mesh.tree = nodeCopy.get();
                const bool nodeAnswer = mesh.shoot(state, sp, from, ray, true, limit);
                mesh.tree = kept;
                state.skipElement = nullptr;
                EXPECT_EQ(compactAnswer, nodeAnswer)
                    << "round " << round << " ray " << r << " limit " << limit;
            }
        }
    }
    EXPECT_GT(compared, 3000);
    EXPECT_GT(hits, 3000);
}

TEST(meshTree, CompactAndNodeFormsAreTheSameTree) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0, 1);
    meshArrays_t a;
    for (int k = 0; k < 600; ++k) a.points.emplace_back(u(rng), u(rng), u(rng) * 0.1f);
    for (int k = 0; k + 2 < 600; k += 3)
        a.triangles.emplace_back(&a.points[k], &a.points[k + 1], &a.points[k + 2]);
    meshOptions_t withNodes;
    withNodes.nodeTree = true;
    meshObject_t mesh(std::move(a), nullptr, withNodes);
    ASSERT_NE(mesh.tree, nullptr);
    // The node form's layout, flattened, equals the compact arrays.
    const flatTriangleTree_t flat(mesh.tree);
    const meshTree_t& compact = mesh.compactTree();
    ASSERT_EQ(flat.nodes.size(), compact.nodes.size());
    for (std::size_t i = 0; i < flat.nodes.size(); ++i) {
        ASSERT_EQ(flat.nodes[i].word, compact.nodes[i].word) << i;
        if (!flat.nodes[i].isLeaf()) {
            ASSERT_EQ(support::bits(flat.nodes[i].pos), support::bits(compact.nodes[i].pos)) << i;
        }
    }
    ASSERT_EQ(flat.items.size(), compact.items.size());
    for (std::size_t i = 0; i < flat.items.size(); ++i)
        ASSERT_EQ(flat.items[i], &mesh.triangles[compact.items[i]]) << i;
    EXPECT_TRUE(compact.check());
    // Damaged copies are refused: a child past the end, a leaf reaching past
    // the items, an item past the records, the wrong depth.
    std::size_t leaf = 0;
    while (!compact.nodes[leaf].isLeaf()) ++leaf;
    const std::uint32_t spare = static_cast<std::uint32_t>(compact.items.size() - compact.nodes[leaf].begin);
    for (int damage = 0; damage < 4; ++damage) {
        meshTree_t copy;
        podArray_t<compactNode_t> nodes(compact.nodes);
        podArray_t<std::uint32_t> items(compact.items);
        if (damage == 0)
            nodes[0].word = (static_cast<std::uint32_t>(nodes.size()) << 2) | (nodes[0].word & 3u);
        if (damage == 1) nodes[leaf].word = ((spare + 1) << 2) | 3u;
        if (damage == 2) items[items.size() - 1] = static_cast<std::uint32_t>(compact.records.size());
        EXPECT_FALSE(copy.adopt(std::move(nodes), std::move(items),
                                podArray_t<triangleRecord_t>(compact.records), compact.depth + (damage == 3)))
            << "damage " << damage;
        EXPECT_FALSE(copy.valid());
    }
}

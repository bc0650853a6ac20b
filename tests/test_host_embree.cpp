// The Embree accelerator against the exact mesh path: the same triangles and
// distances for rays away from edges, strict shadow limits, the skipped
// triangle, and whole renders that differ in at most 0.1 % of pixels; the
// program loads the accelerator as a module.
#include "host/embreemesh.h"
#include "host/meshload.h"
#include "host/modules.h"

#include "vexlarcore/renderstate.h"

#include "importfixture.h"

#include <cmath>
#include <memory>
#include <random>

using namespace vexlar;
using namespace vexlar::host;

TEST(embreeMesh, TheProgramLoadsItAsAModule) {
    std::string error;
    EXPECT_EQ(moduleSymbol("no_such_module", "entry", error), nullptr);
    EXPECT_TRUE(support::contains(error, "the module no_such_module.so is in none of ")) << error;
    matrix4x4_t m;
    m.identity();
    const std::unique_ptr<object3d_t> wrapped(wrapWithEmbree(buildMesh(meshData_t(), m, -1), error));
    EXPECT_EQ(wrapped != nullptr, embreeAvailable()) << error;
    EXPECT_EQ(support::contains(error, "built without Embree"), !embreeAvailable()) << error;
}

#if VEXLAR_TEST_EMBREE
TEST(embreeMesh, FindsTheExactPathsTrianglesAndDistances) {
    // A bumpy 40 x 40 grid of 3,200 triangles over [0, 40]^2, built both ways.
    meshData_t d;
    std::string error;
    ASSERT_TRUE(parseObj(
        support::gridObj(40, [](int i, int j) { return std::sin(i * 0.7) * std::cos(j * 0.3); }), d, error))
        << error;
    matrix4x4_t m;
    m.identity();
    const std::unique_ptr<meshObject_t> exact(buildMesh(d, m, -1));
    const std::unique_ptr<embreeMesh_t> fast(
        embreeMesh_t::wrap(buildMesh(std::move(d), m, -1, meshBuild_t{true, nullptr}), error));
    ASSERT_NE(fast, nullptr) << error;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.5f, 39.5f);
    int differ = 0, hits = 0, selfBlocked = 0;
    const int n = 4000;
    for (int k = 0; k < n; ++k) {
        const point3d_t from(u(rng), u(rng), 5.0f);
        const vector3d_t ray(u(rng) - from.x, u(rng) - from.y, -5.0f);
        renderState_t s1, s2;
        surfacePoint_t a, b;
        const bool ha = exact->shoot(s1, a, from, ray, false, -1);
        const bool hb = fast->shoot(s2, b, from, ray, false, -1);
        auto index = [](const surfacePoint_t& sp, const meshObject_t& mesh) {
            return static_cast<const triangle_t*>(sp.origin) - mesh.triangles.data();
        };
        if (ha != hb || (ha && index(a, *exact) != index(b, fast->libraryMesh()))) {
            ++differ;
            continue;
        }
        if (!ha) continue;
        ++hits;
        EXPECT_NEAR(a.depth, b.depth, 1e-4f * std::fabs(a.depth) + 1e-6f);
        EXPECT_EQ(b.object, fast.get()); // shaders place points through the wrapper
        EXPECT_FLOAT_EQ(a.normal.x, b.normal.x);
        // The shadow limit is strict, and the triangle a ray starts from is skipped.
        EXPECT_FALSE(fast->shoot(s2, b, from, ray, true, a.depth * 0.999f));
        EXPECT_TRUE(fast->shoot(s2, b, from, ray, true, a.depth * 1.001f));
        s2.skipElement = b.origin;
        surfacePoint_t c;
        const point3d_t at = from + a.depth * ray;
        if (fast->shoot(s2, c, at, ray, true, 1e-3f)) ++selfBlocked; // only a neighbour at an edge may
    }
    EXPECT_GT(hits, n * 9 / 10);
    EXPECT_LE(differ, n / 1000); // rays through edges only
    EXPECT_LE(selfBlocked, n / 1000);
    // An empty mesh hits nothing, for camera and shadow rays alike.
    std::unique_ptr<embreeMesh_t> empty(embreeMesh_t::wrap(buildMesh(meshData_t(), m, -1), error));
    ASSERT_NE(empty, nullptr) << error;
    renderState_t s;
    surfacePoint_t sp;
    for (bool shadow : {false, true})
        EXPECT_FALSE(empty->shoot(s, sp, point3d_t(0, 0, 1), vector3d_t(0, 0, -1), shadow, -1)) << shadow;
}
#endif

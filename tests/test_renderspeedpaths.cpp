// The fast paths of the render loop against the plain code they stand in
// for: the inline box test of the object-tree walk (prepared reciprocals,
// vector slabs) must answer exactly as bound_t::cross, entry included.
#include "vexlarcore/bound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace vexlar;

namespace {

const float inf = std::numeric_limits<float>::infinity();

// Both tests on one case; `where` compared bit for bit (-7 where untouched).
void expectSameAnswer(const bound_t& b, const point3d_t& from, const vector3d_t& ray, float dist) {
    float plain = -7, fast = -7;
    const bool p = b.cross(from, ray, plain, dist);
    const bool f = crossBox(b, boxRay_t(from, ray), fast, dist);
    EXPECT_EQ(p, f) << "from " << from.x << " " << from.y << " " << from.z << " ray " << ray.x << " " << ray.y
                    << " " << ray.z << " dist " << dist;
    EXPECT_EQ(std::memcmp(&plain, &fast, sizeof plain), 0) << plain << " against " << fast;
}

} // namespace

TEST(boxRay, EdgeCasesAnswerAsThePlainSlabTest) {
    const bound_t unit(point3d_t(0, 0, 0), point3d_t(1, 1, 1));
    const float tiny = std::numeric_limits<float>::denorm_min();
    struct case_t {
        point3d_t from;
        vector3d_t ray;
        float dist;
    } cases[] = {
        {{-1, 0.5f, 0.5f}, {1, 0, 0}, 10},             // two zero components
        {{-1, 0.5f, 0.5f}, {1, 0, 0}, 1},              // entry exactly at the limit
        {{-1, 0.5f, 0.5f}, {1, 0, 0}, 0.999f},         // entry just beyond it
        {{0.5f, 0.5f, 0.5f}, {0.3f, -0.2f, 0.1f}, 10}, // starts inside
        {{2, 2, 2}, {1, 1, 1}, inf},                   // box behind the ray
        {{-1, 5, 0.5f}, {1, 0, 0}, 10},                // skipped slab missed (conservative)
        {{0, 0.5f, 0.5f}, {tiny, 1, 0}, 10},           // infinite reciprocal, 0 * inf
        {{1, 1, 1}, {-1, -1, -1}, 0},                  // on the corner, zero limit
        {{-1, -1, -1}, {1, 1, 1}, 1},                  // through the corner
        {{0, 0, 0}, {0, 0, 0}, 10},                    // zero ray
        {{-1, 0.5f, 0.5f}, {std::nanf(""), 1, 1}, 10}, // not-a-number direction
    };
    for (const case_t& c : cases) expectSameAnswer(unit, c.from, c.ray, c.dist);
}

TEST(boxRay, RandomRaysAnswerAsThePlainSlabTest) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-3, 3), size(0, 2), dir(-1, 1);
    std::uniform_int_distribution<int> axis(0, 5);
    for (int i = 0; i < 20000; ++i) {
        const point3d_t a(pos(rng), pos(rng), pos(rng));
        const bound_t b(a, point3d_t(a.x + size(rng), a.y + size(rng), a.z + size(rng)));
        vector3d_t ray(dir(rng), dir(rng), dir(rng));
        const int zero = axis(rng); // half the rays lose a component
        if (zero == 0) ray.x = 0;
        if (zero == 1) ray.y = 0;
        if (zero == 2) ray.z = 0;
        const float dist = i % 3 == 0 ? inf : size(rng) * 3;
        expectSameAnswer(b, point3d_t(pos(rng), pos(rng), pos(rng)), ray, dist);
    }
}

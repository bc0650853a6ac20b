// Analytic spheres: intersection parameters, hit records, shadow queries and
// the cached box.
#include "vexlarcore/matrix4.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/sphere.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vexlar;
using support::expectFloatEq;

namespace {

class SphereTest : public ::testing::Test {
protected:
    sphere_t unit{point3d_t(0, 0, 0), 1.0f};
    renderState_t state;
    surfacePoint_t sp;
};

} // namespace

TEST_F(SphereTest, FrontHitFillsTheWholeRecord) {
    shaderNode_t shader;
    unit.shader = &shader;
    ASSERT_TRUE(unit.shoot(state, sp, point3d_t(0, 0, -5), vector3d_t(0, 0, 1), false, -1));
    EXPECT_EQ(sp.depth, 4.0f);
    expectFloatEq(sp.point, 0, 0, -1);
    expectFloatEq(sp.normal, 0, 0, -1);
    expectFloatEq(sp.geometricNormal, 0, 0, -1);
    // Tangents of a normal along -z: (-1, 0, 0) and (0, 1, 0).
    expectFloatEq(sp.tangentU, -1, 0, 0);
    expectFloatEq(sp.tangentV, 0, 1, 0);
    EXPECT_EQ(sp.u, -1.0f);
    EXPECT_EQ(sp.v, -1.0f);
    EXPECT_EQ(sp.orcoPoint.z, -1.0f);
    EXPECT_EQ(sp.object, &unit);
    EXPECT_EQ(sp.origin, static_cast<const void*>(&unit));
    EXPECT_EQ(sp.shader, &shader);
    EXPECT_FALSE(sp.hasUV || sp.hasVertexColor || sp.hasOrco);
    EXPECT_EQ(sp.dudNU, 0.0f);
}

TEST_F(SphereTest, FromInsideUsesTheFarRootWithOutwardNormal) {
    ASSERT_TRUE(unit.shoot(state, sp, point3d_t(0, 0, 0), vector3d_t(0, 0, 1), false, -1));
    EXPECT_EQ(sp.depth, 1.0f);
    EXPECT_EQ(sp.point.z, 1.0f);
    expectFloatEq(sp.normal, 0, 0, 1);
    // Depth counts multiples of the (unnormalised) ray vector.
    ASSERT_TRUE(unit.shoot(state, sp, point3d_t(0, 0, -5), vector3d_t(0, 0, 2), false, -1));
    EXPECT_EQ(sp.depth, 2.0f);
    EXPECT_EQ(sp.point.z, -1.0f);
}

TEST_F(SphereTest, BehindTheOriginOrBesideIsNoHitAndLeavesTheRecord) {
    sp.depth = 123.0f;
    EXPECT_FALSE(unit.shoot(state, sp, point3d_t(0, 0, 5), vector3d_t(0, 0, 1), false, -1));
    EXPECT_FALSE(unit.shoot(state, sp, point3d_t(0, 2, -5), vector3d_t(0, 0, 1), false, -1));
    EXPECT_EQ(sp.depth, 123.0f);
}

TEST_F(SphereTest, ShadowQueryHonoursTheLimitAndLeavesTheRecord) {
    sp.depth = 7.0f;
    const point3d_t from(0, 0, -5);
    const vector3d_t dir(0, 0, 1);
    EXPECT_FALSE(unit.shoot(state, sp, from, dir, true, 3.0f));
    EXPECT_TRUE(unit.shoot(state, sp, from, dir, true, 10.0f));
    EXPECT_TRUE(unit.shoot(state, sp, from, dir, true, -1.0f));
    // The hit at exactly the limit is not before it.
    EXPECT_FALSE(unit.shoot(state, sp, from, dir, true, 4.0f));
    EXPECT_EQ(sp.depth, 7.0f);
    // A non-shadow shot ignores the limit.
    ASSERT_TRUE(unit.shoot(state, sp, from, dir, false, 1.0f));
    EXPECT_EQ(sp.depth, 4.0f);
}

TEST_F(SphereTest, ObliqueHitMatchesDoublePrecisionGeometry) {
    sphere_t s(point3d_t(1.5f, -0.25f, 3.0f), 0.75f);
    vector3d_t dir(0.7f, -0.25f, 5.0f); // passes 0.2 beside the centre
    dir.normalize();
    const point3d_t from(1.0f, 0.0f, -2.0f);
    ASSERT_TRUE(s.shoot(state, sp, from, dir, false, -1));
    // Independent solution of |from + t*dir - c|^2 = r^2 in double.
    const double fx = 1.0 - 1.5, fy = 0.0 + 0.25, fz = -2.0 - 3.0;
    const double b = fx * dir.x + fy * dir.y + fz * dir.z;
    const double c = fx * fx + fy * fy + fz * fz - 0.75 * 0.75;
    const double a = double(dir.x) * dir.x + double(dir.y) * dir.y + double(dir.z) * dir.z;
    const double t = (-b - std::sqrt(b * b - a * c)) / a;
    EXPECT_NEAR(sp.depth, t, 1e-5);
    EXPECT_NEAR(sp.normal.length(), 1.0, 1e-6);
    EXPECT_NEAR(sp.point.x, 1.0 + t * dir.x, 1e-5);
    EXPECT_NEAR(sp.normal.x, (1.0 + t * dir.x - 1.5) / 0.75, 1e-5);
}

TEST_F(SphereTest, ZeroOrNonFiniteRayNeverHits) {
    EXPECT_FALSE(unit.shoot(state, sp, point3d_t(0, 0, 0), vector3d_t(0, 0, 0), false, -1));
    EXPECT_FALSE(unit.shoot(state, sp, point3d_t(0, 0, 0), vector3d_t(0, 0, 0), true, -1));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(unit.shoot(state, sp, point3d_t(nan, 0, -5), vector3d_t(0, 0, 1), true, -1));
}

TEST_F(SphereTest, BoundAddsTheMarginInDoublePrecision) {
    sphere_t s(point3d_t(1, 2, 3), 0.5f);
    bound_t b = s.getBound();
    EXPECT_FALSE(b.null);
    EXPECT_EQ(b.a.x, static_cast<float>(0.5 - 1e-6));
    EXPECT_EQ(b.a.z, static_cast<float>(2.5 - 1e-6));
    EXPECT_EQ(b.g.y, static_cast<float>(2.5 + 1e-6));
    EXPECT_EQ(s.R2, 0.25f);
    EXPECT_EQ(s.type(), 1);
    // The cached box follows a moved centre after recalcBound.
    s.center = point3d_t(10, 0, 0);
    s.recalcBound();
    EXPECT_EQ(s.getBound().a.x, static_cast<float>(9.5 - 1e-6));
}

TEST_F(SphereTest, IsFixedInWorldSpace) {
    matrix4x4_t m(1.0f);
    m.translate(5, 5, 5);
    unit.transform(m);
    EXPECT_EQ(unit.center.x, 0.0f);
    EXPECT_EQ(unit.getBound().g.x, static_cast<float>(1.0 + 1e-6));
    EXPECT_EQ(unit.toObject(point3d_t(1, 2, 3)).y, 2.0f);
    EXPECT_EQ(unit.toObjectRot(vector3d_t(4, 5, 6)).z, 6.0f);
}

// Spheres, instances and the hit record: intersections against a
// double-precision solution, placements carried both ways, settings.
#include "vexlarcore/reference.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/sphere.h"

#include "test_support.h"

#include <cmath>
#include <cstring>
#include <new>

using namespace vexlar;
using support::expectNear;

namespace {

matrix4x4_t translation(float x, float y, float z) {
    matrix4x4_t m(1.0f);
    m.translate(x, y, z);
    return m;
}

class objects : public ::testing::Test {
protected:
    bool shoot(const object3d_t& o, const point3d_t& from, const vector3d_t& ray, bool shadow = false,
               float dist = -1) {
        return o.shoot(state, sp, from, ray, shadow, dist);
    }
    sphere_t unit{point3d_t(0, 0, 0), 1.0f};
    renderState_t state;
    surfacePoint_t sp;
};

} // namespace

TEST_F(objects, SphereHitsFillTheRecordAsInDoublePrecision) {
    shaderNode_t shader;
    unit.shader = &shader;
    ASSERT_TRUE(shoot(unit, point3d_t(0, 0, -5), vector3d_t(0, 0, 1)));
    EXPECT_EQ(sp.depth, 4.0f);
    expectNear(sp.point, point3d_t(0, 0, -1), 0);
    EXPECT_TRUE(sp.normal == vector3d_t(0, 0, -1) && sp.tangentU == vector3d_t(-1, 0, 0)) << sp.tangentU;
    EXPECT_TRUE(sp.u == -1 && sp.object == &unit && sp.origin == &unit && sp.shader == &shader && !sp.hasUV);
    ASSERT_TRUE(shoot(unit, point3d_t(0, 0, 0), vector3d_t(0, 0, 1))); // from inside: the far root
    EXPECT_TRUE(sp.depth == 1.0f && sp.normal.z == 1.0f);
    ASSERT_TRUE(shoot(unit, point3d_t(0, 0, -5), vector3d_t(0, 0, 2))); // multiples of the ray
    EXPECT_EQ(sp.depth, 2.0f);
    sp.depth = 123.0f;
    EXPECT_FALSE(shoot(unit, point3d_t(0, 0, 5), vector3d_t(0, 0, 1)));  // behind
    EXPECT_FALSE(shoot(unit, point3d_t(0, 2, -5), vector3d_t(0, 0, 1))); // beside
    EXPECT_FALSE(shoot(unit, point3d_t(0, 0, 0), vector3d_t(0, 0, 0)));  // no direction
    EXPECT_FALSE(shoot(unit, point3d_t(std::nanf(""), 0, -5), vector3d_t(0, 0, 1), true));
    // Shadow queries: strictly before the limit, -1 for none; the record stays.
    for (const float limit : {4.0f, 4.5f, -1.0f})
        EXPECT_EQ(shoot(unit, point3d_t(0, 0, -5), vector3d_t(0, 0, 1), true, limit), limit != 4.0f) << limit;
    EXPECT_EQ(sp.depth, 123.0f);
    sphere_t s(point3d_t(1.5f, -0.25f, 3.0f), 0.75f);
    vector3d_t dir(0.7f, -0.25f, 5.0f); // passes 0.2 beside the centre
    dir.normalize();
    ASSERT_TRUE(shoot(s, point3d_t(1.0f, 0.0f, -2.0f), dir));
    const double fx = -0.5, fy = 0.25, fz = -5.0;
    const double a = double(dir.x) * dir.x + double(dir.y) * dir.y + double(dir.z) * dir.z;
    const double b = fx * dir.x + fy * dir.y + fz * dir.z, c = fx * fx + fy * fy + fz * fz - 0.75 * 0.75;
    const double t = (-b - std::sqrt(b * b - a * c)) / a;
    EXPECT_NEAR(sp.depth, t, 1e-5);
    EXPECT_NEAR(sp.normal.x, (1.0 + t * dir.x - 1.5) / 0.75, 1e-5);
    // The box margin is added in double precision.
    const bound_t box = s.getBound();
    EXPECT_TRUE(box.a.x == static_cast<float>(0.75 - 1e-6) && box.g.z == static_cast<float>(3.75 + 1e-6))
        << box.a;
}

TEST_F(objects, InstancesCarryRaysAndHitsBetweenSpacesAndCopySettingsOnce) {
    shaderNode_t shader, other;
    unit.shader = &shader;
    unit.castShadows = unit.settingFlagA = false;
    unit.settingWordA = 7;
    unit.settingWordB = 9;
    unit.settingColorB = color_t(0.4f, 0.5f, 0.6f);
    unit.settingFactor = 2.5f;
    referenceObject_t moved(translation(10, 0, 0), &unit);
    // Every setting but word B comes along, once.
    EXPECT_TRUE(moved.shader == &shader && !moved.castShadows && !moved.settingFlagA && moved.settingFlagB);
    EXPECT_TRUE(moved.settingWordA == 7 && moved.settingWordB == 0 && moved.settingColorB.B == 0.6f &&
                moved.settingFactor == 2.5f);
    unit.shader = &other;
    EXPECT_EQ(moved.shader, &shader);
    ASSERT_TRUE(shoot(moved, point3d_t(10, 0, -5), vector3d_t(0, 0, 1)));
    expectNear(sp.point, point3d_t(10, 0, -1), 0);
    EXPECT_TRUE(sp.depth == 4.0f && sp.object == &moved && sp.origin == &unit && sp.orcoPoint.x == 0);
    EXPECT_FALSE(shoot(moved, point3d_t(0, 0, -5), vector3d_t(0, 0, 1)));
    EXPECT_FALSE(shoot(moved, point3d_t(10, 0, -5), vector3d_t(0, 0, 1), true, 3.0f)); // limits pass through
    EXPECT_TRUE(shoot(moved, point3d_t(10, 0, -5), vector3d_t(0, 0, 1), true, 10.0f));
    EXPECT_EQ(moved.getBound().a.x, unit.getBound().a.x + 10.0f);
    // A uniform scale: world depth, normals keep the scale.
    matrix4x4_t m(1.0f);
    m.scale(2, 2, 2);
    referenceObject_t scaled(m, &unit);
    ASSERT_TRUE(shoot(scaled, point3d_t(0, 0, -5), vector3d_t(0, 0, 1)));
    EXPECT_FLOAT_EQ(sp.depth, 3.0f);
    EXPECT_FLOAT_EQ(sp.normal.length(), 2.0f);
    EXPECT_FLOAT_EQ(sp.tangentV.length(), 2.0f);
    m.rotateZ(45); // the box encloses the mapped corners
    referenceObject_t turned(m, &unit);
    EXPECT_NEAR(turned.getBound().g.x, 2 * (1.0 + 1e-6) * std::sqrt(2.0), 1e-5);
    // Nested, replaced and inverse mappings.
    referenceObject_t outer(translation(0, 5, 0), &moved);
    ASSERT_TRUE(shoot(outer, point3d_t(10, 5, -5), vector3d_t(0, 0, 1)));
    expectNear(sp.point, point3d_t(10, 5, -1), 0);
    EXPECT_TRUE(sp.object == &outer && sp.origin == &unit);
    moved.transform(translation(0, 0, 20));
    ASSERT_TRUE(shoot(moved, point3d_t(0, 0, 15), vector3d_t(0, 0, 1)));
    EXPECT_EQ(sp.point.z, 19.0f);
    matrix4x4_t p(1.0f);
    p.scale(2, 2, 2);
    p.translate(1, 2, 3);
    referenceObject_t placed(p, &unit);
    expectNear(placed.toObject(point3d_t(3, 4, 5)), point3d_t(1, 1, 1), 1e-6f);
    expectNear(placed.toObjectRot(vector3d_t(2, 4, 6)), vector3d_t(1, 2, 3), 1e-6f);
}

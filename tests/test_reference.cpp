// Instances: rays carried into the referenced object's space and hits carried
// back, boxes, settings and nesting.
#include "vexlarcore/matrix4.h"
#include "vexlarcore/reference.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/sphere.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace vexlar;
using support::expectFloatEq;

namespace {

matrix4x4_t translation(float x, float y, float z) {
    matrix4x4_t m(1.0f);
    m.translate(x, y, z);
    return m;
}

class ReferenceTest : public ::testing::Test {
protected:
    sphere_t unit{point3d_t(0, 0, 0), 1.0f};
    renderState_t state;
    surfacePoint_t sp;
};

} // namespace

TEST_F(ReferenceTest, TranslatedInstanceHitsInWorldSpace) {
    referenceObject_t inst(translation(10, 0, 0), &unit);
    EXPECT_EQ(inst.type(), 2);
    EXPECT_EQ(inst.referenced, &unit);
    ASSERT_TRUE(inst.shoot(state, sp, point3d_t(10, 0, -5), vector3d_t(0, 0, 1), false, -1));
    expectFloatEq(sp.point, 10, 0, -1);
    EXPECT_EQ(sp.depth, 4.0f);
    EXPECT_EQ(sp.normal.z, -1.0f);
    EXPECT_EQ(sp.object, &inst);
    EXPECT_EQ(sp.origin, static_cast<const void*>(&unit));
    // The orco point stays in the referenced object's space.
    EXPECT_EQ(sp.orcoPoint.x, 0.0f);
    // The untranslated sphere's position is empty for the instance.
    EXPECT_FALSE(inst.shoot(state, sp, point3d_t(0, 0, -5), vector3d_t(0, 0, 1), false, -1));
    // Its box is the moved box.
    const bound_t s = unit.getBound(), b = inst.getBound();
    EXPECT_FALSE(b.null);
    EXPECT_EQ(b.a.x, s.a.x + 10.0f);
    EXPECT_EQ(b.g.x, s.g.x + 10.0f);
    EXPECT_EQ(b.a.y, s.a.y);
}

TEST_F(ReferenceTest, UniformScaleKeepsWorldDepthAndUnnormalisedNormals) {
    matrix4x4_t m(1.0f);
    m.scale(2, 2, 2);
    referenceObject_t inst(m, &unit);
    const bound_t s = unit.getBound();
    const bound_t b = inst.getBound();
    EXPECT_EQ(b.a.y, 2.0f * s.a.y);
    EXPECT_EQ(b.g.z, 2.0f * s.g.z);

    ASSERT_TRUE(inst.shoot(state, sp, point3d_t(0, 0, -5), vector3d_t(0, 0, 1), false, -1));
    EXPECT_FLOAT_EQ(sp.depth, 3.0f); // world distance from z = -5 to z = -2
    EXPECT_FLOAT_EQ(sp.point.z, -2.0f);
    EXPECT_FLOAT_EQ(sp.normal.z, -2.0f);
    EXPECT_FLOAT_EQ(sp.normal.length(), 2.0f);
    EXPECT_FLOAT_EQ(sp.geometricNormal.length(), 2.0f);
    EXPECT_FLOAT_EQ(sp.tangentV.length(), 2.0f);
}

TEST_F(ReferenceTest, RotatedBoundEnclosesTheMappedCorners) {
    matrix4x4_t m(1.0f);
    m.rotateZ(45);
    referenceObject_t inst(m, &unit);
    const bound_t b = inst.getBound();
    const double half = (1.0 + 1e-6) * std::sqrt(2.0);
    EXPECT_NEAR(b.g.x, half, 1e-5);
    EXPECT_NEAR(b.a.y, -half, 1e-5);
    EXPECT_NEAR(b.g.z, 1.0 + 1e-6, 1e-6);
}

TEST_F(ReferenceTest, InstanceOfAnInstanceComposesThePlacements) {
    referenceObject_t inner(translation(10, 0, 0), &unit);
    referenceObject_t outer(translation(0, 5, 0), &inner);
    ASSERT_TRUE(outer.shoot(state, sp, point3d_t(10, 5, -5), vector3d_t(0, 0, 1), false, -1));
    expectFloatEq(sp.point, 10, 5, -1);
    EXPECT_EQ(sp.object, &outer);
    EXPECT_EQ(sp.origin, static_cast<const void*>(&unit));
    const bound_t b = outer.getBound();
    EXPECT_EQ(b.a.x, unit.getBound().a.x + 10.0f);
    EXPECT_EQ(b.a.y, unit.getBound().a.y + 5.0f);
    EXPECT_FALSE(outer.shoot(state, sp, point3d_t(10, 0, -5), vector3d_t(0, 0, 1), true, -1));
}

TEST_F(ReferenceTest, ShadowQueriesPassTheLimitThrough) {
    referenceObject_t inst(translation(10, 0, 0), &unit);
    const point3d_t from(10, 0, -5);
    const vector3d_t dir(0, 0, 1);
    EXPECT_FALSE(inst.shoot(state, sp, from, dir, true, 3.0f));
    EXPECT_TRUE(inst.shoot(state, sp, from, dir, true, 10.0f));
    EXPECT_TRUE(inst.shoot(state, sp, from, dir, true, -1.0f));
}

TEST_F(ReferenceTest, SettingsAreCopiedOnceExceptWordB) {
    shaderNode_t shader, other;
    unit.shader = &shader;
    unit.castShadows = false;
    unit.settingFlagA = false;
    unit.settingWordA = 7;
    unit.settingWordB = 9;
    unit.settingColorA = color_t(0.1f, 0.2f, 0.3f);
    unit.settingColorB = color_t(0.4f, 0.5f, 0.6f);
    unit.settingFactor = 2.5f;
    referenceObject_t inst(translation(1, 0, 0), &unit);
    EXPECT_EQ(inst.shader, &shader);
    EXPECT_FALSE(inst.castShadows);
    EXPECT_FALSE(inst.settingFlagA);
    EXPECT_TRUE(inst.settingFlagB);
    EXPECT_EQ(inst.settingWordA, 7u);
    EXPECT_EQ(inst.settingWordB, 0u);
    EXPECT_EQ(inst.settingColorA.G, 0.2f);
    EXPECT_EQ(inst.settingColorB.B, 0.6f);
    EXPECT_EQ(inst.settingFactor, 2.5f);
    unit.shader = &other; // copied once: later changes do not follow
    EXPECT_EQ(inst.shader, &shader);
}

TEST_F(ReferenceTest, TransformReplacesThePlacement) {
    referenceObject_t inst(translation(10, 0, 0), &unit);
    inst.transform(translation(0, 0, 20));
    EXPECT_FALSE(inst.shoot(state, sp, point3d_t(10, 0, -5), vector3d_t(0, 0, 1), true, -1));
    ASSERT_TRUE(inst.shoot(state, sp, point3d_t(0, 0, 15), vector3d_t(0, 0, 1), false, -1));
    EXPECT_EQ(sp.point.z, 19.0f);
    EXPECT_EQ(inst.back[2][3], -20.0f);
    EXPECT_EQ(inst.back[0][3], 0.0f);
}

TEST_F(ReferenceTest, ObjectSpaceMappingsUseTheInverse) {
    matrix4x4_t m(1.0f);
    m.scale(2, 2, 2);
    m.translate(1, 2, 3);
    referenceObject_t inst(m, &unit);
    expectFloatEq(inst.toObject(point3d_t(3, 4, 5)), 1, 1, 1);
    expectFloatEq(inst.toObjectRot(vector3d_t(2, 4, 6)), 1, 2, 3);
    expectFloatEq(inst.toObjectOrco(point3d_t(1, 2, 3)), 0, 0, 0);
}

TEST_F(ReferenceTest, DestroyingAnInstanceLeavesTheReferencedObject) {
    {
        std::unique_ptr<referenceObject_t> inst(referenceObject_t::factory(translation(1, 0, 0), &unit));
        ASSERT_NE(inst, nullptr);
        EXPECT_EQ(inst->M[0][3], 1.0f);
    }
    EXPECT_TRUE(unit.shoot(state, sp, point3d_t(0, 0, -5), vector3d_t(0, 0, 1), false, -1));
}

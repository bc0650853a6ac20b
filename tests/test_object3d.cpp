#include "vexlarcore/object3d.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

using namespace vexlar;

namespace {

class stubObject_t : public object3d_t {
public:
    int type() const override { return 1; }
    void transform(const matrix4x4_t&) override {}
    point3d_t toObject(const point3d_t& p) const override { return p; }
    vector3d_t toObjectRot(const vector3d_t& v) const override { return v; }
    point3d_t toObjectOrco(const point3d_t& p) const override { return p; }
    bool shoot(renderState_t&, surfacePoint_t&, const point3d_t&, const vector3d_t&, bool,
               float) const override {
        return false;
    }
    bound_t getBound() const override { return bound_t(); }
};

void expectVec(const vector3d_t& v, float x, float y, float z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

void expectPoint(const point3d_t& p, float x, float y, float z) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.z, z);
}

const shader_t* fakeShader() {
    return reinterpret_cast<const shader_t*>(0x1000);
}

} // namespace

TEST(Object3dTest, SettingsDefaults) {
    stubObject_t o;
    EXPECT_EQ(o.shader, nullptr);
    EXPECT_EQ(o.getShader(), nullptr);
    EXPECT_TRUE(o.settingFlagA);
    EXPECT_TRUE(o.settingFlagB);
    EXPECT_TRUE(o.castShadows);
    EXPECT_TRUE(o.castsShadows());
    EXPECT_EQ(o.settingWordA, 0u);
    EXPECT_EQ(o.settingWordB, 0u);
    EXPECT_TRUE(o.settingColorA.isBlack());
    EXPECT_TRUE(o.settingColorB.isBlack());
    EXPECT_EQ(o.settingFactor, 0.0f);
}

TEST(Object3dTest, InstancesCopyAllSettingsButWordB) {
    stubObject_t src;
    src.setShader(fakeShader());
    src.settingFlagA = false;
    src.settingFlagB = false;
    src.setCastShadows(false);
    src.settingWordA = 0xdeadbeefu;
    src.settingWordB = 42;
    src.settingColorA = color_t(1, 2, 3);
    src.settingColorB = color_t(4, 5, 6);
    src.settingFactor = 0.75f;
    stubObject_t copy;
    copy.settingWordB = 7;
    copy.copySettingsFrom(src);
    EXPECT_EQ(copy.getShader(), fakeShader());
    EXPECT_FALSE(copy.settingFlagA);
    EXPECT_FALSE(copy.settingFlagB);
    EXPECT_FALSE(copy.castsShadows());
    EXPECT_EQ(copy.settingWordA, 0xdeadbeefu);
    EXPECT_EQ(copy.settingWordB, 7u);
    EXPECT_EQ(copy.settingColorA.B, 3.0f);
    EXPECT_EQ(copy.settingColorB.R, 4.0f);
    EXPECT_EQ(copy.settingFactor, 0.75f);
}

TEST(SurfacePointTest, DefaultZeroesWhatItSets) {
    surfacePoint_t sp;
    expectVec(sp.normal, 0, 0, 0);
    expectVec(sp.tangentU, 0, 0, 0);
    expectVec(sp.tangentV, 0, 0, 0);
    expectVec(sp.geometricNormal, 0, 0, 0);
    expectPoint(sp.point, 0, 0, 0);
    expectPoint(sp.orcoPoint, 0, 0, 0);
    expectPoint(sp.auxPoint, 0, 0, 0);
    EXPECT_TRUE(sp.vertexColor.isBlack());
    EXPECT_EQ(sp.shader, nullptr);
    EXPECT_EQ(sp.origin, nullptr);
    EXPECT_FALSE(sp.hasUV);
    EXPECT_FALSE(sp.hasVertexColor);
    EXPECT_FALSE(sp.hasOrco);
}

TEST(SurfacePointTest, DefaultLeavesNothingIndeterminate) {
    // The fields a hit fills start at 0, so that a record copied before any
    // hit carries defined values. Built over garbage to show they are set.
    alignas(surfacePoint_t) unsigned char raw[sizeof(surfacePoint_t)];
    std::memset(raw, 0xA5, sizeof raw);
    surfacePoint_t* sp = new (raw) surfacePoint_t();
    EXPECT_EQ(sp->u, 0.0f);
    EXPECT_EQ(sp->v, 0.0f);
    EXPECT_EQ(sp->depth, 0.0f);
    EXPECT_EQ(sp->object, nullptr);
    EXPECT_EQ(sp->dudNU, 0.0f);
    EXPECT_EQ(sp->dudNV, 0.0f);
    EXPECT_EQ(sp->dvdNU, 0.0f);
    EXPECT_EQ(sp->dvdNV, 0.0f);
    surfacePoint_t copy(*sp);
    EXPECT_EQ(copy.depth, 0.0f);
    sp->~surfacePoint_t();
}

TEST(SurfacePointTest, FullConstructorAssignsInOrderAndBuildsTangents) {
    stubObject_t o;
    surfacePoint_t sp(&o, point3d_t(1, 2, 3), point3d_t(4, 5, 6), vector3d_t(0, 0, 1), vector3d_t(0, 1, 0),
                      0.25f, 0.75f, color_t(0.1f, 0.2f, 0.3f), 9.5f, fakeShader(), true, false, true);
    EXPECT_EQ(sp.object, &o);
    expectPoint(sp.point, 1, 2, 3);
    expectPoint(sp.orcoPoint, 4, 5, 6);
    expectVec(sp.normal, 0, 0, 1);
    expectVec(sp.geometricNormal, 0, 1, 0);
    EXPECT_EQ(sp.u, 0.25f);
    EXPECT_EQ(sp.v, 0.75f);
    EXPECT_EQ(sp.vertexColor.G, 0.2f);
    EXPECT_EQ(sp.depth, 9.5f);
    EXPECT_EQ(sp.shader, fakeShader());
    EXPECT_TRUE(sp.hasUV);
    EXPECT_FALSE(sp.hasVertexColor);
    EXPECT_TRUE(sp.hasOrco);
    expectVec(sp.tangentU, 1, 0, 0);
    expectVec(sp.tangentV, 0, 1, 0);
    EXPECT_EQ(sp.dudNU, 0.0f);
    EXPECT_EQ(sp.dudNV, 0.0f);
    EXPECT_EQ(sp.dvdNU, 0.0f);
    EXPECT_EQ(sp.dvdNV, 0.0f);
    expectPoint(sp.auxPoint, 0, 0, 0);
    EXPECT_EQ(sp.origin, nullptr);
}

TEST(SurfacePointTest, TangentsFollowTheNormal) {
    surfacePoint_t down(nullptr, point3d_t(), point3d_t(), vector3d_t(0, 0, -1), vector3d_t(0, 0, -1), 0, 0,
                        color_t(), 0, nullptr, false, false, false);
    expectVec(down.tangentU, -1, 0, 0);
    expectVec(down.tangentV, 0, 1, 0);
    // Along x: u = (n.y, -n.x, 0), v = n x u.
    surfacePoint_t side(nullptr, point3d_t(), point3d_t(), vector3d_t(1, 0, 0), vector3d_t(1, 0, 0), 0, 0,
                        color_t(), 0, nullptr, false, false, false);
    expectVec(side.tangentU, 0, -1, 0);
    expectVec(side.tangentV, 0, 0, -1);
    // The frame is orthonormal for a skew normal.
    vector3d_t n(1, 2, 2);
    n.normalize();
    surfacePoint_t skew(nullptr, point3d_t(), point3d_t(), n, n, 0, 0, color_t(), 0, nullptr, false, false,
                        false);
    EXPECT_NEAR(skew.tangentU * n, 0.0f, 1e-6f);
    EXPECT_NEAR(skew.tangentV * n, 0.0f, 1e-6f);
    EXPECT_NEAR(skew.tangentU * skew.tangentV, 0.0f, 1e-6f);
    EXPECT_NEAR(skew.tangentU.length(), 1.0f, 1e-6f);
    EXPECT_NEAR(skew.tangentV.length(), 1.0f, 1e-6f);
}

TEST(SurfacePointTest, CopyKeepsPlainPointers) {
    stubObject_t o;
    int element = 0;
    surfacePoint_t sp(&o, point3d_t(1, 2, 3), point3d_t(1, 2, 3), vector3d_t(0, 0, 1), vector3d_t(0, 0, 1),
                      0.5f, 0.5f, color_t(), 2, fakeShader(), false, false, false);
    sp.origin = &element;
    sp.dudNV = 3;
    sp.auxPoint = point3d_t(0.5f, -0.5f, 0);
    surfacePoint_t copy(sp);
    EXPECT_EQ(copy.object, &o);
    EXPECT_EQ(copy.shader, fakeShader());
    EXPECT_EQ(copy.origin, &element);
    EXPECT_EQ(copy.dudNV, 3.0f);
    EXPECT_EQ(copy.auxPoint.y, -0.5f);
    surfacePoint_t assigned;
    assigned = sp;
    EXPECT_EQ(assigned.origin, &element);
    EXPECT_EQ(assigned.depth, 2.0f);
}

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

// Exact components of a vector or point.
template <class V> void expectVec(const V& v, float x, float y, float z) {
    EXPECT_TRUE(v.x == x && v.y == y && v.z == z) << v;
}

surfacePoint_t along(const vector3d_t& n) {
    return surfacePoint_t(nullptr, point3d_t(), point3d_t(), n, n, 0, 0, color_t(), 0, nullptr, false, false,
                          false);
}

const shader_t* fakeShader() {
    return reinterpret_cast<const shader_t*>(0x1000);
}

} // namespace

TEST(Object3dTest, SettingsDefaults) {
    stubObject_t o;
    EXPECT_EQ(o.shader, nullptr);
    EXPECT_EQ(o.getShader(), nullptr);
    EXPECT_TRUE(o.settingFlagA && o.settingFlagB && o.castShadows && o.castsShadows());
    EXPECT_TRUE(o.settingWordA == 0 && o.settingWordB == 0 && o.settingFactor == 0);
    EXPECT_TRUE(o.settingColorA.isBlack() && o.settingColorB.isBlack());
}

TEST(Object3dTest, InstancesCopyAllSettingsButWordB) {
    stubObject_t src;
    src.setShader(fakeShader());
    src.settingFlagA = src.settingFlagB = false;
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
    EXPECT_FALSE(copy.settingFlagA || copy.settingFlagB || copy.castsShadows());
    EXPECT_EQ(copy.settingWordA, 0xdeadbeefu);
    EXPECT_EQ(copy.settingWordB, 7u);
    EXPECT_TRUE(copy.settingColorA.B == 3 && copy.settingColorB.R == 4 && copy.settingFactor == 0.75f);
}

TEST(SurfacePointTest, DefaultLeavesNothingIndeterminate) {
    // Every field starts at 0, so that a record copied before any hit
    // carries defined values. Built over garbage to show they are set.
    alignas(surfacePoint_t) unsigned char raw[sizeof(surfacePoint_t)];
    std::memset(raw, 0xA5, sizeof raw);
    surfacePoint_t* sp = new (raw) surfacePoint_t();
    for (const vector3d_t& v : {sp->normal, sp->tangentU, sp->tangentV, sp->geometricNormal})
        expectVec(v, 0, 0, 0);
    for (const point3d_t& p : {sp->point, sp->orcoPoint, sp->auxPoint}) expectVec(p, 0, 0, 0);
    EXPECT_TRUE(sp->vertexColor.isBlack());
    EXPECT_TRUE(sp->shader == nullptr && sp->origin == nullptr && sp->object == nullptr);
    EXPECT_FALSE(sp->hasUV || sp->hasVertexColor || sp->hasOrco);
    EXPECT_TRUE(sp->u == 0 && sp->v == 0 && sp->depth == 0);
    EXPECT_TRUE(sp->dudNU == 0 && sp->dudNV == 0 && sp->dvdNU == 0 && sp->dvdNV == 0);
    sp->~surfacePoint_t();
}

TEST(SurfacePointTest, FullConstructorAssignsInOrderAndBuildsTangents) {
    stubObject_t o;
    surfacePoint_t sp(&o, point3d_t(1, 2, 3), point3d_t(4, 5, 6), vector3d_t(0, 0, 1), vector3d_t(0, 1, 0),
                      0.25f, 0.75f, color_t(0.1f, 0.2f, 0.3f), 9.5f, fakeShader(), true, false, true);
    EXPECT_EQ(sp.object, &o);
    expectVec(sp.point, 1, 2, 3);
    expectVec(sp.orcoPoint, 4, 5, 6);
    expectVec(sp.normal, 0, 0, 1);
    expectVec(sp.geometricNormal, 0, 1, 0);
    EXPECT_TRUE(sp.u == 0.25f && sp.v == 0.75f && sp.vertexColor.G == 0.2f && sp.depth == 9.5f);
    EXPECT_EQ(sp.shader, fakeShader());
    EXPECT_TRUE(sp.hasUV && !sp.hasVertexColor && sp.hasOrco);
    expectVec(sp.tangentU, 1, 0, 0);
    expectVec(sp.tangentV, 0, 1, 0);
    EXPECT_TRUE(sp.dudNU == 0 && sp.dudNV == 0 && sp.dvdNU == 0 && sp.dvdNV == 0);
    expectVec(sp.auxPoint, 0, 0, 0);
    EXPECT_EQ(sp.origin, nullptr);
}

TEST(SurfacePointTest, TangentsFollowTheNormal) {
    surfacePoint_t down = along(vector3d_t(0, 0, -1));
    expectVec(down.tangentU, -1, 0, 0);
    expectVec(down.tangentV, 0, 1, 0);
    // Along x: u = (n.y, -n.x, 0), v = n x u.
    surfacePoint_t side = along(vector3d_t(1, 0, 0));
    expectVec(side.tangentU, 0, -1, 0);
    expectVec(side.tangentV, 0, 0, -1);
    // The frame is orthonormal for a skew normal.
    vector3d_t n(1, 2, 2);
    surfacePoint_t skew = along(n.normalize());
    EXPECT_NEAR(skew.tangentU * n, 0.0f, 1e-6f);
    EXPECT_NEAR(skew.tangentV * n, 0.0f, 1e-6f);
    EXPECT_NEAR(skew.tangentU * skew.tangentV, 0.0f, 1e-6f);
    EXPECT_NEAR(skew.tangentU.length(), 1.0f, 1e-6f);
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
    EXPECT_TRUE(copy.object == &o && copy.shader == fakeShader() && copy.origin == &element);
    EXPECT_TRUE(copy.dudNV == 3 && copy.auxPoint.y == -0.5f);
    surfacePoint_t assigned;
    assigned = sp;
    EXPECT_EQ(assigned.origin, &element);
    EXPECT_EQ(assigned.depth, 2.0f);
}

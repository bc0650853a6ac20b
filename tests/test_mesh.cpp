// Mesh objects: construction and copying, shooting, smoothing, placement.
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace vexlar;
using support::expectNear;

namespace {

typedef std::unique_ptr<meshObject_t> meshPtr;

// Triangles over index triples into `pts`.
std::vector<triangle_t> indexed(std::vector<point3d_t>& pts, const std::vector<int>& idx) {
    std::vector<triangle_t> ts;
    for (std::size_t i = 0; i + 2 < idx.size(); i += 3)
        ts.emplace_back(&pts[idx[i]], &pts[idx[i + 1]], &pts[idx[i + 2]]);
    return ts;
}

// The unit cube, 8 shared points (index x + 2y + 4z), 12 outward triangles.
std::vector<point3d_t> cubePoints() {
    std::vector<point3d_t> p;
    for (int i = 0; i < 8; ++i) p.push_back(point3d_t(i & 1, (i >> 1) & 1, (i >> 2) & 1));
    return p;
}
const std::vector<int> cubeIndices{0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
                                   2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};

meshPtr cube(const matrix4x4_t* m = nullptr) {
    std::vector<point3d_t> p = cubePoints();
    std::vector<triangle_t> ts = indexed(p, cubeIndices);
    if (m) return meshPtr(meshObject_t::factory(*m, p, {}, ts, {}, {}));
    return meshPtr(meshObject_t::factory(p, {}, ts, {}, {}));
}

std::size_t pointIndex(const meshObject_t& m, const point3d_t* p) {
    return static_cast<std::size_t>(p - m.points.data());
}

} // namespace

TEST(meshBuild, CopiesAndRepointsEverything) {
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0), point3d_t(1, 1, 0)};
    std::vector<vector3d_t> n(4, vector3d_t(0, 0, 1));
    std::vector<float> uv{0, 0, 1, 0, 0, 1, 1, 1, 0, 1, 1, 0};
    std::vector<float> col(9, 0.5f);
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2, 3, 2, 1});
    ts[0].na = &n[0];
    ts[0].nb = &n[1];
    ts[0].nc = &n[2];
    ts[0].uv = uv.data();
    ts[0].hasUV = true;
    ts[0].vcol = col.data();
    ts[0].hasVertexColor = true;
    ts[1].uv = uv.data() + 6;
    ts[1].hasUV = true;
    ts[1].vcol = col.data() + col.size(); // no colours: at the end of the array
    meshPtr m(meshObject_t::factory(p, n, ts, uv, col));
    ASSERT_EQ(m->triangles.size(), 2u);
    const triangle_t& a = m->triangles[0];
    const triangle_t& b = m->triangles[1];
    EXPECT_EQ(a.pa, &m->points[0]);
    EXPECT_EQ(b.pa, &m->points[3]);
    EXPECT_EQ(a.nc, &m->normals[2]);
    EXPECT_EQ(b.na, nullptr); // flat stays flat
    EXPECT_EQ(a.uv, m->uvValues.data());
    EXPECT_EQ(b.uv, m->uvValues.data() + 6);
    EXPECT_EQ(a.vcol, m->colorValues.data());
    EXPECT_EQ(b.vcol, m->colorValues.data() + m->colorValues.size());
    EXPECT_TRUE(a.hasUV && b.hasUV && a.hasVertexColor);
    EXPECT_EQ(m->type(), 0);
    EXPECT_TRUE(m->untransformed);
    EXPECT_FALSE(m->hasOrco);
    EXPECT_EQ(m->shader, nullptr);
    EXPECT_NE(m->tree, nullptr);
    EXPECT_FALSE(m->getBound().null);
    EXPECT_EQ(m->getBound().g.x, static_cast<float>(1 + 1e-5));

    // The caller's arrays may change or die: the mesh is unaffected.
    p.assign(4, point3d_t(9, 9, 9));
    uv.assign(uv.size(), 7.0f);
    renderState_t state;
    surfacePoint_t sp;
    ASSERT_TRUE(m->shoot(state, sp, point3d_t(0.25f, 0.25f, 1), vector3d_t(0, 0, -1), false, -1));
    EXPECT_EQ(sp.origin, static_cast<const void*>(&m->triangles[0]));
    EXPECT_FLOAT_EQ(sp.u, 0.25f);
    EXPECT_FLOAT_EQ(sp.v, 0.25f);
    EXPECT_FLOAT_EQ(sp.vertexColor.G, 0.5f);
    EXPECT_EQ(sp.object, m.get());
}

TEST(meshBuild, InconsistentOptionalDataIsDroppedNotRead) {
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    std::vector<vector3d_t> foreign(3, vector3d_t(0, 0, 1));
    std::vector<float> uv{0, 0, 1, 0}; // too short for six values
    std::vector<float> col(9, 1.0f);
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2});
    ts[0].na = &foreign[0];
    ts[0].nb = &foreign[1];
    ts[0].nc = &foreign[2];
    ts[0].uv = uv.data();
    ts[0].hasUV = true;
    ts[0].vcol = col.data() + 3; // only six values left
    ts[0].hasVertexColor = true;
    meshPtr m(meshObject_t::factory(p, {}, ts, uv, col));
    const triangle_t& t = m->triangles[0];
    EXPECT_EQ(t.na, nullptr); // no normal array: the caller's normals are not kept
    EXPECT_FALSE(t.hasUV);
    EXPECT_FALSE(t.hasVertexColor);
    renderState_t state;
    surfacePoint_t sp;
    ASSERT_TRUE(m->shoot(state, sp, point3d_t(0.25f, 0.25f, 1), vector3d_t(0, 0, -1), false, -1));
    EXPECT_FALSE(sp.hasUV);
    EXPECT_EQ(sp.u, -1.0f);
}

TEST(meshBuild, EmptyArraysPrintAndNeverHit) {
    std::vector<point3d_t> none;
    std::vector<point3d_t> elsewhere{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    std::vector<triangle_t> someTs = indexed(elsewhere, {0, 1, 2});
    struct input {
        std::vector<point3d_t> ver;
        std::vector<triangle_t> ts;
    };
    const input cases[] = {{none, {}}, {elsewhere, {}}, {none, someTs}};
    for (const input& in : cases) {
        testing::internal::CaptureStdout();
        meshPtr m(meshObject_t::factory(in.ver, {}, in.ts, {}, {}));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error null mesh\n");
        EXPECT_TRUE(m->triangles.empty());
        EXPECT_TRUE(m->getBound().null);
        renderState_t state;
        surfacePoint_t sp;
        const std::uint32_t rays0 = rays;
        EXPECT_FALSE(m->shoot(state, sp, point3d_t(0.2f, 0.2f, 1), vector3d_t(0, 0, -1), false, -1));
        EXPECT_FALSE(m->shoot(state, sp, point3d_t(0, 0, 1), vector3d_t(0, 0, -1), true, -1));
        EXPECT_EQ(rays - rays0, 2u);
        m->autoSmooth(30);
        m->recalcBound();
        matrix4x4_t t(1);
        t.translate(1, 2, 3);
        m->transform(t); // must not end the process in the matrix inverse
        EXPECT_FALSE(m->shoot(state, sp, point3d_t(0.2f, 0.2f, 1), vector3d_t(0, 0, -1), false, -1));
        EXPECT_NEAR(m->toObject(point3d_t(1, 2, 3)).y, 0.0f, 1e-6f);
    }
    // The placing constructor on empty arrays.
    matrix4x4_t t(2);
    testing::internal::CaptureStdout();
    meshPtr m(meshObject_t::factory(t, none, {}, {}, {}, {}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error null mesh\n");
}

TEST(meshShoot, MissLeavesRecordAlone) {
    meshPtr m = cube();
    renderState_t state;
    surfacePoint_t sp;
    sp.depth = 123;
    sp.u = 77;
    EXPECT_FALSE(m->shoot(state, sp, point3d_t(3, 3, 3), vector3d_t(1, 0, 0), false, -1));
    EXPECT_FALSE(
        m->shoot(state, sp, point3d_t(0.5f, 0.5f, 3), vector3d_t(0, 0, 1), false, -1)); // pointing away
    EXPECT_EQ(sp.depth, 123);
    EXPECT_EQ(sp.u, 77);
}

TEST(meshShoot, NearestFaceAndCounters) {
    meshPtr m = cube();
    renderState_t state;
    surfacePoint_t sp;
    const std::uint32_t rays0 = rays, hitted0 = hitted;
    ASSERT_TRUE(m->shoot(state, sp, point3d_t(0.3f, 0.4f, 5), vector3d_t(0, 0, -1), false, -1));
    EXPECT_EQ(sp.depth, 4.0f);
    EXPECT_EQ(sp.point.z, 1.0f);
    EXPECT_EQ(sp.normal, vector3d_t(0, 0, 1));
    EXPECT_EQ(rays - rays0, 1u);
    EXPECT_GE(hitted - hitted0, 2u); // at least the two faces on the ray

    // From inside, the far faces; +infinity behaves as no limit.
    ASSERT_TRUE(m->shoot(state, sp, point3d_t(0.5f, 0.25f, 0.5f), vector3d_t(0, -1, 0), false,
                         std::numeric_limits<float>::infinity()));
    EXPECT_EQ(sp.depth, 0.25f);
    EXPECT_EQ(sp.geometricNormal, vector3d_t(0, -1, 0));
}

TEST(meshShoot, DistanceOnlyPrunesNearestSearches) {
    // A tilted face z = x + y: its box reaches z = 1 while the ray below
    // meets the face at z = 0.2.
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 1), point3d_t(0, 1, 1)};
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2});
    meshPtr m(meshObject_t::factory(p, {}, ts, {}, {}));
    renderState_t state;
    surfacePoint_t sp;
    const point3d_t from(0.1f, 0.1f, 5);
    const vector3d_t down(0, 0, -1);
    ASSERT_TRUE(m->shoot(state, sp, from, down, false, 4.5f));
    EXPECT_NEAR(sp.depth, 4.8f, 1e-5f); // beyond dist, but in a visited leaf
    EXPECT_FALSE(m->shoot(state, sp, from, down, true, 4.5f));
    EXPECT_TRUE(m->shoot(state, sp, from, down, true, 4.9f));
    EXPECT_TRUE(m->shoot(state, sp, from, down, true, -1));
    EXPECT_FALSE(m->shoot(state, sp, from, down, false, 3.5f)); // the box starts beyond dist
}

TEST(meshShoot, SkipElementAndSharedEdges) {
    // A unit square of two triangles sharing the diagonal (1,0)-(0,1).
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0), point3d_t(1, 1, 0)};
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2, 3, 2, 1});
    meshPtr m(meshObject_t::factory(p, {}, ts, {}, {}));
    renderState_t state;
    surfacePoint_t sp;
    const point3d_t onDiagonal(0.5f, 0.5f, 1);
    const vector3d_t down(0, 0, -1);
    ASSERT_TRUE(m->shoot(state, sp, onDiagonal, down, false, -1));
    EXPECT_EQ(sp.origin, static_cast<const void*>(&m->triangles[0])); // first accepted keeps the tie
    state.skipElement = &m->triangles[0];
    ASSERT_TRUE(m->shoot(state, sp, onDiagonal, down, false, -1));
    EXPECT_EQ(sp.origin, static_cast<const void*>(&m->triangles[1]));
    // The only triangle on the ray is skipped: no hit at all.
    EXPECT_FALSE(m->shoot(state, sp, point3d_t(0.2f, 0.2f, 1), down, false, -1));
    EXPECT_FALSE(m->shoot(state, sp, point3d_t(0.2f, 0.2f, 1), down, true, -1));
}

TEST(meshShoot, ShaderFallsBackToTheMesh) {
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0), point3d_t(1, 1, 0)};
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2, 3, 2, 1});
    // Shaders are only carried, never called here: any distinct addresses do.
    int tags[2];
    const shader_t* own = reinterpret_cast<const shader_t*>(&tags[0]);
    const shader_t* meshShader = reinterpret_cast<const shader_t*>(&tags[1]);
    ts[1].shader = own;
    meshPtr m(meshObject_t::factory(p, {}, ts, {}, {}));
    m->shader = meshShader;
    renderState_t state;
    surfacePoint_t sp;
    ASSERT_TRUE(m->shoot(state, sp, point3d_t(0.2f, 0.2f, 1), vector3d_t(0, 0, -1), false, -1));
    EXPECT_EQ(sp.shader, meshShader);
    ASSERT_TRUE(m->shoot(state, sp, point3d_t(0.8f, 0.8f, 1), vector3d_t(0, 0, -1), false, -1));
    EXPECT_EQ(sp.shader, own);
}

TEST(meshSmooth, CubeAt30KeepsFaceNormals) {
    for (float angle : {30.0f, 0.0f, 89.0f}) {
        meshPtr m = cube();
        m->autoSmooth(angle);
        ASSERT_EQ(m->normals.size(), 36u);
        for (std::size_t i = 0; i < m->triangles.size(); ++i) {
            const triangle_t& t = m->triangles[i];
            EXPECT_EQ(t.na, &m->normals[3 * i]);
            EXPECT_EQ(t.nb, &m->normals[3 * i + 1]);
            EXPECT_EQ(t.nc, &m->normals[3 * i + 2]);
            for (const vector3d_t* n : {t.na, t.nb, t.nc})
                EXPECT_EQ(*n, t.N) << "angle " << angle << " tri " << i;
        }
    }
}

TEST(meshSmooth, CubeAt100WeighsTrianglesNotFaces) {
    meshPtr m = cube();
    m->autoSmooth(100);
    for (std::size_t i = 0; i < m->triangles.size(); ++i) {
        const triangle_t& t = m->triangles[i];
        const point3d_t* corners[3] = {t.pa, t.pb, t.pc};
        const vector3d_t* got[3] = {t.na, t.nb, t.nc};
        for (int k = 0; k < 3; ++k) {
            // Every triangle at that point, in array order.
            vector3d_t sum(0, 0, 0);
            for (const triangle_t& s : m->triangles)
                for (const point3d_t* q : {s.pa, s.pb, s.pc})
                    if (q == corners[k]) sum += s.N;
            sum.normalize();
            EXPECT_EQ(*got[k], sum);
        }
    }
    // Point 1 = (1, 0, 0): two +x triangles, one -y, one -z.
    vector3d_t expect(2, -1, -1);
    expect.normalize();
    const triangle_t& t = m->triangles[11]; // (1, 7, 5)
    ASSERT_EQ(pointIndex(*m, t.pa), 1u);
    expectNear(*t.na, expect, 1e-6f);
}

TEST(meshSmooth, OppositeFacesAndNegativeAngles) {
    // The same three points in both windings.
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2, 0, 2, 1});
    meshPtr m(meshObject_t::factory(p, {}, ts, {}, {}));
    // -1 sums everything: the two cancel, so each corner falls back to its
    // own face normal. 180 excludes exactly opposite faces.
    for (float angle : {-1.0f, 180.0f}) {
        m->autoSmooth(angle);
        for (const triangle_t& t : m->triangles) {
            EXPECT_EQ(*t.na, t.N) << angle;
            EXPECT_EQ(*t.nc, t.N) << angle;
        }
    }
    // With a third face bent by 90 degrees, -1 averages all three.
    std::vector<point3d_t> q{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0), point3d_t(0, 0, 1)};
    std::vector<triangle_t> us = indexed(q, {0, 1, 2, 0, 3, 1});
    meshPtr n(meshObject_t::factory(q, {}, us, {}, {}));
    n->autoSmooth(-1);
    vector3d_t e(0, 1, 1); // the second face's normal is +y
    e.normalize();
    expectNear(*n->triangles[0].na, e, 1e-6f);
    expectNear(*n->triangles[1].na, e, 1e-6f);
    EXPECT_EQ(*n->triangles[0].nc, vector3d_t(0, 0, 1)); // point 2 belongs to one face only
}

TEST(meshTransform, TranslationMovesTheBox) {
    meshPtr m = cube();
    const bound_t before = m->getBound();
    matrix4x4_t t(1);
    t.translate(10, 0, 0);
    m->transform(t);
    const bound_t after = m->getBound();
    expectNear(after.a, point3d_t(before.a.x + 10, before.a.y, before.a.z), 2e-6f);
    expectNear(after.g, point3d_t(before.g.x + 10, before.g.y, before.g.z), 2e-6f);
    EXPECT_FALSE(m->untransformed);
    renderState_t state;
    surfacePoint_t sp;
    ASSERT_TRUE(m->shoot(state, sp, point3d_t(10.5f, 0.5f, 5), vector3d_t(0, 0, -1), false, -1));
    EXPECT_EQ(sp.depth, 4.0f);
    EXPECT_FALSE(m->shoot(state, sp, point3d_t(0.5f, 0.5f, 5), vector3d_t(0, 0, -1), false, -1));
}

TEST(meshTransform, PlacementIsReplacedNotComposed) {
    matrix4x4_t a(1);
    a.rotateZ(30);
    a.scale(2, 1, 3);
    a.translate(1, -2, 5);
    matrix4x4_t b(1);
    b.rotateX(-70);
    b.translate(0, 4, 0);

    meshPtr once = cube();
    once->transform(a);
    meshPtr twice = cube();
    twice->transform(a);
    twice->transform(a);
    meshPtr replaced = cube();
    replaced->transform(b);
    replaced->transform(a);
    meshPtr built = cube(&a); // the placing constructor
    for (std::size_t i = 0; i < once->points.size(); ++i) {
        expectNear(twice->points[i], once->points[i], 1e-5f);
        expectNear(replaced->points[i], once->points[i], 1e-5f);
        EXPECT_EQ(built->points[i].x, once->points[i].x);
        EXPECT_EQ(built->points[i].z, once->points[i].z);
    }
    for (std::size_t i = 0; i < once->triangles.size(); ++i)
        expectNear(twice->triangles[i].N, once->triangles[i].N, 1e-5f);
    expectNear(twice->getBound().a, once->getBound().a, 1e-5f);
    expectNear(twice->getBound().g, once->getBound().g, 1e-5f);
}

TEST(meshTransform, WorldToObjectMappings) {
    matrix4x4_t m(1);
    m.scale(2, 1, 1);
    m.rotateZ(90);
    m.translate(10, 0, 0);
    meshPtr c = cube();
    // Untransformed: the identity.
    EXPECT_EQ(c->toObject(point3d_t(3, 4, 5)).y, 4.0f);
    EXPECT_EQ(c->toObjectRot(vector3d_t(0, 1, 0)).y, 1.0f);
    EXPECT_EQ(c->toObjectOrco(point3d_t(3, 4, 5)).z, 5.0f);
    c->transform(m);
    // (1, 0, 0) in object space goes to (10, 2, 0) in the world.
    expectNear(c->toObject(point3d_t(10, 2, 0)), point3d_t(1, 0, 0), 1e-5f);
    for (std::size_t i = 0; i < c->points.size(); ++i)
        expectNear(c->toObject(c->points[i]), cubePoints()[i], 1e-5f);
    // Directions lose the scale: world +y is object +x, unit length.
    expectNear(c->toObjectRot(vector3d_t(0, 1, 0)), vector3d_t(1, 0, 0), 1e-6f);
    expectNear(c->toObjectRot(vector3d_t(0, 0, 3)), vector3d_t(0, 0, 3), 1e-6f);
    EXPECT_EQ(c->backRot[0][3], 0.0f);
    EXPECT_EQ(c->backRot[3][3], 1.0f);
}

TEST(meshTransform, OrcoSpaceIsTheObjectBoxInUnits) {
    matrix4x4_t m(1);
    m.scale(2, 2, 2);
    m.translate(10, 0, 0);
    meshPtr c = cube(&m);
    // World box [10, 12] x [0, 2] x [0, 2]: its centre is the orco origin,
    // its corners about +-1 (the object box half-extent is 0.5 + 1e-5).
    expectNear(c->toObjectOrco(point3d_t(11, 1, 1)), point3d_t(0, 0, 0), 1e-5f);
    expectNear(c->toObjectOrco(point3d_t(12, 2, 2)), point3d_t(1, 1, 1), 1e-4f);
    expectNear(c->toObjectOrco(point3d_t(10, 0, 2)), point3d_t(-1, -1, 1), 1e-4f);
}

TEST(meshTransform, FlatMeshFarAwayKeepsAnInvertibleOrcoMatrix) {
    // At z = 1000 the 1e-5 margin rounds away: the box is flat in z.
    std::vector<point3d_t> p{point3d_t(0, 0, 1000), point3d_t(1, 0, 1000), point3d_t(0, 1, 1000)};
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2});
    matrix4x4_t m(1);
    m.translate(1, 1, 1);
    meshPtr c(meshObject_t::factory(m, p, {}, ts, {}, {}));
    EXPECT_EQ(c->getBound().a.z, c->getBound().g.z);
    const point3d_t o = c->toObjectOrco(point3d_t(1.5f, 1.5f, 1001));
    EXPECT_TRUE(std::isfinite(o.x) && std::isfinite(o.z));
    EXPECT_NEAR(o.z, 0.0f, 1e-6f);
}

TEST(meshTransform, OrcoPointsStayAndAreInterpolated) {
    // Pairs: position, then its orco point (here the untransformed position).
    std::vector<point3d_t> p;
    for (const point3d_t& q : cubePoints()) {
        p.push_back(q);
        p.push_back(q);
    }
    std::vector<int> idx;
    for (int i : cubeIndices) idx.push_back(2 * i);
    std::vector<triangle_t> ts = indexed(p, idx);
    matrix4x4_t m(1);
    m.rotateY(40);
    m.translate(-3, 2, 1);
    meshPtr c(meshObject_t::factory(m, p, {}, ts, {}, {}, true));
    ASSERT_TRUE(c->hasOrco);
    for (std::size_t i = 1; i < c->points.size(); i += 2) EXPECT_EQ(c->points[i].x, p[i].x);
    renderState_t state;
    surfacePoint_t sp;
    const point3d_t target = m * point3d_t(0.3f, 1.0f, 0.6f); // on the top face
    ASSERT_TRUE(c->shoot(state, sp, target + vector3d_t(0, 5, 0), vector3d_t(0, -1, 0), false, -1));
    EXPECT_TRUE(sp.hasOrco);
    expectNear(sp.orcoPoint, c->toObject(sp.point), 1e-4f);
    expectNear(sp.orcoPoint, point3d_t(0.3f, 1.0f, 0.6f), 1e-4f);

    // Turning orco on is refused when a vertex is the last point.
    std::vector<point3d_t> three{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    std::vector<triangle_t> one = indexed(three, {0, 1, 2});
    meshPtr d(meshObject_t::factory(three, {}, one, {}, {}));
    EXPECT_FALSE(d->setHasOrco(true));
    EXPECT_FALSE(d->hasOrco);
    EXPECT_TRUE(c->setHasOrco(true));
}

TEST(meshTransform, NormalsFollowTheMatrix) {
    meshPtr c = cube();
    c->autoSmooth(30);
    matrix4x4_t m(1);
    m.rotateZ(90);
    c->transform(m);
    // Face normals are recomputed; vertex normals are rotated.
    const triangle_t& top = c->triangles[2];
    EXPECT_NEAR(top.N.z, 1.0f, 1e-6f);
    const triangle_t& plusX = c->triangles[10];
    expectNear(plusX.N, vector3d_t(0, 1, 0), 1e-6f);
    expectNear(*plusX.na, vector3d_t(0, 1, 0), 1e-6f);
}

// Triangles: side test, barycentric weights and hit records.
#include "vexlarcore/triangle.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace vexlar;
using support::expectFloatEq;

namespace {

// The unit right triangle in the xy plane, counter-clockwise seen from +z.
struct unitTriangle : ::testing::Test {
    std::vector<point3d_t> pts{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    triangle_t tri{&pts[0], &pts[1], &pts[2]};
    triangle_t reversed{&pts[0], &pts[2], &pts[1]};
};

} // namespace

TEST_F(unitTriangle, ConstructorsSetNormalAndClearTheRest) {
    EXPECT_EQ(tri.N, vector3d_t(0, 0, 1));
    EXPECT_EQ(reversed.N, vector3d_t(0, 0, -1));
    EXPECT_EQ(tri.na, nullptr);
    EXPECT_EQ(tri.uv, nullptr);
    EXPECT_EQ(tri.vcol, nullptr);
    EXPECT_EQ(tri.shader, nullptr);
    EXPECT_FALSE(tri.hasUV);
    EXPECT_FALSE(tri.hasVertexColor);

    triangle_t empty;
    EXPECT_EQ(empty.pa, nullptr);
    EXPECT_EQ(empty.N, vector3d_t(0, 0, 0));

    // A degenerate face keeps the zero cross product.
    std::vector<point3d_t> line{point3d_t(0, 0, 0), point3d_t(1, 1, 1), point3d_t(2, 2, 2)};
    triangle_t flat(&line[0], &line[1], &line[2]);
    EXPECT_EQ(flat.N, vector3d_t(0, 0, 0));
}

TEST_F(unitTriangle, SideTestBothWindingsAndDirections) {
    for (const triangle_t* t : {&tri, &reversed}) {
        EXPECT_TRUE(t->hit(point3d_t(0.25f, 0.25f, 1), vector3d_t(0, 0, -1)));
        EXPECT_TRUE(t->hit(point3d_t(0.25f, 0.25f, -1), vector3d_t(0, 0, 1)));
        // Pointing away: the line still crosses; the mesh rejects it by t.
        EXPECT_TRUE(t->hit(point3d_t(0.25f, 0.25f, 1), vector3d_t(0, 0, 1)));
        EXPECT_FALSE(t->hit(point3d_t(1, 1, 1), vector3d_t(0, 0, -1)));
        EXPECT_FALSE(t->hit(point3d_t(-0.01f, 0.5f, 1), vector3d_t(0, 0, -1)));
    }
}

TEST_F(unitTriangle, EdgesAndVerticesCountAsHits) {
    // Through the hypotenuse: the triple product is exactly 0.
    EXPECT_TRUE(tri.hit(point3d_t(0.5f, 0.5f, 1), vector3d_t(0, 0, -1)));
    EXPECT_TRUE(reversed.hit(point3d_t(0.5f, 0.5f, 1), vector3d_t(0, 0, -1)));
    // Through the legs and a vertex.
    EXPECT_TRUE(tri.hit(point3d_t(0.5f, 0, 1), vector3d_t(0, 0, -1)));
    EXPECT_TRUE(tri.hit(point3d_t(0, 0.5f, 1), vector3d_t(0, 0, -1)));
    EXPECT_TRUE(tri.hit(point3d_t(1, 0, 1), vector3d_t(0, 0, -1)));
    // Just past the hypotenuse.
    EXPECT_FALSE(tri.hit(point3d_t(0.5f, 0.5001f, 1), vector3d_t(0, 0, -1)));
}

TEST_F(unitTriangle, SideTestAgreesWithPlaneIntersectionOnRandomRays) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-0.5f, 1.5f);
    int hits = 0;
    for (int i = 0; i < 2000; ++i) {
        const point3d_t from(u(rng), u(rng), 2.0f);
        const vector3d_t ray(u(rng) - from.x, u(rng) - from.y, -2.0f);
        // Where the line meets z = 0, computed in double.
        const double s = 2.0 / -static_cast<double>(ray.z);
        const double x = from.x + s * ray.x, y = from.y + s * ray.y;
        const double margin = 1e-4;
        if (x > margin && y > margin && x + y < 1 - margin) {
            EXPECT_TRUE(tri.hit(from, ray));
            EXPECT_TRUE(reversed.hit(from, ray));
            ++hits;
        } else if (x < -margin || y < -margin || x + y > 1 + margin) {
            EXPECT_FALSE(tri.hit(from, ray));
            EXPECT_FALSE(reversed.hit(from, ray));
        }
    }
    EXPECT_GT(hits, 200);
}

TEST_F(unitTriangle, InterpolationWeights) {
    float wa = 9, wb = 9, wc = 9;
    ASSERT_TRUE(getInterpolation(pts[0], pts[1], pts[2], point3d_t(0.25f, 0.25f, 0), wa, wb, wc));
    EXPECT_EQ(wa, 0.5f);
    EXPECT_EQ(wb, 0.25f);
    EXPECT_EQ(wc, 0.25f);

    ASSERT_TRUE(getInterpolation(pts[0], pts[1], pts[2], pts[1], wa, wb, wc));
    EXPECT_EQ(wa, 0.0f);
    EXPECT_EQ(wb, 1.0f);
    EXPECT_EQ(wc, 0.0f);

    // Outside the triangle the absolute areas still sum to one.
    ASSERT_TRUE(getInterpolation(pts[0], pts[1], pts[2], point3d_t(2, 2, 0), wa, wb, wc));
    EXPECT_NEAR(wa + wb + wc, 1.0f, 1e-6f);
    EXPECT_GE(wa, 0.0f);
}

TEST(triangleInterpolation, DegenerateCornersFailAndKeepWeights) {
    const point3d_t a(0, 0, 0), b(1, 1, 1), c(2, 2, 2);
    float wa = 7, wb = 8, wc = 9;
    EXPECT_FALSE(getInterpolation(a, b, c, point3d_t(0.5f, 0.5f, 0.5f), wa, wb, wc));
    EXPECT_TRUE(wa == 7 && wb == 8 && wc == 9);
    EXPECT_FALSE(getInterpolation(a, a, a, a, wa, wb, wc));
}

TEST(triangleInterpolation, ChoosesTheLargestProjection) {
    // A triangle in the plane x = 3: only the yz projection has area.
    const point3d_t a(3, 0, 0), b(3, 2, 0), c(3, 0, 2);
    float wa, wb, wc;
    ASSERT_TRUE(getInterpolation(a, b, c, point3d_t(3, 0.5f, 0.5f), wa, wb, wc));
    EXPECT_FLOAT_EQ(wa, 0.5f);
    EXPECT_FLOAT_EQ(wb, 0.25f);
    EXPECT_FLOAT_EQ(wc, 0.25f);
    // And in the plane y = 1: the xz projection (the last choice on ties).
    const point3d_t d(0, 1, 0), e(2, 1, 0), f(0, 1, 2);
    ASSERT_TRUE(getInterpolation(d, e, f, point3d_t(1, 1, 0.5f), wa, wb, wc));
    EXPECT_FLOAT_EQ(wa, 0.25f);
    EXPECT_FLOAT_EQ(wb, 0.5f);
    EXPECT_FLOAT_EQ(wc, 0.25f);
}

TEST(triangleInterpolation, RandomInteriorPointsRoundTrip) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-5.0f, 5.0f), w(0.05f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        const point3d_t a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng)), c(u(rng), u(rng), u(rng));
        float ra = w(rng), rb = w(rng), rc = w(rng);
        const float s = ra + rb + rc;
        ra /= s, rb /= s, rc /= s;
        const point3d_t p(ra * a.x + rb * b.x + rc * c.x, ra * a.y + rb * b.y + rc * c.y,
                          ra * a.z + rb * b.z + rc * c.z);
        float wa, wb, wc;
        ASSERT_TRUE(getInterpolation(a, b, c, p, wa, wb, wc));
        const float area = ((b - a) ^ (c - a)).length();
        if (area < 0.5f) continue; // slivers lose precision, nothing to check there
        EXPECT_NEAR(wa, ra, 2e-3f) << i;
        EXPECT_NEAR(wb, rb, 2e-3f) << i;
        EXPECT_NEAR(wc, rc, 2e-3f) << i;
    }
}

TEST_F(unitTriangle, QuickPathRecord) {
    const point3d_t p(0.25f, 0.25f, 0);
    const surfacePoint_t sp = tri.getSurface(p, 3.5f, false);
    EXPECT_EQ(sp.u, -1.0f);
    EXPECT_EQ(sp.v, -1.0f);
    EXPECT_EQ(sp.normal, tri.N);
    EXPECT_EQ(sp.geometricNormal, tri.N);
    EXPECT_EQ(sp.point.x, p.x);
    EXPECT_EQ(sp.orcoPoint.y, p.y);
    EXPECT_EQ(sp.depth, 3.5f);
    EXPECT_TRUE(sp.object == nullptr && sp.origin == nullptr && sp.shader == nullptr);
    EXPECT_FALSE(sp.hasUV || sp.hasVertexColor || sp.hasOrco);
    EXPECT_EQ(sp.dudNU, 0.0f);
    expectFloatEq(sp.tangentU, 1, 0, 0);
    expectFloatEq(sp.tangentV, 0, 1, 0);
}

TEST_F(unitTriangle, TextureCoordinatesAndDerivatives) {
    std::vector<float> uv{0, 0, 1, 0, 0, 1};
    tri.uv = uv.data();
    tri.hasUV = true;
    const surfacePoint_t sp = tri.getSurface(point3d_t(0.25f, 0.5f, 0), 1, false);
    EXPECT_TRUE(sp.hasUV);
    EXPECT_FLOAT_EQ(sp.u, 0.25f);
    EXPECT_FLOAT_EQ(sp.v, 0.5f);
    EXPECT_FLOAT_EQ(sp.dudNU, 1.0f);
    EXPECT_FLOAT_EQ(sp.dudNV, 0.0f);
    EXPECT_FLOAT_EQ(sp.dvdNU, 0.0f);
    EXPECT_FLOAT_EQ(sp.dvdNV, 1.0f);

    // Doubling the texture doubles the rates; swapping u and v swaps them.
    std::vector<float> uv2{0, 0, 0, 2, 2, 0};
    tri.uv = uv2.data();
    const surfacePoint_t sq = tri.getSurface(point3d_t(0.25f, 0.25f, 0), 1, false);
    EXPECT_FLOAT_EQ(sq.dudNU, 0.0f);
    EXPECT_FLOAT_EQ(sq.dudNV, 2.0f);
    EXPECT_FLOAT_EQ(sq.dvdNU, 2.0f);
    EXPECT_FLOAT_EQ(sq.dvdNV, 0.0f);
}

TEST_F(unitTriangle, DerivativesOnASlantedFace) {
    // The same texture on a face tilted about the x axis: along x the rate
    // stays 1; the in-plane perpendicular is sqrt(2) long for one unit of v.
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 1)};
    std::vector<float> uv{0, 0, 1, 0, 0, 1};
    triangle_t t(&p[0], &p[1], &p[2]);
    t.uv = uv.data();
    t.hasUV = true;
    const surfacePoint_t sp = t.getSurface(point3d_t(0.2f, 0.3f, 0.3f), 1, false);
    // d(v)/ds along the unit in-plane direction (0, 1, 1)/sqrt(2).
    const float rate = 1.0f / std::sqrt(2.0f);
    const vector3d_t e2(0, rate, rate);
    EXPECT_NEAR(sp.dudNU, sp.tangentU.x, 1e-6f);
    EXPECT_NEAR(sp.dudNV, sp.tangentV.x, 1e-6f);
    EXPECT_NEAR(sp.dvdNU, (sp.tangentU * e2) * rate, 1e-6f);
    EXPECT_NEAR(sp.dvdNV, (sp.tangentV * e2) * rate, 1e-6f);
}

TEST(triangleSurface, DegenerateEdgesKeepDerivativesZero) {
    std::vector<float> uv{0, 0, 1, 0, 0, 1};
    // Zero-length first edge; the point is off the line so the weights exist.
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(0, 0, 0), point3d_t(0, 1, 0)};
    triangle_t t(&p[0], &p[1], &p[2]);
    t.uv = uv.data();
    t.hasUV = true;
    surfacePoint_t sp = t.getSurface(point3d_t(1, 0, 0), 1, false);
    EXPECT_TRUE(sp.hasUV);
    EXPECT_TRUE(sp.dudNU == 0 && sp.dudNV == 0 && sp.dvdNU == 0 && sp.dvdNV == 0);

    // Third vertex on the line of the first edge.
    std::vector<point3d_t> q{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(2, 0, 0)};
    triangle_t s(&q[0], &q[1], &q[2]);
    s.uv = uv.data();
    s.hasUV = true;
    sp = s.getSurface(point3d_t(0, 1, 0), 1, false);
    EXPECT_TRUE(std::isfinite(sp.u));
    EXPECT_EQ(sp.dudNU, 0.0f);
    EXPECT_EQ(sp.dvdNV, 0.0f);

    // A point on the line itself: no weights, so the quick record.
    sp = s.getSurface(point3d_t(0.5f, 0, 0), 1, false);
    EXPECT_EQ(sp.u, -1.0f);
    EXPECT_FALSE(sp.hasUV);
}

TEST_F(unitTriangle, FullPathWithoutUvGivesZeroCoordinatesAndColours) {
    std::vector<float> col{1, 0, 0, 0, 1, 0, 0, 0, 1};
    tri.vcol = col.data();
    tri.hasVertexColor = true;
    const surfacePoint_t sp = tri.getSurface(point3d_t(0.25f, 0.25f, 0), 1, false);
    EXPECT_EQ(sp.u, 0.0f);
    EXPECT_EQ(sp.v, 0.0f);
    EXPECT_FALSE(sp.hasUV);
    EXPECT_TRUE(sp.hasVertexColor);
    EXPECT_FLOAT_EQ(sp.vertexColor.R, 0.5f);
    EXPECT_FLOAT_EQ(sp.vertexColor.G, 0.25f);
    EXPECT_FLOAT_EQ(sp.vertexColor.B, 0.25f);
}

TEST_F(unitTriangle, SmoothNormalsAreInterpolatedAndNormalised) {
    std::vector<vector3d_t> n{vector3d_t(1, 0, 1), vector3d_t(0, 1, 1), vector3d_t(0, 0, 1)};
    tri.na = &n[0];
    tri.nb = &n[1];
    tri.nc = &n[2];
    const surfacePoint_t sp = tri.getSurface(point3d_t(0.25f, 0.25f, 0), 1, false);
    vector3d_t expect(0.5f, 0.25f, 1.0f);
    expect.normalize();
    expectFloatEq(sp.normal, expect.x, expect.y, expect.z);
    EXPECT_EQ(sp.geometricNormal, tri.N);
    EXPECT_EQ(sp.u, 0.0f); // full path, no uv
    EXPECT_NEAR(sp.tangentU * sp.normal, 0.0f, 1e-6f);
}

TEST(triangleSurface, OrcoPointsFollowEachPosition) {
    // Position, orco, position, orco, ...
    std::vector<point3d_t> p{point3d_t(0, 0, 0),    point3d_t(10, 10, 10), point3d_t(1, 0, 0),
                             point3d_t(12, 10, 10), point3d_t(0, 1, 0),    point3d_t(10, 14, 10)};
    triangle_t t(&p[0], &p[2], &p[4]);
    const surfacePoint_t sp = t.getSurface(point3d_t(0.25f, 0.25f, 0), 1, true);
    EXPECT_TRUE(sp.hasOrco);
    expectFloatEq(sp.orcoPoint, 10.5f, 11.0f, 10.0f);
    EXPECT_EQ(sp.point.x, 0.25f);
    EXPECT_EQ(sp.u, 0.0f);
}

TEST_F(unitTriangle, SetVerticesAndRecNormal) {
    std::vector<vector3d_t> n(3, vector3d_t(0, 0, 1));
    std::vector<float> uv(6, 0.5f);
    tri.na = &n[0];
    tri.nb = &n[1];
    tri.nc = &n[2];
    tri.uv = uv.data();
    tri.hasUV = true;
    tri.setVertices(&pts[0], &pts[2], &pts[1]);
    EXPECT_EQ(tri.N, vector3d_t(0, 0, -1));
    EXPECT_EQ(tri.na, nullptr);
    EXPECT_EQ(tri.nc, nullptr);
    EXPECT_EQ(tri.uv, uv.data());
    EXPECT_TRUE(tri.hasUV);

    pts[2] = point3d_t(0, 0, 1); // the triangle now lies in the xz plane
    tri.recNormal();
    expectFloatEq(tri.N, 0, 1, 0);
}

// Triangles: the side test against plane intersections in double, the
// barycentric weights and the hit record's normals, coordinates and rates.
#include "vexlarcore/triangle.h"

#include "test_support.h"

#include <cmath>
#include <random>

using namespace vexlar;
using support::expectNear;

namespace {

// The unit right triangle in the xy plane, counter-clockwise seen from +z.
struct unitTriangle : ::testing::Test {
    std::vector<point3d_t> pts{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0)};
    triangle_t tri{&pts[0], &pts[1], &pts[2]};
    triangle_t reversed{&pts[0], &pts[2], &pts[1]};
    std::vector<float> uv{0, 0, 1, 0, 0, 1};
    void withUV(triangle_t& t, std::vector<float>& values) {
        t.uv = values.data();
        t.hasUV = true;
    }
};

std::vector<float> weights(const point3d_t& a, const point3d_t& b, const point3d_t& c, const point3d_t& p) {
    std::vector<float> w(3, 9);
    if (!getInterpolation(a, b, c, p, w[0], w[1], w[2])) return {};
    return w;
}

} // namespace

TEST_F(unitTriangle, SideTestCountsEdgesAndAgreesWithThePlane) {
    EXPECT_EQ(tri.N, vector3d_t(0, 0, 1));
    EXPECT_EQ(reversed.N, vector3d_t(0, 0, -1));
    const vector3d_t down(0, 0, -1);
    for (const triangle_t* t : {&tri, &reversed}) {
        EXPECT_TRUE(t->hit(point3d_t(0.25f, 0.25f, -1), -down));
        EXPECT_TRUE(t->hit(point3d_t(0.25f, 0.25f, 1), -down)); // pointing away: the line still crosses
        for (const point3d_t& edge :
             {point3d_t(0.5f, 0.5f, 1), point3d_t(0.5f, 0, 1), point3d_t(0, 0.5f, 1), point3d_t(1, 0, 1)})
            EXPECT_TRUE(t->hit(edge, down)) << edge; // edges and vertices count
        EXPECT_FALSE(t->hit(point3d_t(0.5f, 0.5001f, 1), down));
        EXPECT_FALSE(t->hit(point3d_t(-0.01f, 0.5f, 1), down));
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-0.5f, 1.5f);
    int hits = 0;
    for (int i = 0; i < 2000; ++i) {
        const point3d_t from(u(rng), u(rng), 2.0f);
        const vector3d_t ray(u(rng) - from.x, u(rng) - from.y, -2.0f);
        const double x = from.x + ray.x, y = from.y + ray.y, m = 1e-4; // where the line meets z = 0
        const bool in = x > m && y > m && x + y < 1 - m, out = x < -m || y < -m || x + y > 1 + m;
        if (in || out) {
            EXPECT_EQ(tri.hit(from, ray), in) << i;
            EXPECT_EQ(reversed.hit(from, ray), in) << i;
        }
        hits += in;
    }
    EXPECT_GT(hits, 200);
    std::vector<point3d_t> line{point3d_t(0, 0, 0), point3d_t(1, 1, 1), point3d_t(2, 2, 2)};
    EXPECT_EQ(triangle_t(&line[0], &line[1], &line[2]).N, vector3d_t(0, 0, 0)); // degenerate: zero normal
}

TEST_F(unitTriangle, WeightsFromTheLargestProjection) {
    EXPECT_EQ(weights(pts[0], pts[1], pts[2], point3d_t(0.25f, 0.25f, 0)),
              (std::vector<float>{0.5f, 0.25f, 0.25f}));
    EXPECT_EQ(weights(pts[0], pts[1], pts[2], pts[1]), (std::vector<float>{0, 1, 0}));
    const std::vector<float> outside = weights(pts[0], pts[1], pts[2], point3d_t(2, 2, 0));
    EXPECT_NEAR(outside[0] + outside[1] + outside[2], 1.0f, 1e-6f); // absolute areas still sum to 1
    // Only the yz projection has area; then only xz (the last choice on ties).
    EXPECT_EQ(weights(point3d_t(3, 0, 0), point3d_t(3, 2, 0), point3d_t(3, 0, 2), point3d_t(3, 0.5f, 0.5f)),
              (std::vector<float>{0.5f, 0.25f, 0.25f}));
    EXPECT_EQ(weights(point3d_t(0, 1, 0), point3d_t(2, 1, 0), point3d_t(0, 1, 2), point3d_t(1, 1, 0.5f)),
              (std::vector<float>{0.25f, 0.5f, 0.25f}));
    EXPECT_TRUE(weights(pts[0], pts[0], pts[0], pts[0]).empty());
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-5.0f, 5.0f), w(0.05f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        const point3d_t a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng)), c(u(rng), u(rng), u(rng));
        float ra = w(rng), rb = w(rng), rc = w(rng);
        const float s = ra + rb + rc;
        ra /= s, rb /= s, rc /= s;
        const point3d_t p(ra * a.x + rb * b.x + rc * c.x, ra * a.y + rb * b.y + rc * c.y,
                          ra * a.z + rb * b.z + rc * c.z);
        const std::vector<float> got = weights(a, b, c, p);
        if (((b - a) ^ (c - a)).length() < 0.5f) continue; // slivers lose precision
        EXPECT_TRUE(std::fabs(got[0] - ra) < 2e-3f && std::fabs(got[1] - rb) < 2e-3f &&
                    std::fabs(got[2] - rc) < 2e-3f)
            << i;
    }
}

TEST_F(unitTriangle, HitRecordsAndNewVertices) {
    surfacePoint_t sp = tri.getSurface(point3d_t(0.25f, 0.25f, 0), 3.5f, false);
    EXPECT_TRUE(sp.u == -1.0f && sp.normal == tri.N && sp.depth == 3.5f && !sp.hasUV && sp.object == nullptr);
    withUV(tri, uv);
    sp = tri.getSurface(point3d_t(0.25f, 0.5f, 0), 1, false);
    EXPECT_TRUE(sp.hasUV && sp.u == 0.25f && sp.v == 0.5f);
    EXPECT_TRUE(sp.dudNU == 1 && sp.dudNV == 0 && sp.dvdNU == 0 && sp.dvdNV == 1);
    std::vector<float> uv2{0, 0, 0, 2, 2, 0}; // doubled and swapped rates
    withUV(tri, uv2);
    sp = tri.getSurface(point3d_t(0.25f, 0.125f, 0), 1, false);
    EXPECT_FLOAT_EQ(sp.v, 0.25f * 2);
    EXPECT_TRUE(sp.dudNU == 0 && sp.dudNV == 2 && sp.dvdNU == 2 && sp.dvdNV == 0);
    // A face tilted about x: along x the rate stays 1, across it 1/sqrt(2).
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 1)};
    triangle_t t(&p[0], &p[1], &p[2]);
    withUV(t, uv);
    sp = t.getSurface(point3d_t(0.2f, 0.3f, 0.3f), 1, false);
    const float rate = 1.0f / std::sqrt(2.0f);
    const vector3d_t e2(0, rate, rate);
    EXPECT_NEAR(sp.dudNV, sp.tangentV.x, 1e-6f);
    EXPECT_NEAR(sp.dvdNU, (sp.tangentU * e2) * rate, 1e-6f);
    EXPECT_NEAR(sp.dvdNV, (sp.tangentV * e2) * rate, 1e-6f);
    // A zero first edge, or a third vertex on its line: rates stay 0.
    std::vector<point3d_t> q{point3d_t(0, 0, 0), point3d_t(0, 0, 0), point3d_t(0, 1, 0), point3d_t(2, 0, 0)};
    triangle_t zero(&q[0], &q[1], &q[2]), onLine(&q[0], &pts[1], &q[3]);
    withUV(zero, uv);
    withUV(onLine, uv);
    sp = zero.getSurface(point3d_t(1, 0, 0), 1, false);
    EXPECT_TRUE(sp.hasUV && sp.dudNU == 0 && sp.dvdNV == 0);
    sp = onLine.getSurface(point3d_t(0, 1, 0), 1, false);
    EXPECT_TRUE(std::isfinite(sp.u) && sp.dudNU == 0 && sp.dvdNV == 0);
    EXPECT_EQ(onLine.getSurface(point3d_t(0.5f, 0, 0), 1, false).u, -1.0f); // no weights: the quick record
    std::vector<float> col{1, 0, 0, 0, 1, 0, 0, 0, 1};
    tri.vcol = col.data();
    tri.hasVertexColor = true;
    tri.hasUV = false;
    sp = tri.getSurface(point3d_t(0.25f, 0.25f, 0), 1, false);
    EXPECT_TRUE(sp.u == 0 && !sp.hasUV && sp.hasVertexColor); // the full path without uv
    EXPECT_TRUE(sp.vertexColor.R == 0.5f && sp.vertexColor.G == 0.25f && sp.vertexColor.B == 0.25f);
    std::vector<vector3d_t> n{vector3d_t(1, 0, 1), vector3d_t(0, 1, 1), vector3d_t(0, 0, 1)};
    tri.na = &n[0];
    tri.nb = &n[1];
    tri.nc = &n[2];
    sp = tri.getSurface(point3d_t(0.25f, 0.25f, 0), 1, false);
    vector3d_t expect(0.5f, 0.25f, 1.0f);
    expectNear(sp.normal, expect.normalize(), 1e-7f);
    EXPECT_EQ(sp.geometricNormal, tri.N);
    // Orco points are stored after each position.
    std::vector<point3d_t> o{point3d_t(0, 0, 0),    point3d_t(10, 10, 10), point3d_t(1, 0, 0),
                             point3d_t(12, 10, 10), point3d_t(0, 1, 0),    point3d_t(10, 14, 10)};
    triangle_t orco(&o[0], &o[2], &o[4]);
    sp = orco.getSurface(point3d_t(0.25f, 0.25f, 0), 1, true);
    EXPECT_TRUE(sp.hasOrco && sp.point.x == 0.25f);
    expectNear(sp.orcoPoint, point3d_t(10.5f, 11.0f, 10.0f), 1e-6f);
    tri.setVertices(&pts[0], &pts[2], &pts[1]); // drops the normals, keeps uv
    EXPECT_TRUE(tri.N == vector3d_t(0, 0, -1) && tri.na == nullptr);
    pts[2] = point3d_t(0, 0, 1);
    tri.recNormal();
    expectNear(tri.N, vector3d_t(0, 1, 0), 1e-7f);
}

// Mesh objects: copied arrays, shooting, smoothing and placement.
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include "test_support.h"

#include <cmath>
#include <memory>

using namespace vexlar;
using support::expectNear;

namespace {

typedef std::unique_ptr<meshObject_t> meshPtr;

std::vector<triangle_t> indexed(std::vector<point3d_t>& pts, const std::vector<int>& idx) {
    std::vector<triangle_t> ts;
    for (std::size_t i = 0; i + 2 < idx.size(); i += 3)
        ts.emplace_back(&pts[idx[i]], &pts[idx[i + 1]], &pts[idx[i + 2]]);
    return ts;
}

// The unit cube: 8 shared points (index x + 2y + 4z), 12 outward triangles.
std::vector<point3d_t> cubePoints() {
    std::vector<point3d_t> p;
    for (int i = 0; i < 8; ++i) p.push_back(point3d_t(i & 1, (i >> 1) & 1, (i >> 2) & 1));
    return p;
}
const std::vector<int> cubeIndices{0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
                                   2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};

// A mesh of the points' indexed triangles, placed by `m` when given.
meshPtr made(std::vector<point3d_t> p, const std::vector<int>& idx, const matrix4x4_t* m = nullptr,
             bool orco = false) {
    std::vector<triangle_t> ts = indexed(p, idx);
    return meshPtr(m ? meshObject_t::factory(*m, p, {}, ts, {}, {}, orco)
                     : meshObject_t::factory(p, {}, ts, {}, {}, orco));
}

meshPtr cube(const matrix4x4_t* m = nullptr) {
    return made(cubePoints(), cubeIndices, m);
}

// The unit square of two triangles sharing the diagonal (1,0)-(0,1).
meshPtr square() {
    return made({point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0), point3d_t(1, 1, 0)},
                {0, 1, 2, 3, 2, 1});
}

struct shot_t {
    renderState_t state;
    surfacePoint_t sp;
    bool operator()(const meshObject_t& m, const point3d_t& from, const vector3d_t& ray, bool shadow = false,
                    float dist = -1) {
        return m.shoot(state, sp, from, ray, shadow, dist);
    }
};

const vector3d_t down(0, 0, -1);

} // namespace

TEST(mesh, CopiesAndRepointsItsArrays) {
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0), point3d_t(1, 1, 0)};
    std::vector<vector3d_t> n(4, vector3d_t(0, 0, 1));
    std::vector<float> uv{0, 0, 1, 0, 0, 1, 1, 1, 0, 1, 1, 0}, col(9, 0.5f);
    std::vector<triangle_t> ts = indexed(p, {0, 1, 2, 3, 2, 1});
    ts[0].na = &n[0], ts[0].nb = &n[1], ts[0].nc = &n[2];
    ts[0].uv = uv.data(), ts[0].hasUV = true;
    ts[0].vcol = col.data(), ts[0].hasVertexColor = true;
    ts[1].uv = uv.data() + 6, ts[1].hasUV = true;
    meshPtr m(meshObject_t::factory(p, n, ts, uv, col));
    const triangle_t &a = m->triangles[0], &b = m->triangles[1];
    EXPECT_TRUE(a.pa == &m->points[0] && b.pa == &m->points[3] && a.nc == &m->normals[2] && b.na == nullptr);
    EXPECT_TRUE(a.uv == m->uvValues.data() && b.uv == m->uvValues.data() + 6 &&
                a.vcol == m->colorValues.data());
    EXPECT_TRUE(m->untransformed && !m->hasOrco && m->tree != nullptr);
    EXPECT_EQ(m->getBound().g.x, static_cast<float>(1 + 1e-5));
    p.assign(4, point3d_t(9, 9, 9)); // the caller's arrays may change
    uv.assign(uv.size(), 7.0f);
    shot_t shot;
    ASSERT_TRUE(shot(*m, point3d_t(0.25f, 0.25f, 1), down));
    EXPECT_TRUE(shot.sp.origin == &m->triangles[0] && shot.sp.object == m.get());
    EXPECT_TRUE(shot.sp.u == 0.25f && shot.sp.v == 0.25f && shot.sp.vertexColor.G == 0.5f);
    // Optional data that does not fit its array is dropped, never read.
    std::vector<float> shortUV{0, 0, 1, 0, 0}; // five of six values
    std::vector<triangle_t> one = indexed(p, {0, 1, 2});
    one[0].na = &n[0], one[0].nb = &n[1], one[0].nc = &n[2]; // no normal array given
    one[0].uv = shortUV.data(), one[0].hasUV = true;
    one[0].vcol = col.data() + 3, one[0].hasVertexColor = true; // six values left
    meshPtr d(meshObject_t::factory(p, {}, one, shortUV, col));
    EXPECT_TRUE(d->triangles[0].na == nullptr && !d->triangles[0].hasUV && !d->triangles[0].hasVertexColor);
    // Empty arrays: a message, no triangles, no hits, no crash.
    std::vector<point3d_t> none;
    std::string printed = support::captured([&] { d.reset(meshObject_t::factory(none, {}, one, {}, {})); });
    EXPECT_EQ(printed, "Error null mesh\n");
    EXPECT_TRUE(d->triangles.empty() && d->getBound().null);
    const std::uint32_t rays0 = rays;
    EXPECT_FALSE(shot(*d, point3d_t(0.2f, 0.2f, 1), down));
    EXPECT_EQ(rays - rays0, 1u);
    d->autoSmooth(30);
    d->transform(matrix4x4_t(2.0f)); // must not stop the process in the matrix inverse
    EXPECT_FALSE(shot(*d, point3d_t(0.2f, 0.2f, 1), down, true));
}

TEST(mesh, ShootFindsTheNearestFaceSkipsOneAndKeepsTies) {
    meshPtr m = cube();
    shot_t shot;
    shot.sp.depth = 123;
    EXPECT_FALSE(shot(*m, point3d_t(0.5f, 0.5f, 3), vector3d_t(0, 0, 1))); // pointing away
    EXPECT_EQ(shot.sp.depth, 123);
    const std::uint32_t rays0 = rays, hitted0 = hitted;
    ASSERT_TRUE(shot(*m, point3d_t(0.3f, 0.4f, 5), down));
    EXPECT_TRUE(shot.sp.depth == 4.0f && shot.sp.point.z == 1.0f && shot.sp.normal == vector3d_t(0, 0, 1));
    EXPECT_TRUE(rays - rays0 == 1 && hitted - hitted0 >= 2);
    ASSERT_TRUE(shot(*m, point3d_t(0.5f, 0.25f, 0.5f), vector3d_t(0, -1, 0), false, INFINITY)); // from inside
    EXPECT_TRUE(shot.sp.depth == 0.25f && shot.sp.geometricNormal == vector3d_t(0, -1, 0));
    // The face z = x + y: its box reaches z = 1, the ray meets it at 0.2.
    meshPtr tilted = made({point3d_t(0, 0, 0), point3d_t(1, 0, 1), point3d_t(0, 1, 1)}, {0, 1, 2});
    const point3d_t from(0.1f, 0.1f, 5);
    ASSERT_TRUE(shot(*tilted, from, down, false, 4.5f)); // dist only prunes nearest searches
    EXPECT_NEAR(shot.sp.depth, 4.8f, 1e-5f);
    EXPECT_FALSE(shot(*tilted, from, down, true, 4.5f));
    EXPECT_FALSE(shot(*tilted, from, down, false, 3.5f)); // the box starts beyond
    ASSERT_TRUE(shot(*tilted, from, down));
    EXPECT_FALSE(shot(*tilted, from, down, true, shot.sp.depth)); // strictly before the limit
    // Two triangles sharing the diagonal.
    m = square();
    const point3d_t onDiagonal(0.5f, 0.5f, 1);
    ASSERT_TRUE(shot(*m, onDiagonal, down));
    EXPECT_EQ(shot.sp.origin, &m->triangles[0]); // the first accepted keeps the tie
    shot.state.skipElement = &m->triangles[0];
    ASSERT_TRUE(shot(*m, onDiagonal, down));
    EXPECT_EQ(shot.sp.origin, &m->triangles[1]);
    EXPECT_FALSE(shot(*m, point3d_t(0.2f, 0.2f, 1), down)); // the only triangle there is skipped
    EXPECT_FALSE(shot(*m, point3d_t(0.2f, 0.2f, 1), down, true));
    shot.state.skipElement = nullptr;
    int tags[2]; // shaders are only carried here: any distinct addresses do
    m->triangles[1].shader = reinterpret_cast<const shader_t*>(&tags[0]);
    m->shader = reinterpret_cast<const shader_t*>(&tags[1]);
    ASSERT_TRUE(shot(*m, point3d_t(0.2f, 0.2f, 1), down));
    EXPECT_EQ(shot.sp.shader, m->shader);
    ASSERT_TRUE(shot(*m, point3d_t(0.8f, 0.8f, 1), down));
    EXPECT_EQ(shot.sp.shader, m->triangles[1].shader);
}

TEST(mesh, AutoSmoothAveragesFacesWithinTheAngle) {
    for (float angle : {30.0f, 0.0f, 89.0f}) { // cube edges are 90 degrees: face normals stay
        meshPtr m = cube();
        m->autoSmooth(angle);
        ASSERT_EQ(m->normals.size(), 36u);
        for (std::size_t i = 0; i < m->triangles.size(); ++i) {
            const triangle_t& t = m->triangles[i];
            EXPECT_TRUE(t.na == &m->normals[3 * i] && t.nc == &m->normals[3 * i + 2]);
            EXPECT_TRUE(*t.na == t.N && *t.nb == t.N && *t.nc == t.N) << angle << " " << i;
        }
    }
    meshPtr m = cube();
    m->autoSmooth(100); // triangles are weighed, not faces: point 1 has two +x, one -y, one -z
    vector3d_t expect(2, -1, -1);
    ASSERT_EQ(m->triangles[11].pa, &m->points[1]);
    expectNear(*m->triangles[11].na, expect.normalize(), 1e-6f);
    // Opposite faces cancel: each corner falls back to its own normal.
    std::vector<point3d_t> p{point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 1, 0), point3d_t(0, 0, 1)};
    meshPtr twin = made(p, {0, 1, 2, 0, 2, 1});
    for (float angle : {-1.0f, 180.0f}) {
        twin->autoSmooth(angle);
        for (const triangle_t& t : twin->triangles) EXPECT_TRUE(*t.na == t.N && *t.nc == t.N) << angle;
    }
    meshPtr b = made(p, {0, 1, 2, 0, 3, 1}); // a second face at 90 degrees
    b->autoSmooth(-1);                       // -1 sums every face
    vector3d_t e(0, 1, 1);
    expectNear(*b->triangles[0].na, e.normalize(), 1e-6f);
    EXPECT_EQ(*b->triangles[0].nc, vector3d_t(0, 0, 1)); // point 2 belongs to one face only
    // Faces exactly at the angle are not within it: normals (0, -1, 0) and
    // (-0.6, -0.8, 0) have the dot 0.8f, the cosine of 36.8698959f degrees.
    meshPtr h = made({point3d_t(0, 0, 0), point3d_t(1, 0, 0), point3d_t(0, 0, 1), point3d_t(-4, 3, 0)},
                     {0, 1, 2, 0, 2, 3});
    ASSERT_EQ(h->triangles[0].N * h->triangles[1].N,
              float(std::cos(double(36.8698959f) * 0.017453292519943295)));
    h->autoSmooth(36.8698959f);
    EXPECT_EQ(*h->triangles[0].na, h->triangles[0].N);
    h->autoSmooth(36.8699f);
    EXPECT_NE(*h->triangles[0].na, h->triangles[0].N);
}

TEST(mesh, PlacementReplacesAndMapsBackToObjectAndOrcoSpace) {
    matrix4x4_t a(1), b(1);
    a.rotateZ(30);
    a.scale(2, 1, 3);
    a.translate(1, -2, 5);
    b.rotateX(-70);
    b.translate(0, 4, 0);
    meshPtr once = cube(), replaced = cube(), built = cube(&a);
    once->transform(a);
    replaced->transform(b);
    replaced->transform(a); // replaced, not composed
    for (std::size_t i = 0; i < once->points.size(); ++i) {
        expectNear(replaced->points[i], once->points[i], 1e-5f);
        EXPECT_TRUE(built->points[i].x == once->points[i].x && built->points[i].z == once->points[i].z);
        expectNear(once->toObject(once->points[i]), cubePoints()[i], 1e-5f);
    }
    EXPECT_FALSE(once->untransformed);
    // Directions lose the scale: world +y is object +x.
    matrix4x4_t m(1);
    m.scale(2, 1, 1);
    m.rotateZ(90);
    m.translate(10, 0, 0);
    meshPtr c = cube();
    c->autoSmooth(30);
    c->transform(m);
    expectNear(c->toObject(point3d_t(10, 2, 0)), point3d_t(1, 0, 0), 1e-5f);
    expectNear(c->toObjectRot(vector3d_t(0, 1, 0)), vector3d_t(1, 0, 0), 1e-6f);
    expectNear(c->triangles[10].N, vector3d_t(0, 1, 0), 1e-6f);   // face normals recomputed
    expectNear(*c->triangles[10].na, vector3d_t(0, 2, 0), 1e-6f); // vertex normals moved by the matrix
    // Orco space is the object box in units.
    m = matrix4x4_t(1);
    m.scale(2, 2, 2);
    m.translate(10, 0, 0);
    c = cube(&m); // world box [10, 12] x [0, 2] x [0, 2]
    expectNear(c->toObjectOrco(point3d_t(11, 1, 1)), point3d_t(0, 0, 0), 1e-5f);
    expectNear(c->toObjectOrco(point3d_t(12, 2, 2)), point3d_t(1, 1, 1), 1e-4f);
    expectNear(c->toObjectOrco(point3d_t(10, 0, 2)), point3d_t(-1, -1, 1), 1e-4f);
    // A flat mesh far away (the margin rounds away) keeps an invertible matrix.
    meshPtr f = made({point3d_t(0, 0, 1000), point3d_t(1, 0, 1000), point3d_t(0, 1, 1000)}, {0, 1, 2}, &m);
    const point3d_t o = f->toObjectOrco(point3d_t(11, 1, 2000));
    EXPECT_TRUE(std::isfinite(o.x) && std::fabs(o.z) < 1e-6f) << o;
    // Orco points stored after the positions stay and are interpolated.
    std::vector<point3d_t> p;
    for (const point3d_t& q : cubePoints()) p.insert(p.end(), {q, q});
    std::vector<int> idx;
    for (int i : cubeIndices) idx.push_back(2 * i);
    matrix4x4_t r(1);
    r.rotateY(40);
    r.translate(-3, 2, 1);
    meshPtr oc = made(p, idx, &r, true);
    ASSERT_TRUE(oc->hasOrco);
    shot_t shot;
    const point3d_t target = r * point3d_t(0.3f, 1.0f, 0.6f); // on the top face
    ASSERT_TRUE(shot(*oc, target + vector3d_t(0, 5, 0), vector3d_t(0, -1, 0)));
    EXPECT_TRUE(shot.sp.hasOrco);
    expectNear(shot.sp.orcoPoint, point3d_t(0.3f, 1.0f, 0.6f), 1e-4f);
    EXPECT_FALSE(square()->setHasOrco(true)); // a vertex is the last point: no orco after it
}

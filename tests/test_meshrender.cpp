// Whole renders of triangle meshes compared with the same shapes computed
// independently in double precision: a flat cube over a floor (ray/box and
// ray/plane intersections, per-face Lambert shading, the cube's shadow), a
// smoothed icosphere (between its inscribed and circumscribed spheres), and
// the same meshes placed by a matrix or shown through an instance.
#include "scene_fixtures.h"

#include "vexlarcore/matrix4.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/reference.h"
#include "vexlarcore/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <utility>
#include <vector>

using namespace vexlar;
using namespace fixtures;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

constexpr int resx = 64, resy = 48;
constexpr double pi = 3.14159265358979323846;

// Double-precision vector for the reference model.
struct dv {
    double x, y, z;
    friend dv operator+(const dv& a, const dv& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend dv operator-(const dv& a, const dv& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend dv operator*(double s, const dv& a) { return {s * a.x, s * a.y, s * a.z}; }
    double operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
};
// clang-format off
double dot(const dv& a, const dv& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
dv cross(const dv& a, const dv& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double norm(const dv& a) { return std::sqrt(dot(a, a)); }
dv unit(const dv& a) { return (1.0 / norm(a)) * a; }
dv toD(const point3d_t& p) { return {p.x, p.y, p.z}; }
point3d_t toF(const dv& a) { return point3d_t(float(a.x), float(a.y), float(a.z)); }
// clang-format on

// Rotation by `ax` degrees about x followed by `ay` degrees about y, in
// double: rows of the 3 x 3 matrix Ry * Rx.
struct rotation_t {
    dv row[3];
    rotation_t(double ax, double ay) {
        const double cx = std::cos(ax * pi / 180), sx = std::sin(ax * pi / 180);
        const double cy = std::cos(ay * pi / 180), sy = std::sin(ay * pi / 180);
        // Ry = [cy 0 sy; 0 1 0; -sy 0 cy], Rx = [1 0 0; 0 cx -sx; 0 sx cx].
        row[0] = {cy, sy * sx, sy * cx};
        row[1] = {0, cx, -sx};
        row[2] = {-sy, cy * sx, cy * cx};
    }
    dv apply(const dv& v) const { return {dot(row[0], v), dot(row[1], v), dot(row[2], v)}; }
    dv applyInverse(const dv& v) const {
        return {row[0].x * v.x + row[1].x * v.y + row[2].x * v.z,
                row[0].y * v.x + row[1].y * v.y + row[2].y * v.z,
                row[0].z * v.x + row[1].z * v.y + row[2].z * v.z};
    }
};

// The placement used throughout: rotate, then translate to `centre`.
struct placement_t {
    double ax, ay;
    dv centre;
    rotation_t rot() const { return rotation_t(ax, ay); }
    dv apply(const dv& p) const { return rot().apply(p) + centre; }
    // The same placement built with the library's matrix operations.
    matrix4x4_t matrix() const {
        matrix4x4_t m(1.0f);
        m.rotateX(static_cast<float>(ax));
        m.rotateY(static_cast<float>(ay));
        m.translate(static_cast<float>(centre.x), static_cast<float>(centre.y), static_cast<float>(centre.z));
        return m;
    }
};

// Indexed geometry as the tests build it; turned into a mesh on demand.
struct shape_t {
    std::vector<point3d_t> points;
    std::vector<int> idx;                 // three per triangle
    std::vector<const shader_t*> shaders; // per triangle (null: the mesh's)

    shape_t placed(const placement_t& pl) const {
        shape_t s = *this;
        for (point3d_t& p : s.points) p = toF(pl.apply(toD(p)));
        return s;
    }
    std::vector<triangle_t> triangles(std::vector<point3d_t>& pts) const {
        std::vector<triangle_t> ts;
        for (std::size_t i = 0; i + 2 < idx.size(); i += 3) {
            ts.emplace_back(&pts[idx[i]], &pts[idx[i + 1]], &pts[idx[i + 2]]);
            ts.back().shader = shaders.empty() ? nullptr : shaders[i / 3];
        }
        return ts;
    }
    // A mesh of the shape, placed by `place` when given.
    std::unique_ptr<meshObject_t> mesh(const shader_t* shader, const matrix4x4_t* place = nullptr) const {
        std::vector<point3d_t> pts = points;
        std::unique_ptr<meshObject_t> m(place ? meshObject_t::factory(*place, pts, {}, triangles(pts), {}, {})
                                              : meshObject_t::factory(pts, {}, triangles(pts), {}, {}));
        m->setShader(shader);
        return m;
    }
};

// Cube [-1, 1]^3, point index x + 2y + 4z (bit set: +1), 12 triangles
// wound outwards; the two triangles of the z faces get `zShader`.
shape_t cubeShape(const shader_t* zShader) {
    shape_t s;
    for (int i = 0; i < 8; ++i)
        s.points.push_back(point3d_t(i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f));
    s.idx = {0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
             2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};
    s.shaders.assign(12, nullptr);
    s.shaders[0] = s.shaders[1] = s.shaders[2] = s.shaders[3] = zShader;
    return s;
}

// Unit icosahedron subdivided `rounds` times (midpoints shared and pushed
// out to the sphere), then scaled by `radius`; faces wound outwards.
shape_t icosphereShape(int rounds, double radius) {
    const double t = (1 + std::sqrt(5.0)) / 2;
    std::vector<dv> v = {{-1, t, 0},  {1, t, 0},  {-1, -t, 0}, {1, -t, 0}, {0, -1, t},  {0, 1, t},
                         {0, -1, -t}, {0, 1, -t}, {t, 0, -1},  {t, 0, 1},  {-t, 0, -1}, {-t, 0, 1}};
    for (dv& p : v) p = unit(p);
    std::vector<int> f = {0, 11, 5,  0, 5,  1, 0, 1, 7, 0, 7,  10, 0, 10, 11, 1, 5, 9, 5, 11,
                          4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3,  9,  4, 3,  4,  2, 3, 2, 6, 3,
                          6, 8,  3,  8, 9,  4, 9, 5, 2, 4, 11, 6,  2, 10, 8,  6, 7, 9, 8, 1};
    for (int r = 0; r < rounds; ++r) {
        std::map<std::pair<int, int>, int> mids;
        auto mid = [&](int a, int b) {
            const std::pair<int, int> key(std::min(a, b), std::max(a, b));
            auto it = mids.find(key);
            if (it != mids.end()) return it->second;
            v.push_back(unit(0.5 * (v[a] + v[b])));
            return mids[key] = static_cast<int>(v.size()) - 1;
        };
        std::vector<int> g;
        for (std::size_t i = 0; i < f.size(); i += 3) {
            const int a = f[i], b = f[i + 1], c = f[i + 2];
            const int ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
            g.insert(g.end(), {a, ab, ca, ab, b, bc, ca, bc, c, ab, bc, ca});
        }
        f.swap(g);
    }
    shape_t s;
    for (const dv& p : v) s.points.push_back(toF(radius * p));
    for (std::size_t i = 0; i < f.size(); i += 3) {
        const dv a = toD(s.points[f[i]]), b = toD(s.points[f[i + 1]]), c = toD(s.points[f[i + 2]]);
        if (dot(cross(b - a, c - a), a + b + c) < 0) std::swap(f[i + 1], f[i + 2]);
    }
    s.idx = f;
    return s;
}

// Floor rectangle x in [-8, 8], z in [-20, -1] at height `y`, facing up.
shape_t floorShape(double y) {
    shape_t s;
    const float h = static_cast<float>(y);
    s.points = {point3d_t(-8, h, -1), point3d_t(8, h, -1), point3d_t(8, h, -20), point3d_t(-8, h, -20)};
    s.idx = {0, 1, 2, 0, 2, 3};
    return s;
}

// One rendered image, indexed by pixel.
struct image_t {
    std::vector<pixel_t> px;
    const pixel_t& at(int x, int y) const { return px[static_cast<std::size_t>(y * resx + x)]; }
};

const dv lampPos{6, 5, -4};
const color_t skyColour(0.1f, 0.2f, 0.3f);

// Renders `objects` through scene_t::render with the standard camera (eye at
// the origin looking along -z, +y up, focal 1), one point light and a
// constant background; every pixel must arrive exactly once.
image_t render(const std::vector<object3d_t*>& objects) {
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), resx, resy, 1.0f);
    pointLight_t lamp(toF(lampPos), color_t(1.0f));
    constantBackground_t sky(skyColour);
    scene_t scene;
    for (object3d_t* o : objects) scene.addObject(o);
    scene.addLight(&lamp);
    scene.setBackground(&sky);
    recordingOutput_t out;
    CaptureStdout();
    CaptureStderr();
    scene.setCamera(&cam);
    scene.render(out);
    GetCapturedStdout();
    GetCapturedStderr();
    image_t img;
    img.px.resize(resx * resy);
    std::vector<int> seen(resx * resy, 0);
    for (const pixel_t& p : out.calls) {
        const std::size_t i = static_cast<std::size_t>(p.y * resx + p.x);
        if (p.x < 0 || p.x >= resx || i >= img.px.size()) {
            ADD_FAILURE() << "pixel outside the image: " << p.x << "," << p.y;
            continue;
        }
        img.px[i] = p;
        ++seen[i];
    }
    for (int i = 0; i < resx * resy; ++i) EXPECT_EQ(seen[i], 1) << "pixel " << i % resx << "," << i / resx;
    return img;
}

dv pixelDir(int x, int y) {
    double d[3];
    pinhole_t{resx, resy, 1.0}.dir(x, y, d);
    return {d[0], d[1], d[2]};
}

// Slab test of the ray o + t d against the placed cube [-1, 1]^3. `margin`
// is the chord length tFar - tNear (negative for a miss): how safely inside
// the silhouette the ray passes. `faceGap` is how far the entry face's slab
// lies ahead of the next one (small near an edge between two faces).
struct boxHit_t {
    double tNear = -1, tFar = -1, margin = -1, faceGap = 0;
    int axis = -1;
    double sign = 0; // the entry face's outward normal is sign * axis
    bool hit() const { return margin > 0 && tFar > 0; }
};

boxHit_t hitCube(const placement_t& pl, const dv& o, const dv& d) {
    const rotation_t r = pl.rot();
    const dv lo = r.applyInverse(o - pl.centre), ld = r.applyInverse(d);
    boxHit_t h;
    double nears[3], fars[3];
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(ld[k]) < 1e-300) {
            const bool inside = std::fabs(lo[k]) <= 1;
            nears[k] = inside ? -1e300 : 1e300;
            fars[k] = inside ? 1e300 : -1e300;
            continue;
        }
        const double t1 = (-1 - lo[k]) / ld[k], t2 = (1 - lo[k]) / ld[k];
        nears[k] = std::min(t1, t2);
        fars[k] = std::max(t1, t2);
    }
    h.axis = static_cast<int>(std::max_element(nears, nears + 3) - nears);
    h.tNear = nears[h.axis];
    h.tFar = *std::min_element(fars, fars + 3);
    h.margin = h.tFar - h.tNear;
    h.sign = ld[h.axis] > 0 ? -1 : 1;
    double second = -1e300;
    for (int k = 0; k < 3; ++k)
        if (k != h.axis) second = std::max(second, nears[k]);
    h.faceGap = h.tNear - second;
    return h;
}

// Expected value of one pixel; `sure` is false when the pixel lies too close
// to an edge, a silhouette or a shadow boundary for a safe decision.
struct expected_t {
    bool sure = true;
    bool hit = false;
    color_t colour;
    double depth = -1;
    bool shadowed = false;
    int face = -1; // cube: 2 * axis + (sign > 0); 6: floor
};

double lambert(const dv& n, const dv& p, bool& grazing) {
    const double c = dot(n, unit(lampPos - p));
    grazing = std::fabs(c) < 0.02;
    return std::max(0.0, c);
}

color_t scaled(const color_t& c, double k) {
    return color_t(static_cast<float>(c.R * k), static_cast<float>(c.G * k), static_cast<float>(c.B * k));
}

// The cube under `pl` over the floor plane y = floorY.
struct cubeModel_t {
    placement_t pl;
    double floorY;
    color_t meshDiffuse, zDiffuse, floorDiffuse;

    expected_t at(int x, int y) const {
        const double eps = 1e-3;
        const dv o{0, 0, 0}, d = pixelDir(x, y);
        expected_t e;
        const boxHit_t b = hitCube(pl, o, d);
        if (std::fabs(b.margin) < eps) e.sure = false;
        if (b.hit()) {
            if (b.faceGap < eps) e.sure = false;
            const dv p = b.tNear * d;
            const dv nObj = b.axis == 0   ? dv{b.sign, 0, 0}
                            : b.axis == 1 ? dv{0, b.sign, 0}
                                          : dv{0, 0, b.sign};
            bool grazing;
            const double k = lambert(pl.rot().apply(nObj), p, grazing);
            if (grazing) e.sure = false;
            e.hit = true;
            e.depth = b.tNear;
            e.face = 2 * b.axis + (b.sign > 0);
            e.colour = scaled(b.axis == 2 ? zDiffuse : meshDiffuse, k);
            return e;
        }
        // Ray/plane: the floor rectangle.
        if (d.y >= 0) return e;
        const double t = (floorY - o.y) / d.y;
        const dv p = t * d;
        const double inside = std::min({p.x + 8, 8 - p.x, p.z + 20, -1 - p.z});
        if (std::fabs(inside) < eps) e.sure = false;
        if (inside <= 0) return e;
        bool grazing;
        double k = lambert(dv{0, 1, 0}, p, grazing);
        if (grazing) e.sure = false;
        // Shadow: the segment from the floor point to the lamp against the cube.
        const dv toLamp = lampPos - p;
        const double len = norm(toLamp);
        const boxHit_t s = hitCube(pl, p, unit(toLamp));
        if (std::fabs(s.margin) < eps) e.sure = false;
        if (k > 0 && s.hit() && s.tNear < len) {
            e.shadowed = true;
            k = 0;
        }
        e.hit = true;
        e.depth = t;
        e.face = 6;
        e.colour = scaled(floorDiffuse, k);
        return e;
    }
};

// The sphere test of the fixtures for a dv ray.
double sphereT(const dv& o, const dv& d, const dv& c, double r, double& margin) {
    const double oo[3] = {o.x, o.y, o.z}, dd[3] = {d.x, d.y, d.z}, cc[3] = {c.x, c.y, c.z};
    return sphereHit(oo, dd, cc, r, &margin);
}

// Radii of the spheres inscribed in and circumscribed about a convex mesh
// around `c`, from its (float) vertex positions.
void meshRadii(const shape_t& s, const dv& c, double& inner, double& outer) {
    inner = 1e300;
    outer = 0;
    for (const point3d_t& p : s.points) outer = std::max(outer, norm(toD(p) - c));
    for (std::size_t i = 0; i < s.idx.size(); i += 3) {
        const dv a = toD(s.points[s.idx[i]]), b = toD(s.points[s.idx[i + 1]]),
                 cc = toD(s.points[s.idx[i + 2]]);
        inner = std::min(inner, std::fabs(dot(unit(cross(b - a, cc - a)), a - c)));
    }
}

// True for pixels of a convex ball mesh around `c` whose render may
// legitimately differ between two builds of it: rays through the band
// between the inscribed and the circumscribed sphere, and hits near the
// terminator, where facets may shadow themselves.
bool ballUnsure(int x, int y, const dv& c, double inner, double outer) {
    const dv d = pixelDir(x, y);
    double mOut, mIn;
    sphereT({0, 0, 0}, d, c, outer, mOut);
    const double t = sphereT({0, 0, 0}, d, c, inner, mIn);
    if (mOut < -1e-3) return false;
    if (mIn <= 1e-3) return true;
    const dv p = t * d;
    return std::fabs(dot(unit(p - c), unit(lampPos - p))) < 0.15;
}

class MeshRenderTest : public ::testing::Test {
protected:
    MeshRenderTest()
        : meshShader(color_t(0.8f, 0.6f, 0.3f)), zShader(color_t(0.2f, 0.5f, 0.9f)),
          floorShader(color_t(0.7f, 0.7f, 0.6f)), ballShader(color_t(0.9f, 0.8f, 0.7f)) {}

    lambertShader_t meshShader, zShader, floorShader, ballShader;
    const placement_t cubePlace{25, 35, {0.2, 0.3, -6}};
    const double floorY = -1.9;
    const placement_t ballPlace{40, -70, {-0.25, 0.25, -5}};
    const double ballRadius = 1.5;
    const dv ballCentre{-0.25, 0.25, -5};

    cubeModel_t cubeModel() const {
        return {cubePlace, floorY, meshShader.diffuse, zShader.diffuse, floorShader.diffuse};
    }
    shape_t cube() const { return cubeShape(&zShader); }

    // `objects` render like the placed cube over the floor, where the model
    // is sure.
    void expectLikeCube(const std::vector<object3d_t*>& objects);
    // `ball` renders like the smoothed icosphere placed directly.
    void expectLikeBall(object3d_t* ball);
    const shape_t ball = icosphereShape(2, ballRadius);
};

// Pixel by pixel equality of two renders where the model is sure; `skip`
// names pixels to leave out.
template <class skip_f> int compareImages(const image_t& a, const image_t& b, skip_f skip, double tol) {
    int compared = 0;
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x) {
            if (skip(x, y)) continue;
            ++compared;
            const pixel_t &p = a.at(x, y), &q = b.at(x, y);
            EXPECT_EQ(p.alpha, q.alpha) << x << "," << y;
            EXPECT_NEAR(p.c.R, q.c.R, tol) << x << "," << y;
            EXPECT_NEAR(p.c.G, q.c.G, tol) << x << "," << y;
            EXPECT_NEAR(p.c.B, q.c.B, tol) << x << "," << y;
            EXPECT_NEAR(p.depth, q.depth, tol * std::max(1.0, std::fabs(static_cast<double>(q.depth))))
                << x << "," << y;
        }
    return compared;
}

void MeshRenderTest::expectLikeCube(const std::vector<object3d_t*>& objects) {
    const cubeModel_t model = cubeModel();
    auto floor = floorShape(floorY).mesh(&floorShader);
    auto direct = cube().placed(cubePlace).mesh(&meshShader);
    auto skip = [&](int x, int y) { return !model.at(x, y).sure; };
    EXPECT_GT(compareImages(render(objects), render({direct.get(), floor.get()}), skip, 1e-5),
              resx * resy * 9 / 10);
}

void MeshRenderTest::expectLikeBall(object3d_t* other) {
    auto direct = ball.placed(ballPlace).mesh(&ballShader);
    direct->autoSmooth(60);
    double inner, outer;
    meshRadii(ball.placed(ballPlace), ballCentre, inner, outer);
    auto skip = [&](int x, int y) { return ballUnsure(x, y, ballCentre, inner, outer); };
    EXPECT_GT(compareImages(render({other}), render({direct.get()}), skip, 1e-5), resx * resy * 3 / 4);
}

} // namespace

TEST_F(MeshRenderTest, CubeAndFloorMatchRayBoxAndRayPlane) {
    auto box = cube().placed(cubePlace).mesh(&meshShader);
    auto floor = floorShape(floorY).mesh(&floorShader);
    const image_t img = render({box.get(), floor.get()});
    const cubeModel_t model = cubeModel();

    int checked = 0, background = 0, shadowed = 0, litFloor = 0, black = 0;
    int perFace[7] = {0, 0, 0, 0, 0, 0, 0};
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x) {
            const expected_t e = model.at(x, y);
            if (!e.sure) continue;
            ++checked;
            const pixel_t& p = img.at(x, y);
            if (!e.hit) {
                ++background;
                EXPECT_EQ(p.alpha, 0.0f) << x << "," << y;
                EXPECT_EQ(p.depth, -1.0f) << x << "," << y;
                EXPECT_EQ(p.c.B, skyColour.B) << x << "," << y;
                continue;
            }
            ++perFace[e.face];
            shadowed += e.shadowed;
            litFloor += e.face == 6 && !e.shadowed;
            black += e.face < 6 && e.colour.isBlack();
            EXPECT_EQ(p.alpha, 1.0f) << x << "," << y;
            EXPECT_NEAR(p.depth, e.depth, 1e-5 * e.depth) << x << "," << y;
            EXPECT_NEAR(p.c.R, e.colour.R, 1e-4) << x << "," << y << " face " << e.face;
            EXPECT_NEAR(p.c.G, e.colour.G, 1e-4) << x << "," << y << " face " << e.face;
            EXPECT_NEAR(p.c.B, e.colour.B, 1e-4) << x << "," << y << " face " << e.face;
        }
    // The scene shows what it is meant to: three cube faces (one of them with
    // the triangles' own shader, one turned away from the lamp), the floor
    // lit and in the cube's shadow, and background.
    EXPECT_GT(checked, resx * resy * 9 / 10);
    EXPECT_GT(background, 300);
    EXPECT_GT(shadowed, 20);
    EXPECT_GT(litFloor, 200);
    EXPECT_GT(black, 20);
    int faces = 0;
    for (int f = 0; f < 6; ++f) faces += perFace[f] > 20;
    EXPECT_EQ(faces, 3);
    EXPECT_GT(perFace[4] + perFace[5], 20); // a z face: per-triangle shader
}

TEST_F(MeshRenderTest, IcosphereLiesBetweenItsInscribedAndCircumscribedSpheres) {
    const shape_t ball = icosphereShape(3, ballRadius).placed(ballPlace);
    ASSERT_EQ(ball.idx.size(), 3u * 1280u);
    double inner, outer;
    meshRadii(ball, ballCentre, inner, outer);
    ASSERT_LT(inner, outer);
    ASSERT_GT(inner, 0.99 * ballRadius);

    auto smooth = ball.mesh(&ballShader);
    smooth->autoSmooth(60);
    auto flat = ball.mesh(&ballShader);
    const image_t img = render({smooth.get()});
    const image_t facets = render({flat.get()});

    int outside = 0, inside = 0, band = 0, shaded = 0, dark = 0;
    double smoothErr = 0, flatErr = 0;
    const dv o{0, 0, 0};
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x) {
            const dv d = pixelDir(x, y);
            double mOut, mIn;
            const double tOut = sphereT(o, d, ballCentre, outer, mOut);
            const double tIn = sphereT(o, d, ballCentre, inner, mIn);
            const pixel_t& p = img.at(x, y);
            if (mOut < -1e-3) {
                ++outside;
                EXPECT_EQ(p.alpha, 0.0f) << x << "," << y;
                EXPECT_EQ(p.depth, -1.0f) << x << "," << y;
                EXPECT_EQ(facets.at(x, y).alpha, 0.0f) << x << "," << y;
                continue;
            }
            if (mIn <= 1e-3) {
                ++band;
                continue;
            }
            ++inside;
            ASSERT_EQ(p.alpha, 1.0f) << x << "," << y;
            EXPECT_EQ(facets.at(x, y).alpha, 1.0f) << x << "," << y;
            EXPECT_GE(p.depth, tOut * (1 - 1e-6)) << x << "," << y;
            EXPECT_LE(p.depth, tIn * (1 + 1e-6)) << x << "," << y;
            // Shading against the true sphere's Lambert term at the hit.
            const dv hitP = static_cast<double>(p.depth) * d;
            const dv n = unit(hitP - ballCentre);
            const double c = dot(n, unit(lampPos - hitP));
            if (std::fabs(c) < 0.15) continue; // terminator: facet shadows
            const color_t want = scaled(ballShader.diffuse, std::max(0.0, c));
            if (c < 0) {
                ++dark;
                EXPECT_TRUE(p.c.isBlack()) << x << "," << y;
                continue;
            }
            ++shaded;
            smoothErr += std::fabs(p.c.R - want.R);
            flatErr += std::fabs(facets.at(x, y).c.R - want.R);
            EXPECT_NEAR(p.c.R, want.R, 0.01) << x << "," << y;
            EXPECT_NEAR(p.c.G, want.G, 0.01) << x << "," << y;
            EXPECT_NEAR(p.c.B, want.B, 0.01) << x << "," << y;
        }
    EXPECT_GT(inside, 500);
    EXPECT_GT(outside, 1000);
    EXPECT_LT(band, inside / 4);
    EXPECT_GT(shaded, 200);
    EXPECT_GT(dark, 50);
    // Smoothing brings the shading much closer to the sphere's than facets.
    EXPECT_LT(smoothErr, flatErr / 3);
}

TEST_F(MeshRenderTest, MatrixPlacementRendersLikePreTransformedVertices) {
    auto floor = floorShape(floorY).mesh(&floorShader);
    const matrix4x4_t place = cubePlace.matrix(), elsewhere = placement_t{-60, 10, {3, -2, 7}}.matrix();
    auto byMatrix = cube().mesh(&meshShader, &place);
    expectLikeCube({byMatrix.get(), floor.get()});
    // A second transform replaces the first placement, it does not compose.
    auto moved = cube().mesh(&meshShader, &elsewhere);
    moved->transform(place);
    expectLikeCube({moved.get(), floor.get()});

    // Smooth normals follow the matrix: smoothing in object space and then
    // placing equals smoothing the pre-transformed vertices.
    auto ballByMatrix = ball.mesh(&ballShader);
    ballByMatrix->autoSmooth(60);
    ballByMatrix->transform(ballPlace.matrix());
    expectLikeBall(ballByMatrix.get());
}

TEST_F(MeshRenderTest, InstanceShowsTheSameAsTheMeshPlacedDirectly) {
    auto floor = floorShape(floorY).mesh(&floorShader);
    auto original = cube().mesh(&meshShader); // object space, not in the scene
    std::unique_ptr<referenceObject_t> inst(referenceObject_t::factory(cubePlace.matrix(), original.get()));
    expectLikeCube({inst.get(), floor.get()}); // the instance also casts the cube's shadow
    // An instance of the floor too, its triangles tested as the instance's
    // own surface for shadows.
    std::unique_ptr<referenceObject_t> floorInst(referenceObject_t::factory(matrix4x4_t(1.0f), floor.get()));
    expectLikeCube({inst.get(), floorInst.get()});

    // A smoothed icosphere through an instance: normals carried back by the
    // instance's matrix shade like normals moved with the vertices.
    auto ballOriginal = ball.mesh(&ballShader);
    ballOriginal->autoSmooth(60);
    std::unique_ptr<referenceObject_t> ballInst(
        referenceObject_t::factory(ballPlace.matrix(), ballOriginal.get()));
    expectLikeBall(ballInst.get());
}

// The rays of the Embree peer program (the benchmark's embree/raycast.cpp),
// cast through vexlar's own mesh code, so the two throughputs compare like
// for like.
//
// Loads a triangle OBJ, places it in the world (0.4 * p + (0, 0.00126, 0),
// computed in double precision and rounded to float, as the peer does), and
// builds it as one mesh and the 10 x 10 ground square (two triangles at
// y = 0) as another, as the renderer holds the benchmark scene, with the
// object tree over both (the build time covers the array copies, the
// partition trees and the object tree). Then on this one thread
//   * traces the 640 x 480 primary rays of the "bunny" camera through the
//     pixel centres: the object tree's walk, meshObject_t::shoot and the
//     nearest hit with its surface point, as the renderer finds hits,
//   * traces one shadow ray per hit whose viewer-facing normal faces the
//     light ("lit-facing hits"), from the hit moved 1e-4 along that normal
//     towards the light, limited to the light (the walk and shoot with
//     shadow = true, stopping at the first blocker).
// Every repetition builds a new mesh; times are medians of the repetitions.
// The output has the lines of the peer program that bench/compare.sh reads.
//
// usage: vexlar_raycast file.obj [--reps N] [--clock wall|cpu] [--ppm out.ppm]
#include "vexlarcore/geometree.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <limits>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace vexlar;

namespace {

struct v3_t {
    double x, y, z;
};
v3_t operator+(v3_t a, v3_t b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
v3_t operator-(v3_t a, v3_t b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
v3_t operator*(double s, v3_t a) {
    return {s * a.x, s * a.y, s * a.z};
}
double dot(v3_t a, v3_t b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
v3_t cross(v3_t a, v3_t b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
v3_t normalized(v3_t a) {
    return (1.0 / std::sqrt(dot(a, a))) * a;
}

// The scene "bunny" of the benchmark (right-handed, y up).
const double scale = 0.4;
const v3_t translate = {0.0, 0.00126, 0.0};
const v3_t eye = {2, 5, 11}, lookAt = {0, 1.5, 0}, worldUp = {0, 1, 0};
const double hfovDeg = 40.0;
const v3_t lightPos = {-4, 9, 6};
const int width = 640, height = 480;
const double albedoBunny = 0.7, albedoGround = 0.8;
const float infinity = std::numeric_limits<float>::infinity();

// "v" and "f" lines (face corners "i", "i/t", "i//n", "i/t/n"; negative
// indices count from the end; polygons become fans).
bool loadObj(const char* path, std::vector<point3d_t>& points, std::vector<int>& indices) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 2) continue;
        if (line[0] == 'v' && line[1] == ' ') {
            double p[3];
            if (std::sscanf(line.c_str() + 2, "%lf %lf %lf", &p[0], &p[1], &p[2]) != 3) return false;
            points.emplace_back(static_cast<float>(scale * p[0] + translate.x),
                                static_cast<float>(scale * p[1] + translate.y),
                                static_cast<float>(scale * p[2] + translate.z));
        } else if (line[0] == 'f' && line[1] == ' ') {
            std::istringstream ss(line.substr(2));
            std::string tok;
            std::vector<long> f;
            while (ss >> tok) {
                long i = std::strtol(tok.c_str(), nullptr, 10);
                i = i > 0 ? i - 1 : static_cast<long>(points.size()) + i;
                if (i < 0 || static_cast<std::size_t>(i) >= points.size()) return false;
                f.push_back(i);
            }
            for (std::size_t k = 1; k + 1 < f.size(); ++k) {
                indices.push_back(static_cast<int>(f[0]));
                indices.push_back(static_cast<int>(f[k]));
                indices.push_back(static_cast<int>(f[k + 1]));
            }
        }
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

void report(const char* name, const std::vector<double>& v, const char* unit) {
    std::printf("%-28s median %10.3f  min %10.3f  max %10.3f  %s\n", name, median(v),
                *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()), unit);
}

// A flat mesh as the renderer builds one: the arrays handed over, the
// compact tree only.
meshObject_t* buildMesh(const std::vector<point3d_t>& points, const std::vector<int>& indices) {
    meshArrays_t a;
    a.points = points;
    a.triangles.reserve(indices.size() / 3);
    for (std::size_t i = 0; i + 2 < indices.size(); i += 3)
        a.triangles.emplace_back(&a.points[static_cast<std::size_t>(indices[i])],
                                 &a.points[static_cast<std::size_t>(indices[i + 1])],
                                 &a.points[static_cast<std::size_t>(indices[i + 2])]);
    return new meshObject_t(std::move(a), nullptr, meshOptions_t());
}

// The bunny, the ground and the object tree over both.
struct world_t {
    std::unique_ptr<meshObject_t> bunny, ground;
    std::unique_ptr<geomeTree_t<object3d_t>> tree;

    world_t(const std::vector<point3d_t>& points, const std::vector<int>& indices) {
        bunny.reset(buildMesh(points, indices));
        const std::vector<point3d_t> g = {point3d_t(-5, 0, -5), point3d_t(-5, 0, 5), point3d_t(5, 0, 5),
                                          point3d_t(5, 0, -5)};
        ground.reset(buildMesh(g, {0, 1, 2, 0, 2, 3}));
        std::list<object3d_t*> objects{ground.get(), bunny.get()};
        std::streambuf* saved = std::cout.rdbuf(nullptr); // the tree's object count line
        tree.reset(buildObjectTree(objects));
        std::cout.rdbuf(saved);
    }

    // The nearest hit along the ray, as the renderer searches it.
    __attribute__((noinline)) bool nearest(renderState_t& state, surfacePoint_t& best, const point3d_t& from,
                                           const vector3d_t& ray) const {
        surfacePoint_t sp;
        bool found = false;
        for (geomeIterator_t<object3d_t> it(tree.get(), infinity, from, ray, false); it.current; ++it) {
            if (!it.current->shoot(state, sp, from, ray, false, found ? best.depth : -1.0f)) continue;
            if (!(sp.depth > 0.0f)) continue;
            if (sp.depth < it.dist) it.dist = sp.depth;
            if (!found || sp.depth < best.depth) {
                best = sp;
                found = true;
            }
        }
        return found;
    }

    // Whether anything blocks the ray within `dist` multiples of it.
    __attribute__((noinline)) bool blocked(renderState_t& state, const point3d_t& from, const vector3d_t& ray,
                                           float dist) const {
        surfacePoint_t scratch;
        for (geomeIterator_t<object3d_t> it(tree.get(), dist, from, ray, false); it.current; ++it)
            if (it.current->shoot(state, scratch, from, ray, true, dist)) return true;
        return false;
    }
};

// Wall-clock time, or with --clock cpu this thread's processor time (steadier
// on a machine shared with other work, but not what the peer measures).
bool cpuClock = false;

double now() {
    if (cpuClock) {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double secondsSince(double t0) {
    return now() - t0;
}

struct shadowRay_t {
    point3d_t from;
    vector3d_t dir;
    std::size_t pixel;
};

} // namespace

int main(int argc, char** argv) {
    const char* objPath = nullptr;
    const char* ppmPath = nullptr;
    int reps = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc)
            reps = std::atoi(argv[++i]);
        else if (a == "--clock" && i + 1 < argc)
            cpuClock = std::string(argv[++i]) == "cpu";
        else if (a == "--ppm" && i + 1 < argc)
            ppmPath = argv[++i];
        else if (!objPath && a[0] != '-')
            objPath = argv[i];
        else {
            std::fprintf(stderr, "bad argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!objPath || reps < 1) {
        std::fprintf(stderr, "usage: %s file.obj [--reps N] [--clock wall|cpu] [--ppm out.ppm]\n", argv[0]);
        return 2;
    }
    std::vector<point3d_t> points;
    std::vector<int> indices;
    if (!loadObj(objPath, points, indices) || indices.empty()) {
        std::fprintf(stderr, "cannot load %s\n", objPath);
        return 1;
    }
    const std::size_t meshTris = indices.size() / 3;
    std::printf("vexlar meshes and object tree, one thread\n");
    std::printf("%s: %zu mesh triangles + 2 ground = %zu triangles, %zu vertices\n", objPath, meshTris,
                meshTris + 2, points.size() + 4);
    std::printf("camera %dx%d, rays through pixel centres\n", width, height);

    const v3_t fwd = normalized(lookAt - eye);
    const v3_t right = normalized(cross(fwd, worldUp));
    const v3_t up = cross(right, fwd);
    const double tx = std::tan(0.5 * hfovDeg * M_PI / 180.0), ty = tx * height / width;
    const std::size_t n = static_cast<std::size_t>(width) * height;
    std::vector<vector3d_t> dirs(n);
    for (int py = 0; py < height; ++py)
        for (int px = 0; px < width; ++px) {
            const double sx = (2.0 * (px + 0.5) / width - 1.0) * tx,
                         sy = (1.0 - 2.0 * (py + 0.5) / height) * ty;
            const v3_t d = fwd + sx * right + sy * up;
            dirs[static_cast<std::size_t>(py) * width + px] =
                vector3d_t(static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z));
        }
    const point3d_t from(static_cast<float>(eye.x), static_cast<float>(eye.y), static_cast<float>(eye.z));

    std::vector<double> tBuild, rPrim, rShadow;
    std::vector<float> shade(n, 0.0f);
    std::vector<shadowRay_t> shadows;
    std::vector<const void*> hitTri(n);
    std::vector<float> hitT(n);
    std::size_t hits = 0, hitsMesh = 0, occluded = 0;
    double refsPrimary = 0, refsShadow = 0;
    renderState_t state;
    for (int rep = 0; rep < reps; ++rep) {
        double t0 = now();
        std::unique_ptr<world_t> world(new world_t(points, indices));
        tBuild.push_back(1000.0 * secondsSince(t0));

        surfacePoint_t sp;
        std::uint32_t refs0 = hitted;
        t0 = now();
        for (std::size_t i = 0; i < n; ++i) {
            if (world->nearest(state, sp, from, dirs[i])) {
                hitTri[i] = sp.origin;
                hitT[i] = sp.depth;
            } else {
                hitTri[i] = nullptr;
            }
        }
        rPrim.push_back(static_cast<double>(n) / secondsSince(t0) / 1e6);
        refsPrimary = static_cast<double>(hitted - refs0) / static_cast<double>(n);

        // Shadow rays, made untimed from the hits as the peer program does.
        shadows.clear();
        hits = hitsMesh = 0;
        std::fill(shade.begin(), shade.end(), 0.0f);
        const triangle_t* first = world->bunny->triangles.data();
        for (std::size_t i = 0; i < n; ++i) {
            if (!hitTri[i]) continue;
            ++hits;
            const triangle_t* tri = static_cast<const triangle_t*>(hitTri[i]);
            const bool onMesh = static_cast<std::size_t>(tri - first) < meshTris;
            hitsMesh += onMesh;
            const v3_t o = {from.x, from.y, from.z}, d = {dirs[i].x, dirs[i].y, dirs[i].z};
            const v3_t p = o + static_cast<double>(hitT[i]) * d;
            v3_t nn = normalized(v3_t{tri->N.x, tri->N.y, tri->N.z});
            if (dot(nn, d) > 0) nn = -1.0 * nn;
            const v3_t org = p + 1e-4 * nn;
            const v3_t toL = lightPos - org;
            const double cosL = dot(nn, normalized(toL));
            if (cosL <= 0) continue;
            shadows.push_back(shadowRay_t{
                point3d_t(static_cast<float>(org.x), static_cast<float>(org.y), static_cast<float>(org.z)),
                vector3d_t(static_cast<float>(toL.x), static_cast<float>(toL.y), static_cast<float>(toL.z)),
                i});
            shade[i] = static_cast<float>((onMesh ? albedoBunny : albedoGround) * cosL);
        }
        refs0 = hitted;
        std::vector<unsigned char> blocked(shadows.size());
        t0 = now();
        for (std::size_t k = 0; k < shadows.size(); ++k)
            blocked[k] = world->blocked(state, shadows[k].from, shadows[k].dir, 1.0f);
        rShadow.push_back(static_cast<double>(shadows.size()) / secondsSince(t0) / 1e6);
        refsShadow = static_cast<double>(hitted - refs0) /
                     static_cast<double>(std::max<std::size_t>(1, shadows.size()));
        occluded = 0;
        for (std::size_t k = 0; k < shadows.size(); ++k)
            if (blocked[k]) {
                ++occluded;
                shade[shadows[k].pixel] = 0.0f;
            }
        world.reset(); // untimed, as the peer releases its scene untimed
    }

    std::printf("hits: %zu of %zu pixels (%.2f%%), mesh %zu (%.2f%%), ground %zu\n", hits, n,
                100.0 * hits / n, hitsMesh, 100.0 * hitsMesh / n, hits - hitsMesh);
    std::printf("shadow rays, lit-facing hits: %zu, occluded %zu (%.2f%%)\n", shadows.size(), occluded,
                100.0 * occluded / std::max<std::size_t>(1, shadows.size()));
    std::printf("triangle references met per ray: primary %.1f, shadow %.1f\n", refsPrimary, refsShadow);
    report("build [ms]", tBuild, "ms");
    report("primary [Mrays/s]", rPrim, "Mrays/s");
    report("shadow lit-facing [Mrays/s]", rShadow, "Mrays/s");

    if (ppmPath) {
        FILE* f = std::fopen(ppmPath, "wb");
        if (!f) {
            std::fprintf(stderr, "cannot write %s\n", ppmPath);
            return 1;
        }
        std::fprintf(f, "P6\n%d %d\n255\n", width, height);
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c =
                static_cast<unsigned char>(std::lround(std::min(1.0f, shade[i]) * 255.0f));
            const unsigned char rgb[3] = {c, c, c};
            std::fwrite(rgb, 1, 3, f);
        }
        std::fclose(f);
    }
    return 0;
}

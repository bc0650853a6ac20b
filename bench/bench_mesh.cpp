// Mesh partition tree: build time and primary-ray throughput.
//
// The model is the Stanford bunny (Stanford 3D Scanning Repository), read
// from scenes/bunny.obj (3,674 triangles) and refined by midpoint
// subdivision, each triangle split into four: two rounds give about 60,000
// triangles, three about 240,000. Rays: one per pixel of a 640 x 480 pinhole
// view of the model's bounding box, traced through meshObject_t::shoot.
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

using namespace vexlar;

namespace {

struct indexedMesh_t {
    std::vector<point3d_t> points;
    std::vector<int> indices; // three per triangle
};

// A minimal OBJ reader: 'v x y z' and 'f a b c ...' lines (only the vertex
// index of "a/t/n" is used; negative indices count from the end; polygons
// are fanned into triangles). Everything else is ignored.
bool readObj(const std::string& path, indexedMesh_t& out) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string tag;
        ls >> tag;
        if (tag == "v") {
            float x, y, z;
            if (ls >> x >> y >> z) out.points.push_back(point3d_t(x, y, z));
        } else if (tag == "f") {
            std::vector<int> face;
            std::string tok;
            while (ls >> tok) {
                const int i = std::atoi(tok.c_str());
                if (i == 0) return false;
                face.push_back(i > 0 ? i - 1 : static_cast<int>(out.points.size()) + i);
            }
            for (std::size_t k = 2; k < face.size(); ++k) {
                out.indices.push_back(face[0]);
                out.indices.push_back(face[k - 1]);
                out.indices.push_back(face[k]);
            }
        }
    }
    for (int i : out.indices)
        if (i < 0 || i >= static_cast<int>(out.points.size())) return false;
    return !out.indices.empty();
}

// One round of midpoint subdivision; edge midpoints are shared.
indexedMesh_t subdivide(const indexedMesh_t& m) {
    indexedMesh_t out;
    out.points = m.points;
    std::unordered_map<std::uint64_t, int> mids;
    auto midpoint = [&](int a, int b) {
        const std::uint64_t key = (static_cast<std::uint64_t>(std::min(a, b)) << 32) | std::max(a, b);
        auto it = mids.find(key);
        if (it != mids.end()) return it->second;
        const point3d_t& p = out.points[a];
        const point3d_t& q = out.points[b];
        out.points.push_back(point3d_t((p.x + q.x) * 0.5f, (p.y + q.y) * 0.5f, (p.z + q.z) * 0.5f));
        const int idx = static_cast<int>(out.points.size()) - 1;
        mids.emplace(key, idx);
        return idx;
    };
    for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3) {
        const int a = m.indices[t], b = m.indices[t + 1], c = m.indices[t + 2];
        const int ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
        const int tris[4][3] = {{a, ab, ca}, {ab, b, bc}, {ca, bc, c}, {ab, bc, ca}};
        for (const auto& tri : tris) out.indices.insert(out.indices.end(), tri, tri + 3);
    }
    return out;
}

const indexedMesh_t* bunny(int rounds) {
    static std::map<int, indexedMesh_t> cache;
    auto it = cache.find(rounds);
    if (it != cache.end()) return &it->second;
    indexedMesh_t m;
    if (!readObj(std::string(VEXLAR_SOURCE_DIR) + "/scenes/bunny.obj", m)) return nullptr;
    for (int r = 0; r < rounds; ++r) m = subdivide(m);
    return &cache.emplace(rounds, std::move(m)).first->second;
}

meshObject_t* makeMesh(const indexedMesh_t& m) {
    std::vector<point3d_t> pts = m.points;
    std::vector<triangle_t> ts;
    ts.reserve(m.indices.size() / 3);
    for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3)
        ts.emplace_back(&pts[m.indices[t]], &pts[m.indices[t + 1]], &pts[m.indices[t + 2]]);
    return meshObject_t::factory(pts, {}, ts, {}, {});
}

const int width = 640, height = 480;

// Primary rays of a pinhole camera in front of the box, looking at its
// centre with a 45 degree vertical field of view, close enough that the model
// fills a good part of the view.
void cameraRays(const bound_t& box, point3d_t& eye, std::vector<vector3d_t>& dirs) {
    const point3d_t c((box.a.x + box.g.x) / 2, (box.a.y + box.g.y) / 2, (box.a.z + box.g.z) / 2);
    const float radius = (box.g - box.a).length() / 2;
    vector3d_t back(0.3f, 0.4f, 1.0f);
    back.normalize();
    const float tanHalf = std::tan(0.5f * 45.0f * 3.14159265f / 180.0f);
    eye = c + back * (radius / tanHalf * 0.8f);
    const vector3d_t forward = -back;
    vector3d_t right = forward ^ vector3d_t(0, 1, 0);
    right.normalize();
    const vector3d_t up = right ^ forward;
    const float aspect = static_cast<float>(width) / height;
    dirs.clear();
    dirs.reserve(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float sx = (2.0f * (x + 0.5f) / width - 1.0f) * tanHalf * aspect;
            const float sy = (1.0f - 2.0f * (y + 0.5f) / height) * tanHalf;
            vector3d_t d = forward + right * sx + up * sy;
            d.normalize();
            dirs.push_back(d);
        }
    }
}

double threadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Mesh construction, which copies the arrays and builds the tree; the
// meshes are destroyed only after the timed loop. `build_s` is the thread's
// CPU time per build (the machine may be shared, so wall time is noisier).
void BM_BuildTree(benchmark::State& state) {
    const indexedMesh_t* m = bunny(static_cast<int>(state.range(0)));
    if (!m) {
        state.SkipWithError("cannot read scenes/bunny.obj");
        return;
    }
    std::vector<std::unique_ptr<meshObject_t>> built;
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        built.emplace_back(makeMesh(*m));
        seconds += threadSeconds() - t0;
        benchmark::DoNotOptimize(built.back()->tree);
    }
    state.counters["triangles"] = static_cast<double>(m->indices.size() / 3);
    state.counters["build_s"] = seconds / static_cast<double>(state.iterations());
    state.counters["avgLeafDepth"] = foo1;
    state.counters["avgLeafSize"] = foo2;
    built.clear(); // after the loop: not timed
}

void BM_PrimaryRays(benchmark::State& state) {
    const indexedMesh_t* m = bunny(static_cast<int>(state.range(0)));
    if (!m) {
        state.SkipWithError("cannot read scenes/bunny.obj");
        return;
    }
    std::unique_ptr<meshObject_t> mesh(makeMesh(*m));
    point3d_t eye;
    std::vector<vector3d_t> dirs;
    cameraRays(mesh->getBound(), eye, dirs);
    renderState_t rs;
    surfacePoint_t sp;
    std::int64_t hits = 0;
    const std::uint32_t rays0 = rays, hitted0 = hitted;
    for (auto _ : state) {
        hits = 0;
        for (const vector3d_t& d : dirs) hits += mesh->shoot(rs, sp, eye, d, false, -1) ? 1 : 0;
        benchmark::DoNotOptimize(hits);
    }
    state.counters["triangles"] = static_cast<double>(mesh->triangles.size());
    state.counters["hit_fraction"] = static_cast<double>(hits) / dirs.size();
    // Triangle references met per ray (the counters wrap at 2^32; the
    // difference stays right as long as one run meets fewer).
    state.counters["tests_per_ray"] = static_cast<double>(static_cast<std::uint32_t>(hitted - hitted0)) /
                                      static_cast<std::uint32_t>(rays - rays0);
    state.counters["Mrays_per_s"] = benchmark::Counter(
        static_cast<double>(dirs.size()) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_BuildTree)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PrimaryRays)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();

// Mesh partition tree: build time and primary-ray throughput.
//
// The model is the Stanford bunny of bunny_mesh.h, after two rounds of
// subdivision (about 60,000 triangles) and three (about 240,000). Rays: one
// per pixel of a 640 x 480 pinhole view of the model's bounding box, traced
// through meshObject_t::shoot.
#include "bunny_mesh.h"

#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

using namespace vexlar;
using bench::bunny;
using bench::indexedMesh_t;
using bench::makeMesh;

namespace {

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

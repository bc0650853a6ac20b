// Microbenchmarks of the hot kernels: the triangle side test, the box slab
// test, sphere shoot, Perlin noise and turbulence, and TGA write and read.
// Each works on a fixed table of inputs made once, so only the kernel is
// timed.
#include "vexlarcore/bound.h"
#include "vexlarcore/noise.h"
#include "vexlarcore/output.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/sphere.h"
#include "vexlarcore/targa.h"
#include "vexlarcore/triangle.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vexlar;

namespace {

struct rays_t {
    std::vector<point3d_t> from;
    std::vector<vector3d_t> dir;
};

// Rays from a shell of radius 4 towards points in the unit cube.
const rays_t& rays() {
    static const rays_t r = [] {
        rays_t t;
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (int i = 0; i < 4096; ++i) {
            const point3d_t f(4 * u(rng), 4 * u(rng), 4);
            t.from.push_back(f);
            t.dir.push_back(point3d_t(u(rng), u(rng), u(rng)) - f);
        }
        return t;
    }();
    return r;
}

void BM_TriangleHit(benchmark::State& state) {
    point3d_t a(-1, -1, 0), b(1, -1, 0.2f), c(0, 1, -0.1f);
    triangle_t t(&a, &b, &c);
    const rays_t& r = rays();
    std::size_t i = 0, hits = 0;
    for (auto _ : state) {
        hits += t.hit(r.from[i], r.dir[i]);
        i = (i + 1) & 4095;
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations());
}

void BM_BoxSlab(benchmark::State& state) {
    const bound_t box(point3d_t(-0.5f, -0.5f, -0.5f), point3d_t(0.5f, 0.5f, 0.5f));
    const rays_t& r = rays();
    std::size_t i = 0, hits = 0;
    for (auto _ : state) {
        hits += box.cross(r.from[i], r.dir[i], 10.0f);
        i = (i + 1) & 4095;
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations());
}

void BM_SphereShoot(benchmark::State& state) {
    sphere_t s(point3d_t(0, 0, 0), 0.7f);
    const rays_t& r = rays();
    renderState_t rs;
    surfacePoint_t sp;
    std::size_t i = 0, hits = 0;
    const bool shadow = state.range(0) != 0;
    for (auto _ : state) {
        hits += s.shoot(rs, sp, r.from[i], r.dir[i], shadow, -1);
        i = (i + 1) & 4095;
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations());
}

void BM_PerlinNoise(benchmark::State& state) {
    newPerlin_t perlin;
    const rays_t& r = rays();
    std::size_t i = 0;
    float sum = 0;
    const int octaves = static_cast<int>(state.range(0));
    for (auto _ : state) {
        sum +=
            octaves == 0 ? perlin.noise(r.from[i] + r.dir[i]) : perlin.turbulence(r.from[i], octaves, false);
        i = (i + 1) & 4095;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}

// A 512 x 512 picture written as TGA and read back.
void BM_TargaWriteRead(benchmark::State& state) {
    const std::string path = "/tmp/vexlar_bench_" + std::to_string(::getpid()) + ".tga";
    for (auto _ : state) {
        {
            outTga_t out(512, 512, path.c_str(), true);
            for (int y = 0; y < 512; ++y)
                for (int x = 0; x < 512; ++x)
                    out.putPixel(x, y, color_t(x / 512.0f, y / 512.0f, 0.5f), 1.0f, 1.0f);
            out.flush();
        }
        targaImg_t img;
        benchmark::DoNotOptimize(img.Load(path.c_str()));
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}

} // namespace

BENCHMARK(BM_TriangleHit);
BENCHMARK(BM_BoxSlab);
BENCHMARK(BM_SphereShoot)->Arg(0)->Arg(1);
BENCHMARK(BM_PerlinNoise)->Arg(0)->Arg(4);
BENCHMARK(BM_TargaWriteRead)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

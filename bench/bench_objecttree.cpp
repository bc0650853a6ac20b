// Cost of building the object tree as the object count grows. Every push
// measures the new node against every waiting node, so the build is
// expected to grow roughly with the square of the object count.
#include "vexlarcore/geometree.h"

#include "../tests/boxobject.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

using namespace vexlar;

namespace {

// Boxes of the two benchmark layouts: range(1) 0 scatters boxes of mixed
// sizes at random in a cube, 1 lays spheres of radius 0.4 on a square grid
// one unit apart (the layout of the "spheres" scene, grown).
void makeBoxes(int n, int layout, std::vector<std::unique_ptr<boxObject_t>>& owned,
               std::list<object3d_t*>& objects) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> pos(-100, 100), size(0.5f, 5);
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
    for (int i = 0; i < n; ++i) {
        bound_t b;
        if (layout == 0) {
            point3d_t a(pos(rng), pos(rng), pos(rng));
            b = bound_t(a, point3d_t(a.x + size(rng), a.y + size(rng), a.z + size(rng)));
        } else {
            const point3d_t c(static_cast<float>(i % side), 0.4f, static_cast<float>(i / side));
            b = bound_t(point3d_t(c.x - 0.4f, c.y - 0.4f, c.z - 0.4f),
                        point3d_t(c.x + 0.4f, c.y + 0.4f, c.z + 0.4f));
        }
        owned.emplace_back(new boxObject_t(b));
        objects.push_back(owned.back().get());
    }
}

void BM_buildObjectTree(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<boxObject_t>> owned;
    std::list<object3d_t*> objects;
    makeBoxes(n, static_cast<int>(state.range(1)), owned, objects);
    // Silence the per-build object count line while timing.
    std::ostringstream sink;
    std::streambuf* saved = std::cout.rdbuf(sink.rdbuf());
    for (auto _ : state) {
        geomeTree_t<object3d_t>* root = buildObjectTree(objects);
        benchmark::DoNotOptimize(root);
        state.PauseTiming();
        delete root;
        sink.str("");
        state.ResumeTiming();
    }
    std::cout.rdbuf(saved);
}

} // namespace

BENCHMARK(BM_buildObjectTree)
    ->ArgsProduct({{100, 1000, 4000, 10000, 20000}, {0, 1}})
    ->ArgNames({"objects", "grid"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();

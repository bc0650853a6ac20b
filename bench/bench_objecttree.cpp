// Cost of building the object tree as the object count grows. Every push
// measures the new node against every waiting node, so the build is
// expected to grow roughly with the square of the object count.
#include "vexlarcore/geometree.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

using namespace vexlar;

namespace {

class boxObject_t : public object3d_t {
public:
    explicit boxObject_t(const bound_t& b) : box(b) {}
    int type() const override { return 99; }
    void transform(const matrix4x4_t&) override {}
    point3d_t toObject(const point3d_t& p) const override { return p; }
    vector3d_t toObjectRot(const vector3d_t& v) const override { return v; }
    point3d_t toObjectOrco(const point3d_t& p) const override { return p; }
    bool shoot(renderState_t&, surfacePoint_t&, const point3d_t&, const vector3d_t&, bool,
               float) const override {
        return false;
    }
    bound_t getBound() const override { return box; }
    bound_t box;
};

void BM_buildObjectTree(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> pos(-100, 100), size(0.5f, 5);
    std::vector<std::unique_ptr<boxObject_t>> owned;
    std::list<object3d_t*> objects;
    for (int i = 0; i < n; ++i) {
        point3d_t a(pos(rng), pos(rng), pos(rng));
        owned.emplace_back(
            new boxObject_t(bound_t(a, point3d_t(a.x + size(rng), a.y + size(rng), a.z + size(rng)))));
        objects.push_back(owned.back().get());
    }
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
    state.SetComplexityN(n);
}

} // namespace

BENCHMARK(BM_buildObjectTree)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->Complexity();

BENCHMARK_MAIN();

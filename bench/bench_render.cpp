// Whole renders of a mesh scene: the in-process driver (scene_t::render) and
// the process-parallel driver (forkedscene_t) with 1 and 2 workers.
//
// Scene: the Stanford bunny (Stanford 3D Scanning Repository) refined to
// 58,784 triangles (bunny_mesh.h) standing on a two-triangle floor, lit by
// one point light with shadows, Lambert shading, 640 x 480 pixels with one
// adaptive anti-aliasing pass of 4 samples.
//
// Times are wall-clock (the work happens in child processes, whose CPU time
// the benchmark library does not see). Counters:
//   speedup        best 1-worker time / best 2-worker time (2-worker runs);
//                  speedup_median and speedup_worst divide by the median and
//                  the slowest render instead
// BM_RenderForked renders every image in one block order (that of rand()
// seeded with 1); BM_RenderForkedOrders renders 16 different orders, since
// the 2-worker time depends on how the shuffled blocks fall to the workers.
//   parent_cpu_s   CPU time of this process per render
//   children_cpu_s CPU time of the reaped workers per render
//   best_s         the shortest render; best_others_cpu_s the CPU time other
//                  processes took on the machine during it (from /proc/stat,
//                  10 ms resolution): near 0 means the figure is clean
//   load1          one-minute load average when the run ended
//   covered, unlit fractions of pixels showing an object, and showing one
//                  in shadow or turned away from the light
// BM_BlockBalance renders every block once in this process, timing each with
// the thread's CPU clock, and reports how evenly the blocks split between two
// workers: `static_bound` is the speed-up the 2-worker interleave (worker k
// renders blocks k, k + 2, ...) allows at best, averaged over 200 block
// orders (`static_worst` the worst, `static_below_1.8` the share of orders
// that cannot reach 1.8, `static_seed1` the order the renders above use),
// `dynamic_bound` and `dynamic_worst` what handing the next block to
// whichever worker is free would allow.
#include "bunny_mesh.h"

#include "../tests/scene_fixtures.h"

#include "vexlarcore/forkedscene.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderarea.h"
#include "vexlarcore/scene.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <numeric>
#include <streambuf>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace vexlar;

namespace {

constexpr int width = 640, height = 480;

// Accepts every pixel.
class nullOutput_t : public colorOutput_t {
public:
    bool putPixel(int, int, const color_t& c, float alpha, float) override {
        ++pixels;
        covered += alpha > 0;
        dark += alpha > 0 && c.isBlack();
        return true;
    }
    bool flush() override { return true; }
    long pixels = 0, covered = 0, dark = 0;
};

// Swallows the progress lines while a render runs.
class quiet_t {
    struct nullBuf_t : std::streambuf {
        int overflow(int c) override { return c; }
    };

public:
    quiet_t() : out(std::cout.rdbuf(&sink)), err(std::cerr.rdbuf(&sink)) {}
    ~quiet_t() {
        std::cout.rdbuf(out);
        std::cerr.rdbuf(err);
    }

private:
    nullBuf_t sink;
    std::streambuf* out;
    std::streambuf* err;
};

// Everything a render needs, built once per benchmark.
struct bunnyScene_t {
    std::unique_ptr<meshObject_t> bunny, floor;
    fixtures::lambertShader_t bunnyShader{color_t(0.8f, 0.75f, 0.7f)};
    fixtures::lambertShader_t floorShader{color_t(0.5f, 0.6f, 0.5f)};
    fixtures::pointLight_t lamp{point3d_t(10, 20, 12), color_t(1.0f)};
    fixtures::constantBackground_t sky{color_t(0.2f, 0.3f, 0.5f)};
    camera_t camera{point3d_t(6, 8, 16), point3d_t(0, 4.5f, 0), point3d_t(6, 9, 16), width, height, 1.0f};

    bool build() {
        const bench::indexedMesh_t* m = bench::bunny(2);
        if (!m) return false;
        bunny.reset(bench::makeMesh(*m));
        bunny->autoSmooth(60);
        bunny->setShader(&bunnyShader);
        bench::indexedMesh_t ground;
        ground.points = {point3d_t(-40, -0.01f, -40), point3d_t(40, -0.01f, -40), point3d_t(40, -0.01f, 40),
                         point3d_t(-40, -0.01f, 40)};
        ground.indices = {0, 2, 1, 0, 3, 2};
        floor.reset(bench::makeMesh(ground));
        floor->setShader(&floorShader);
        return true;
    }
    void fill(scene_t& s) {
        s.addObject(bunny.get());
        s.addObject(floor.get());
        s.addLight(&lamp);
        s.setBackground(&sky);
        quiet_t q;
        s.setCamera(&camera);
        s.setAntialiasing(1, 4, 1.0f, 0.05f);
    }
    std::size_t triangles() const { return bunny->triangles.size() + floor->triangles.size(); }
};

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}
double cpuSeconds(int who) {
    rusage u;
    getrusage(who, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}
// CPU seconds spent by the whole machine (every core, every process) since
// boot, from /proc/stat; -1 where it cannot be read.
double machineBusySeconds() {
    std::FILE* f = std::fopen("/proc/stat", "r");
    if (!f) return -1;
    unsigned long long v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    const int n = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                              &v[4], &v[5], &v[6], &v[7]);
    std::fclose(f);
    if (n < 8) return -1;
    // user, nice, system, (idle, iowait skipped), irq, softirq, steal
    const unsigned long long busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
    return static_cast<double>(busy) / static_cast<double>(sysconf(_SC_CLK_TCK));
}
double load1() {
    double l[1] = {0};
    return getloadavg(l, 1) == 1 ? l[0] : -1;
}

// Best wall time per render, by worker count (0: in-process driver).
std::map<int, double> bestSeconds;

// Renders the scene once per iteration. With `varyOrder` false every render
// uses the block order of seed 1 (what a host that does not seed rand() gets
// for its first image); with it true iteration i uses seed i + 1, so the
// renders sample the spread of block orders.
template <class scene_type>
void renderLoop(benchmark::State& state, scene_type& scene, int key, bool varyOrder = false) {
    bunnyScene_t world;
    if (!world.build()) {
        state.SkipWithError("cannot read bunny.obj");
        return;
    }
    world.fill(scene);
    nullOutput_t out;
    double best = 1e300, bestOthers = 0, parent = 0, children = 0;
    std::vector<double> walls;
    unsigned seed = 1;
    for (auto _ : state) {
        const double m0 = machineBusySeconds();
        const double p0 = cpuSeconds(RUSAGE_SELF), c0 = cpuSeconds(RUSAGE_CHILDREN);
        const auto t0 = std::chrono::steady_clock::now();
        {
            quiet_t q;
            std::srand(varyOrder ? seed++ : 1);
            scene.render(out);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double p = cpuSeconds(RUSAGE_SELF) - p0, c = cpuSeconds(RUSAGE_CHILDREN) - c0;
        const double others = std::max(0.0, machineBusySeconds() - m0 - p - c);
        if (wall < best) best = wall, bestOthers = m0 < 0 ? -1 : others;
        walls.push_back(wall);
        parent += p;
        children += c;
    }
    if (out.pixels != static_cast<long>(width) * height * static_cast<long>(state.iterations()))
        state.SkipWithError("the output did not receive every pixel once per render");
    const double n = static_cast<double>(state.iterations());
    std::sort(walls.begin(), walls.end());
    const double median = walls.empty() ? 0 : walls[walls.size() / 2];
    if (!varyOrder) bestSeconds[key] = best;
    state.counters["triangles"] = static_cast<double>(world.triangles());
    state.counters["best_s"] = best;
    state.counters["best_others_cpu_s"] = bestOthers;
    state.counters["parent_cpu_s"] = parent / n;
    state.counters["children_cpu_s"] = children / n;
    state.counters["load1"] = load1();
    state.counters["covered"] = static_cast<double>(out.covered) / static_cast<double>(out.pixels);
    state.counters["unlit"] = static_cast<double>(out.dark) / static_cast<double>(out.pixels);
    if (key > 1 && bestSeconds.count(1)) {
        state.counters["speedup"] = bestSeconds[1] / best;
        state.counters["speedup_median"] = bestSeconds[1] / median;
        state.counters["speedup_worst"] = bestSeconds[1] / walls.back();
    }
}

void BM_RenderInProcess(benchmark::State& state) {
    scene_t scene;
    renderLoop(state, scene, 0);
}

void BM_RenderForked(benchmark::State& state) {
    forkedscene_t scene;
    scene.setWorkers(static_cast<int>(state.range(0)));
    renderLoop(state, scene, static_cast<int>(state.range(0)));
}

void BM_RenderForkedOrders(benchmark::State& state) {
    forkedscene_t scene;
    scene.setWorkers(static_cast<int>(state.range(0)));
    renderLoop(state, scene, static_cast<int>(state.range(0)), true);
}

// Gives access to the per-block steps of the driver.
class blockScene_t : public scene_t {
public:
    using scene_t::buildTree;
    using scene_t::destroyTree;
    using scene_t::renderBlock;
};

double threadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void BM_BlockBalance(benchmark::State& state) {
    bunnyScene_t world;
    if (!world.build()) {
        state.SkipWithError("cannot read bunny.obj");
        return;
    }
    blockScene_t scene;
    world.fill(scene);
    std::map<std::pair<int, int>, double> cost; // by block position
    {
        quiet_t q;
        scene.buildTree();
        scene.setupLights();
    }
    for (auto _ : state) {
        std::srand(1);
        blockSpliter_t blocks(width, height, 64);
        renderArea_t area;
        nullOutput_t out;
        cost.clear();
        for (std::size_t i = 0; i < blocks.regions.size(); ++i) {
            const double t0 = threadSeconds();
            scene.renderBlock(blocks, i, area, out, false);
            cost[{area.realX, area.realY}] = threadSeconds() - t0;
        }
    }
    scene.destroyTree();
    double total = 0, largest = 0;
    for (const auto& c : cost) total += c.second, largest = std::max(largest, c.second);
    // Replay the driver's block orders for many seeds of rand().
    double sumStatic = 0, worstStatic = 1e300, sumDynamic = 0, worstDynamic = 1e300, seed1 = 0;
    int below = 0;
    const int orders = 200;
    for (int seed = 1; seed <= orders; ++seed) {
        std::srand(static_cast<unsigned>(seed));
        blockSpliter_t blocks(width, height, 64);
        const std::size_t n = blocks.regions.size();
        double share[2] = {0, 0}, freeAt[2] = {0, 0};
        for (std::size_t i = 0; i < n; ++i) {
            const blockSpliter_t::region_t& r = blocks.regions[n - 1 - i]; // the i-th block handed out
            const double c = cost[{r.realX, r.realY}];
            share[i % 2] += c;
            double& w = freeAt[freeAt[0] <= freeAt[1] ? 0 : 1];
            w += c;
        }
        const double s = total / std::max(share[0], share[1]);
        const double d = total / std::max(freeAt[0], freeAt[1]);
        if (seed == 1) seed1 = s;
        below += s < 1.8;
        sumStatic += s;
        worstStatic = std::min(worstStatic, s);
        sumDynamic += d;
        worstDynamic = std::min(worstDynamic, d);
    }
    state.counters["blocks"] = static_cast<double>(cost.size());
    state.counters["total_cpu_s"] = total;
    state.counters["largest_block_s"] = largest;
    state.counters["static_bound"] = sumStatic / orders;
    state.counters["static_worst"] = worstStatic;
    state.counters["static_seed1"] = seed1;
    state.counters["static_below_1.8"] = static_cast<double>(below) / orders;
    state.counters["dynamic_bound"] = sumDynamic / orders;
    state.counters["dynamic_worst"] = worstDynamic;
}

} // namespace

BENCHMARK(BM_RenderInProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RenderForked)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RenderForkedOrders)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(16);
BENCHMARK(BM_BlockBalance)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();

// The process-parallel driver: the same image and statistics for any number
// of workers, refused pixels, throwing outputs, no process or descriptor left
// behind, and idle workers taking over blocks. Faults in the workers
// themselves are injected by the worker fault tests.
#include "forkedfixtures.h"

#include <atomic>
#include <csignal>
#include <dirent.h>
#include <stdexcept>
#include <sys/mman.h>

using namespace vexlar;
using namespace fixtures;
using support::captured;
using support::contains;

namespace {

class throwingOutput_t : public recordingOutput_t {
public:
    bool putPixel(int x, int y, const color_t& c, float alpha, float depth) override {
        if (int(calls.size()) + 1 == throwAt) throw std::runtime_error("output failed");
        return recordingOutput_t::putPixel(x, y, c, alpha, depth);
    }
    int throwAt = 0;
};

int openDescriptors() {
    int count = 0;
    DIR* d = opendir("/proc/self/fd");
    while (d && readdir(d)) ++count;
    if (d) closedir(d);
    return count;
}

// The image, and the rays shot at meshes on the way (workers' counters
// included).
pixelMap_t renderWith(int workers, bool qmc, std::uint32_t* meshRays = nullptr) {
    forkedTestScene_t t(workers, qmc);
    recordingOutput_t out;
    const std::uint32_t before = vexlar::rays;
    t.render(out);
    if (meshRays) *meshRays = vexlar::rays - before;
    imageOf(out, 200, 150);
    return pixelsOf(out);
}

} // namespace

TEST(forkedScene, ImageAndStatisticsDoNotDependOnTheNumberOfWorkers) {
    for (bool qmc : {false, true}) {
        std::uint32_t rays1, rays2;
        const pixelMap_t one = renderWith(1, qmc, &rays1);
        EXPECT_EQ(renderWith(2, qmc, &rays2), one) << qmc;
        EXPECT_EQ(renderWith(3, qmc), one) << qmc;
        EXPECT_TRUE(rays1 > 10000 && rays2 == rays1) << rays1 << " " << rays2;
    }
    // Without depth of field nothing is random: exactly scene_t::render's image.
    forkedTestScene_t forked(3, false, nullptr, 0.0f), serial(1, false, nullptr, 0.0f);
    recordingOutput_t outForked, outPlain;
    EXPECT_TRUE(contains(forked.render(outForked), "\rRender pass: [##]\n")); // 12 blocks: '#' at the tenth
    scene_t plain(static_cast<const scene_t&>(serial.scene));
    srand(7);
    captured([&] { plain.render(outPlain); });
    ASSERT_EQ(outPlain.calls.size(), 200u * 150u);
    EXPECT_EQ(pixelsOf(outForked), pixelsOf(outPlain));
    EXPECT_TRUE(noChildLeft());
    forkedscene_t s;
    EXPECT_GE(s.getWorkers(), 1);
    s.setWorkers(-4);
    EXPECT_EQ(s.getWorkers(), 1);
    std::string err;
    captured([&] { s.render(outPlain); }, &err);
    EXPECT_TRUE(contains(err, "no camera"));
}

TEST(forkedScene, RefusedPixelOrThrowingOutputStopsEverything) {
    const int before = openDescriptors();
    forkedTestScene_t t(3);
    recordingOutput_t out;
    out.failAt = 5000;
    const std::string text = t.render(out);
    EXPECT_EQ(out.calls.size(), 5000u) << "no pixel after the refused one";
    EXPECT_TRUE(contains(text, "Aborted\n")) << text;
    EXPECT_TRUE(noChildLeft());
    EXPECT_EQ(openDescriptors(), before) << "pipes closed";
    forkedTestScene_t u(3);
    throwingOutput_t thrower;
    thrower.throwAt = 7000;
    EXPECT_THROW(u.render(thrower), std::runtime_error);
    EXPECT_EQ(thrower.calls.size(), 6999u);
    EXPECT_TRUE(noChildLeft()) << "workers killed and reaped on the way out";
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(u.scene.objectTree, nullptr);
}

namespace {

// Shading calls per worker, in memory shared across the fork. The first
// worker to shade is the slow one: it pauses now and then.
struct sharedTally_t {
    std::atomic<int> slowPid{0};
    std::atomic<long> slowCalls{0}, fastCalls{0};
};

class unevenShader_t : public lambertShader_t {
public:
    unevenShader_t(sharedTally_t* t) : lambertShader_t(color_t(0.5f)), tally(t), parent(getpid()) {}
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& s,
                      const vector3d_t& eye) const override {
        const pid_t me = getpid();
        int expected = 0;
        if (me != parent && !tally->slowPid.compare_exchange_strong(expected, me) && expected != me)
            tally->fastCalls.fetch_add(1);
        else if (me != parent && tally->slowCalls.fetch_add(1) % 100 == 0)
            usleep(20000);
        return lambertShader_t::fromWorld(state, sp, s, eye);
    }
    sharedTally_t* tally;
    pid_t parent;
};

} // namespace

TEST(forkedScene, IdleWorkerTakesOverBlocksNobodyStarted) {
    void* mem =
        mmap(nullptr, sizeof(sharedTally_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    sharedTally_t* tally = new (mem) sharedTally_t;
    // Six blocks inside one sphere: every block costs the same.
    camera_t cam = frontCamera(192, 128);
    unevenShader_t shader(tally);
    sphere_t room(point3d_t(0, 0, 0), 10.0f);
    room.setShader(&shader);
    forkedscene_t scene;
    scene.addObject(&room);
    scene.setWorkers(2);
    recordingOutput_t out;
    captured([&] {
        scene.setCamera(&cam);
        scene.render(out);
    });
    EXPECT_EQ(out.calls.size(), 192u * 128u);
    // A fixed share splits the blocks three and three; the slow worker spends
    // most of a second in its first, so the fast one takes two more.
    EXPECT_GT(tally->fastCalls.load(), 2 * tally->slowCalls.load())
        << "fast " << tally->fastCalls.load() << " slow " << tally->slowCalls.load();
    EXPECT_TRUE(noChildLeft());
    tally->~sharedTally_t();
    munmap(mem, sizeof(sharedTally_t));
}

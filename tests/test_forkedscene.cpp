#include "vexlarcore/forkedscene.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/sphere.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <memory>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace vexlar;
using namespace fixtures;

namespace {

// Kills the process it runs in when it shades a point of the given pixel
// column band, unless that process is the test's own: a worker that crashes
// mid-render.
class crashingShader_t : public lambertShader_t {
public:
    crashingShader_t(const color_t& d, pid_t p) : lambertShader_t(d), parent(p) {}
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& s,
                      const vector3d_t& eye) const override {
        if (getpid() != parent && state.pixelNumber % 200 > 120) raise(SIGKILL);
        return lambertShader_t::fromWorld(state, sp, s, eye);
    }
    pid_t parent;
};

// Throws in every process but the test's own, for pixels of a column band: a
// worker whose rendering fails with an exception.
class throwingShader_t : public lambertShader_t {
public:
    throwingShader_t(const color_t& d, pid_t p) : lambertShader_t(d), parent(p) {}
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& s,
                      const vector3d_t& eye) const override {
        if (getpid() != parent && state.pixelNumber % 200 > 120) throw std::runtime_error("shader failed");
        return lambertShader_t::fromWorld(state, sp, s, eye);
    }
    pid_t parent;
};

// An output that throws at its n-th pixel.
class throwingOutput_t : public recordingOutput_t {
public:
    bool putPixel(int x, int y, const color_t& c, float alpha, float depth) override {
        if (static_cast<int>(calls.size()) + 1 == throwAt) throw std::runtime_error("output failed");
        return recordingOutput_t::putPixel(x, y, c, alpha, depth);
    }
    int throwAt = 0;
};

typedef std::map<std::pair<int, int>, std::tuple<float, float, float, float, float>> image_t;

image_t toImage(const recordingOutput_t& out) {
    image_t img;
    for (const pixel_t& p : out.calls)
        img[{p.x, p.y}] = std::make_tuple(p.c.R, p.c.G, p.c.B, p.alpha, p.depth);
    return img;
}

int openDescriptors() {
    int count = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (readdir(d)) ++count;
    closedir(d);
    return count;
}

bool noChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

// A 200 x 150 image (12 blocks) of two spheres under a point light, with
// depth of field and adaptive anti-aliasing, so random draws and the
// Halton sequences matter.
struct testScene_t {
    explicit testScene_t(bool qmc, const shader_t* override = nullptr, float aperture = 0.05f)
        : cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 200, 150, 1.2f, aperture, 4.0f,
              qmc),
          shader(color_t(0.8f, 0.6f, 0.3f)), ball(point3d_t(0, 0, -4), 1.0f),
          small(point3d_t(1.2f, 0.6f, -3), 0.4f), lamp(point3d_t(3, 4, 2), color_t(1.0f)),
          sky(color_t(0.1f, 0.2f, 0.4f)) {
        const shader_t* s = override ? override : &shader;
        ball.setShader(s);
        small.setShader(s);
        scene.addObject(&ball);
        scene.addObject(&small);
        scene.addLight(&lamp);
        scene.setBackground(&sky);
        scene.setAntialiasing(1, 4, 1.0f, 0.05f);
        scene.setCamera(&cam);
    }
    camera_t cam;
    lambertShader_t shader;
    sphere_t ball, small;
    pointLight_t lamp;
    constantBackground_t sky;
    forkedscene_t scene;
};

image_t renderWith(int workers, bool qmc, const shader_t* s = nullptr) {
    srand(7);
    myseed = 123212;
    testScene_t t(qmc, s);
    t.scene.setWorkers(workers);
    recordingOutput_t out;
    testing::internal::CaptureStdout();
    t.scene.render(out);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.calls.size(), 200u * 150u) << "every pixel exactly once, workers " << workers;
    return toImage(out);
}

} // namespace

TEST(forkedScene, ImageDoesNotDependOnTheNumberOfWorkers) {
    for (bool qmc : {false, true}) {
        SCOPED_TRACE(qmc ? "halton lens samples" : "random lens samples");
        image_t one = renderWith(1, qmc);
        ASSERT_EQ(one.size(), 200u * 150u);
        EXPECT_EQ(renderWith(2, qmc), one);
        EXPECT_EQ(renderWith(3, qmc), one);
        EXPECT_TRUE(noChildLeft());
    }
}

TEST(forkedScene, SameImageAsTheInProcessDriverWhenNothingIsRandom) {
    // Without depth of field no random number is drawn, so every pixel must
    // come out exactly as scene_t::render puts it, at the same position.
    srand(7);
    testScene_t forked(false, nullptr, 0.0f);
    forked.scene.setWorkers(3);
    recordingOutput_t outForked;
    testing::internal::CaptureStdout();
    forked.scene.render(outForked);
    testing::internal::GetCapturedStdout();

    srand(7);
    testScene_t serial(false, nullptr, 0.0f);
    scene_t plain(static_cast<const scene_t&>(serial.scene));
    recordingOutput_t outPlain;
    testing::internal::CaptureStdout();
    plain.render(outPlain);
    testing::internal::GetCapturedStdout();

    ASSERT_EQ(outPlain.calls.size(), 200u * 150u);
    EXPECT_EQ(outForked.calls.size(), outPlain.calls.size());
    EXPECT_EQ(toImage(outForked), toImage(outPlain));
}

TEST(forkedScene, ProgressLineMatchesTheInProcessDriver) {
    srand(3);
    testScene_t t(false);
    t.scene.setWorkers(2);
    recordingOutput_t out;
    testing::internal::CaptureStdout();
    t.scene.render(out);
    std::string text = testing::internal::GetCapturedStdout();
    // 12 blocks: one '#' before the eleventh, then "#]".
    EXPECT_NE(text.find("\rRender pass: [##]\n"), std::string::npos) << text;
}

TEST(forkedScene, RefusedPixelStopsEverythingAndLeavesNoChild) {
    const int before = openDescriptors();
    srand(7);
    testScene_t t(false);
    t.scene.setWorkers(3);
    recordingOutput_t out;
    out.failAt = 5000;
    testing::internal::CaptureStdout();
    t.scene.render(out);
    std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.calls.size(), 5000u) << "no pixel after the refused one";
    EXPECT_NE(text.find("Aborted"), std::string::npos);
    EXPECT_TRUE(noChildLeft());
    EXPECT_EQ(openDescriptors(), before) << "pipes closed";
}

TEST(forkedScene, DeadWorkerLosesNothing) {
    image_t reference = renderWith(1, false);
    crashingShader_t crash(color_t(0.8f, 0.6f, 0.3f), getpid());
    srand(7);
    myseed = 123212;
    testScene_t t(false, &crash);
    t.scene.setWorkers(2);
    recordingOutput_t out;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    t.scene.render(out);
    testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("stopped before finishing"), std::string::npos) << err;
    EXPECT_NE(err.find("in this process"), std::string::npos) << err;
    EXPECT_EQ(out.calls.size(), 200u * 150u);
    EXPECT_EQ(toImage(out), reference);
    EXPECT_TRUE(noChildLeft());
}

TEST(forkedScene, ThrowingOutputLeavesNoChildAndNoDescriptor) {
    const int before = openDescriptors();
    srand(7);
    testScene_t t(false);
    t.scene.setWorkers(3);
    throwingOutput_t out;
    out.throwAt = 7000;
    testing::internal::CaptureStdout();
    EXPECT_THROW(t.scene.render(out), std::runtime_error);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.calls.size(), 6999u);
    EXPECT_TRUE(noChildLeft()) << "workers killed and reaped on the way out";
    EXPECT_EQ(openDescriptors(), before) << "pipes closed";
    EXPECT_EQ(t.scene.objectTree, nullptr);
}

TEST(forkedScene, WorkerExceptionNeverReturnsIntoTheHost) {
    image_t reference = renderWith(1, false);
    // Any process other than this one that comes back out of render writes
    // its pid here: a worker whose exception unwound into the test's code.
    int escaped[2];
    ASSERT_EQ(pipe(escaped), 0);
    const pid_t self = getpid();
    throwingShader_t shader(color_t(0.8f, 0.6f, 0.3f), self);
    srand(7);
    myseed = 123212;
    recordingOutput_t out;
    {
        testScene_t t(false, &shader);
        t.scene.setWorkers(2);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        try {
            t.scene.render(out);
        } catch (...) {
        }
        if (getpid() != self) {
            const pid_t me = getpid();
            (void)!write(escaped[1], &me, sizeof me);
            _exit(0);
        }
        testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("stopped before finishing"), std::string::npos) << err;
    }
    close(escaped[1]);
    pid_t who = 0;
    EXPECT_EQ(read(escaped[0], &who, sizeof who), 0) << "process " << who << " escaped from render";
    close(escaped[0]);
    EXPECT_EQ(toImage(out), reference) << "the failed worker's blocks are rendered here";
    EXPECT_TRUE(noChildLeft());
}

TEST(forkedScene, WithoutCameraRendersNothing) {
    forkedscene_t s;
    recordingOutput_t out;
    testing::internal::CaptureStderr();
    s.render(out);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no camera"), std::string::npos);
    EXPECT_TRUE(out.calls.empty());
}

TEST(forkedScene, WorkerCountIsAtLeastOne) {
    forkedscene_t s;
    EXPECT_GE(s.getWorkers(), 1);
    s.setWorkers(0);
    EXPECT_EQ(s.getWorkers(), 1);
    s.setWorkers(-4);
    EXPECT_EQ(s.getWorkers(), 1);
}

TEST(threadedScene, RendersThroughTheProcessDriver) {
    image_t reference = renderWith(2, false);
    srand(7);
    myseed = 123212;
    testScene_t t(false);
    threadedscene_t threaded;
    static_cast<scene_t&>(threaded) = static_cast<const scene_t&>(t.scene);
    threaded.setWorkers(2);
    recordingOutput_t out;
    testing::internal::CaptureStdout();
    threaded.render(out);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(toImage(out), reference);
}

TEST(threadedScene, RenderLeavesTheScenesOwnTreeAlone) {
    srand(7);
    myseed = 123212;
    testScene_t t(false);
    threadedscene_t threaded;
    static_cast<scene_t&>(threaded) = static_cast<const scene_t&>(t.scene);
    threaded.setWorkers(2);
    geomeTree_t<object3d_t>* own = buildObjectTree(threaded.objects);
    ASSERT_NE(own, nullptr);
    threaded.objectTree = own;
    recordingOutput_t out;
    testing::internal::CaptureStdout();
    threaded.render(out);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.calls.size(), 200u * 150u);
    // Still this scene's, still alive: its destructor deletes it once.
    EXPECT_EQ(threaded.objectTree, own);
}

namespace {

// Counts shading calls per worker in memory shared across the fork. The
// first worker to shade becomes the slow one: it pauses now and then, as a
// worker whose blocks are expensive would.
struct sharedTally_t {
    std::atomic<int> slowPid{0};
    std::atomic<long> slowCalls{0};
    std::atomic<long> fastCalls{0};
};

class unevenShader_t : public lambertShader_t {
public:
    unevenShader_t(sharedTally_t* t, pid_t p) : lambertShader_t(color_t(0.5f)), tally(t), parent(p) {}
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& s,
                      const vector3d_t& eye) const override {
        const pid_t me = getpid();
        if (me != parent) {
            int expected = 0;
            tally->slowPid.compare_exchange_strong(expected, me);
            if (tally->slowPid.load() == me) {
                if (tally->slowCalls.fetch_add(1) % 100 == 0) usleep(20000);
            } else {
                tally->fastCalls.fetch_add(1);
            }
        }
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
    // Six blocks, all covered by one sphere seen from inside, so every block
    // costs about the same for the fast worker.
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 192, 128, 1.0f);
    unevenShader_t shader(tally, getpid());
    sphere_t room(point3d_t(0, 0, 0), 10.0f);
    room.setShader(&shader);
    forkedscene_t scene;
    scene.addObject(&room);
    scene.setCamera(&cam);
    scene.setWorkers(2);
    recordingOutput_t out;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    scene.render(out);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.calls.size(), 192u * 128u);
    // A fixed share would split the six blocks three and three (equal call
    // counts); the slow worker spends most of a second in its first block,
    // long enough for the fast one to finish its three and take over the
    // slow one's other two, even in a sanitizer build.
    EXPECT_GT(tally->fastCalls.load(), 2 * tally->slowCalls.load())
        << "fast " << tally->fastCalls.load() << " slow " << tally->slowCalls.load();
    EXPECT_TRUE(noChildLeft());
    tally->~sharedTally_t();
    munmap(mem, sizeof(sharedTally_t));
}

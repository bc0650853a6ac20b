// The process-parallel driver: the same image and statistics for any number
// of workers, refused pixels, throwing outputs, no process or descriptor left
// behind, idle workers taking over blocks, and faults injected into the
// workers: one killed, stopped, or writing garbage to its pipe in the middle
// of the render, every one killed or throwing. The render must then deliver
// the same image as an undisturbed one, leave no process behind, never return
// into the test in a worker, and never hang (a watchdog ends a hung run).
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/sphere.h"

#include "scene_fixtures.h"
#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace vexlar;
using namespace fixtures;
using support::captured;
using support::contains;

namespace {

// Colour, alpha and depth of every pixel, by (x, y).
typedef std::map<std::pair<int, int>, std::tuple<float, float, float, float, float>> pixelMap_t;

pixelMap_t pixelsOf(const recordingOutput_t& out) {
    pixelMap_t img;
    for (const pixel_t& p : out.calls)
        img[{p.x, p.y}] = std::make_tuple(p.c.R, p.c.G, p.c.B, p.alpha, p.depth);
    return img;
}

// Whether this process has no child left, running or unreaped.
bool noChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

// 200 x 150 (12 blocks), two spheres and a triangle, depth of field and
// adaptive anti-aliasing, so that random draws and Halton sequences matter;
// rendered by `workers` processes with the random sequences seeded alike
// every time. `override` shades every object instead of the Lambert shader.
struct forkedTestScene_t {
    explicit forkedTestScene_t(int workers, bool qmc = false, const shader_t* override = nullptr,
                               float aperture = 0.05f)
        : cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 200, 150, 1.2f, aperture, 4.0f,
              qmc) {
        std::vector<point3d_t> pts{point3d_t(-3, -1, -6), point3d_t(3, -1, -6), point3d_t(0, 2, -7)};
        tri.reset(meshObject_t::factory(pts, {}, {triangle_t(&pts[0], &pts[1], &pts[2])}, {}, {}));
        for (object3d_t* o : {(object3d_t*)&ball, (object3d_t*)&small, (object3d_t*)tri.get()}) {
            o->setShader(override ? override : &shader);
            scene.addObject(o);
        }
        scene.addLight(&lamp);
        scene.setBackground(&sky);
        scene.setAntialiasing(1, 4, 1.0f, 0.05f);
        captured([&] { scene.setCamera(&cam); });
        scene.setWorkers(workers);
        srand(7);
        myseed = 123212;
    }
    // Standard output of the render (standard error into `err`).
    std::string render(colorOutput_t& out, std::string* err = nullptr) {
        return captured([&] { scene.render(out); }, err);
    }
    camera_t cam;
    lambertShader_t shader{color_t(0.8f, 0.6f, 0.3f)};
    sphere_t ball{point3d_t(0, 0, -4), 1.0f}, small{point3d_t(1.2f, 0.6f, -3), 0.4f};
    std::unique_ptr<meshObject_t> tri;
    pointLight_t lamp{point3d_t(3, 4, 2), color_t(1.0f)};
    constantBackground_t sky{color_t(0.1f, 0.2f, 0.4f)};
    forkedscene_t scene;
};

struct throwingOutput_t : public recordingOutput_t {
    bool putPixel(int x, int y, const color_t& c, float alpha, float depth) override {
        if (int(calls.size()) + 1 == throwAt) throw std::runtime_error("output failed");
        return recordingOutput_t::putPixel(x, y, c, alpha, depth);
    }
    int throwAt = 0;
};

// A T in memory that workers forked later share with this process.
template <class T> std::shared_ptr<T> sharedObject() {
    void* mem = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) throw std::runtime_error("no shared memory");
    return std::shared_ptr<T>(new (mem) T(), [](T* p) {
        p->~T();
        munmap(p, sizeof(T));
    });
}

// Descriptors open in this process (and the one that lists them).
std::ptrdiff_t openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
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

TEST(forkedScene, RefusedPixelThrowingOutputOrInterruptStopsEverything) {
    const std::ptrdiff_t before = openDescriptors();
    forkedTestScene_t t(3);
    recordingOutput_t out;
    out.failAt = 5000;
    const std::string text = t.render(out);
    EXPECT_EQ(out.calls.size(), 5000u) << "no pixel after the refused one";
    EXPECT_TRUE(contains(text, "Aborted\n")) << text;
    EXPECT_TRUE(noChildLeft());
    EXPECT_EQ(openDescriptors(), before) << "pipes closed";
    throwingOutput_t thrower;
    thrower.throwAt = 7000;
    EXPECT_THROW(t.render(thrower), std::runtime_error);
    EXPECT_EQ(thrower.calls.size(), 6999u);
    EXPECT_TRUE(noChildLeft()) << "workers killed and reaped on the way out";
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(t.scene.objectTree, nullptr);
    // A set interrupt flag ends the pass before any block.
    static volatile std::sig_atomic_t flag = 1;
    t.scene.setInterruptFlag(&flag);
    recordingOutput_t none;
    EXPECT_TRUE(contains(t.render(none), "Aborted")) << "interrupted";
    EXPECT_TRUE(none.calls.empty());
    EXPECT_TRUE(noChildLeft());
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
    const std::shared_ptr<sharedTally_t> tally = sharedObject<sharedTally_t>();
    // Six blocks inside one sphere: every block costs the same.
    camera_t cam = frontCamera(192, 128);
    unevenShader_t shader(tally.get());
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
}

namespace {

enum class fault_t { none, kill, stop, garbage, killEvery, throwEvery };

// Write ends of pipes this process holds, as (device, inode) pairs with
// their descriptors.
std::vector<std::pair<std::pair<dev_t, ino_t>, int>> writablePipes() {
    std::vector<std::pair<std::pair<dev_t, ino_t>, int>> pipes;
    for (int fd = 3; fd < 1024; ++fd) {
        struct stat st;
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_ACCMODE) == O_WRONLY && fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
            pipes.push_back({{st.st_dev, st.st_ino}, fd});
    }
    return pipes;
}

// Injects `fault` once, in the first worker process that shades a pixel of
// the right half of the image (the ...Every faults at every such pixel of
// every worker); shared memory tells the workers whether it happened already
// and the test whether a worker returned from the render. Shading itself is
// that of lambertShader_t.
struct faultyShader_t : public lambertShader_t {
    explicit faultyShader_t(fault_t f) : lambertShader_t(color_t(0.7f, 0.5f, 0.3f)), fault(f) {}
    // Called just before the render: the pipes open now are not a worker's.
    void notePipes() {
        for (const auto& p : writablePipes()) inherited.push_back(p.first);
    }
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& s,
                      const vector3d_t& eye) const override {
        const bool every = fault == fault_t::killEvery || fault == fault_t::throwEvery;
        if (fault != fault_t::none && getpid() != parent && state.pixelNumber % 200 > 100 &&
            (every || fired->exchange(1) == 0))
            inject();
        return lambertShader_t::fromWorld(state, sp, s, eye);
    }
    void inject() const {
        switch (fault) {
        case fault_t::kill:
        case fault_t::killEvery:
            raise(SIGKILL);
            break;
        case fault_t::stop:
            raise(SIGSTOP);
            break;
        case fault_t::garbage: {
            char junk[200];
            std::memset(junk, 0xA5, sizeof junk);
            for (int fd : workerPipe()) (void)!write(fd, junk, sizeof junk);
            break;
        }
        case fault_t::throwEvery:
            throw std::runtime_error("shader failed");
        case fault_t::none:
            break;
        }
    }
    // In a worker: its pipe to the parent, the one pipe the test did not
    // hold before the render.
    std::vector<int> workerPipe() const {
        std::vector<int> fds;
        for (const auto& p : writablePipes())
            if (std::find(inherited.begin(), inherited.end(), p.first) == inherited.end())
                fds.push_back(p.second);
        return fds;
    }
    fault_t fault;
    pid_t parent = getpid();
    const std::shared_ptr<std::atomic<int>> fired = sharedObject<std::atomic<int>>();
    // Set by a worker that returns from the render.
    const std::shared_ptr<std::atomic<int>> escaped = sharedObject<std::atomic<int>>();
    std::vector<std::pair<dev_t, ino_t>> inherited;
};

extern "C" void renderHung(int) {
    const char text[] = "the render did not end within 60 s: it hangs\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    _exit(1);
}

// The image of the test scene rendered by four workers, one of which
// meets `fault`; what the render said on standard error goes to `errors`.
pixelMap_t renderFaulty(fault_t fault, std::string* errors = nullptr) {
    faultyShader_t shader(fault);
    forkedTestScene_t t(4, false, &shader);
    t.scene.setStallTimeout(1.0);
    recordingOutput_t out;
    std::signal(SIGALRM, renderHung);
    alarm(60);
    shader.notePipes();
    const pid_t self = getpid();
    try {
        t.render(out, errors);
    } catch (...) {
    }
    if (getpid() != self) { // a worker that escaped: it must not run the tests on
        shader.escaped->store(1);
        _exit(0);
    }
    alarm(0);
    EXPECT_EQ(shader.escaped->load(), 0) << "a worker returned from the render";
    EXPECT_EQ(out.calls.size(), 200u * 150u) << "every pixel exactly once";
    return pixelsOf(out);
}

} // namespace

TEST(workerFault, RenderDeliversTheUndisturbedImage) {
    const pixelMap_t undisturbed = renderFaulty(fault_t::none);
    ASSERT_EQ(undisturbed.size(), 200u * 150u);
    const struct {
        fault_t fault;
        const char* name;
        const char* said; // on standard error
    } cases[] = {
        {fault_t::kill, "killed", "stopped before finishing its blocks"},
        {fault_t::stop, "stopped with SIGSTOP", "sent nothing for 1 s; taken for stalled"},
        {fault_t::garbage, "garbage on its pipe", "stopped before finishing its blocks"},
        {fault_t::killEvery, "every worker killed", "stopped before finishing its blocks"},
        {fault_t::throwEvery, "every worker throwing", "stopped before finishing its blocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string errors;
        EXPECT_EQ(renderFaulty(c.fault, &errors), undisturbed)
            << "the blocks of the worker are rendered again";
        EXPECT_NE(errors.find(c.said), std::string::npos) << "standard error: " << errors;
        EXPECT_NE(errors.find("unfinished blocks in this process"), std::string::npos) << errors;
        EXPECT_TRUE(noChildLeft()) << "every worker is reaped";
    }
}

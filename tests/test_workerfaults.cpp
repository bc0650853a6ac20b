// Faults injected into the forked driver's workers: one worker killed,
// stopped, or writing garbage to its pipe in the middle of the render, every
// worker killed or throwing. The render must deliver the same image as an
// undisturbed one, leave no process behind, never return into the test in a
// worker, and never hang (a watchdog in the test ends a hung run).
#include "forkedfixtures.h"
#include "vexlarcore/workermessage.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlar;
using namespace fixtures;

namespace {

enum class fault_t { none, kill, stop, garbage, foreignBlock, killEvery, throwEvery };

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
class faultyShader_t : public lambertShader_t {
public:
    explicit faultyShader_t(fault_t f)
        : lambertShader_t(color_t(0.7f, 0.5f, 0.3f)), fault(f), parent(getpid()),
          fired(static_cast<std::atomic<int>*>(mmap(nullptr, 2 * sizeof(std::atomic<int>),
                                                    PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1,
                                                    0))),
          escaped(new (fired + 1) std::atomic<int>(0)) {
        new (fired) std::atomic<int>(0);
    }
    // Called just before the render: the pipes open now are not a worker's.
    void notePipes() {
        for (const auto& p : writablePipes()) inherited.push_back(p.first);
    }
    ~faultyShader_t() override { munmap(fired, 2 * sizeof(std::atomic<int>)); }
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& s,
                      const vector3d_t& eye) const override {
        const bool every = fault == fault_t::killEvery || fault == fault_t::throwEvery;
        if (fault != fault_t::none && getpid() != parent && state.pixelNumber % 200 > 100 &&
            (every || fired->exchange(1) == 0))
            inject();
        return lambertShader_t::fromWorld(state, sp, s, eye);
    }

private:
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
        case fault_t::foreignBlock: {
            // A well-formed header for a block of the wrong size.
            const std::int32_t header[5] = {0, 0, 0, 1, 1};
            const float pixel[5] = {1, 1, 1, 1, 1};
            for (int fd : workerPipe()) {
                (void)!write(fd, header, sizeof header);
                (void)!write(fd, pixel, sizeof pixel);
            }
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
    pid_t parent;
    std::atomic<int>* fired;

public:
    std::atomic<int>* escaped; // set by a worker that returns from the render

private:
    std::vector<std::pair<dev_t, ino_t>> inherited;
};

extern "C" void renderHung(int) {
    const char text[] = "the render did not end within 60 s: it hangs\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    _exit(1);
}

// The image of the shared test scene rendered by four workers, one of which
// meets `fault`; what the render said on standard error goes to `errors`.
pixelMap_t renderWith(fault_t fault, std::string* errors = nullptr) {
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
    const pixelMap_t undisturbed = renderWith(fault_t::none);
    ASSERT_EQ(undisturbed.size(), 200u * 150u);
    const struct {
        fault_t fault;
        const char* name;
        const char* said; // on standard error
    } cases[] = {
        {fault_t::kill, "killed", "stopped before finishing its blocks"},
        {fault_t::stop, "stopped with SIGSTOP", "sent nothing for 1 s; taken for stalled"},
        {fault_t::garbage, "garbage on its pipe", "stopped before finishing its blocks"},
        {fault_t::foreignBlock, "a block of the wrong size", "stopped before finishing its blocks"},
        {fault_t::killEvery, "every worker killed", "stopped before finishing its blocks"},
        {fault_t::throwEvery, "every worker throwing", "stopped before finishing its blocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string errors;
        EXPECT_EQ(renderWith(c.fault, &errors), undisturbed) << "the blocks of the worker are rendered again";
        EXPECT_NE(errors.find(c.said), std::string::npos) << "standard error: " << errors;
        EXPECT_NE(errors.find("unfinished blocks in this process"), std::string::npos) << errors;
        EXPECT_TRUE(noChildLeft()) << "every worker is reaped";
    }
}

TEST(workerFault, InterruptFlagStopsThePassAtOnce) {
    // A set flag ends the pass before any block: nothing is delivered and no
    // worker is left.
    static volatile std::sig_atomic_t flag = 1;
    forkedTestScene_t t(2);
    t.scene.setInterruptFlag(&flag);
    recordingOutput_t out;
    const std::string said = t.render(out);
    EXPECT_TRUE(out.calls.empty());
    EXPECT_NE(said.find("Aborted"), std::string::npos) << said;
    EXPECT_TRUE(noChildLeft());
}

// Faults injected into the forked driver's workers: one worker killed,
// stopped, or writing garbage to its pipe in the middle of the render. The
// render must deliver the same image as an undisturbed one, leave no
// process behind, and never hang (a watchdog in the test ends a hung run).
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/sphere.h"
#include "vexlarcore/workermessage.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace vexlar;
using namespace fixtures;

namespace {

enum class fault_t { none, kill, stop, garbage, foreignBlock };

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
// the right half of the image; shared memory tells the workers whether it
// happened already. Shading itself is that of lambertShader_t.
class faultyShader_t : public lambertShader_t {
public:
    explicit faultyShader_t(fault_t f)
        : lambertShader_t(color_t(0.7f, 0.5f, 0.3f)), fault(f), parent(getpid()),
          fired(static_cast<std::atomic<int>*>(mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                                                    MAP_SHARED | MAP_ANONYMOUS, -1, 0))) {
        new (fired) std::atomic<int>(0);
    }
    // Called just before the render: the pipes open now are not a worker's.
    void notePipes() {
        for (const auto& p : writablePipes()) inherited.push_back(p.first);
    }
    ~faultyShader_t() override { munmap(fired, sizeof(std::atomic<int>)); }
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& s,
                      const vector3d_t& eye) const override {
        if (fault != fault_t::none && getpid() != parent && state.pixelNumber % 160 > 80 &&
            fired->exchange(1) == 0)
            inject();
        return lambertShader_t::fromWorld(state, sp, s, eye);
    }

private:
    void inject() const {
        switch (fault) {
        case fault_t::kill:
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
    std::vector<std::pair<dev_t, ino_t>> inherited;
};

typedef std::map<std::pair<int, int>, std::tuple<float, float, float, float, float>> image_t;

extern "C" void renderHung(int) {
    const char text[] = "the render did not end within 60 s: it hangs\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    _exit(1);
}

// A 160 x 120 image (20 blocks) of two spheres rendered by four workers.
image_t renderWith(fault_t fault, std::string* errors = nullptr) {
    std::srand(7);
    myseed = 123212;
    faultyShader_t shader(fault);
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 160, 120, 1.2f, 0.0f, 4.0f,
                 false);
    sphere_t ball(point3d_t(0, 0, -4), 1.0f), small(point3d_t(1.2f, 0.6f, -3), 0.4f);
    pointLight_t lamp(point3d_t(3, 4, 2), color_t(1.0f));
    constantBackground_t sky(color_t(0.1f, 0.2f, 0.4f));
    ball.setShader(&shader);
    small.setShader(&shader);
    forkedscene_t scene;
    scene.addObject(&ball);
    scene.addObject(&small);
    scene.addLight(&lamp);
    scene.setBackground(&sky);
    scene.setCamera(&cam);
    scene.setWorkers(4);
    scene.setStallTimeout(1.0);
    recordingOutput_t out;
    std::signal(SIGALRM, renderHung);
    alarm(60);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    shader.notePipes();
    scene.render(out);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    alarm(0);
    if (errors) *errors = err;
    image_t img;
    for (const pixel_t& p : out.calls)
        img[{p.x, p.y}] = std::make_tuple(p.c.R, p.c.G, p.c.B, p.alpha, p.depth);
    EXPECT_EQ(out.calls.size(), 160u * 120u) << "every pixel exactly once";
    return img;
}

bool noChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

} // namespace

TEST(workerFault, RenderDeliversTheUndisturbedImage) {
    const image_t undisturbed = renderWith(fault_t::none);
    ASSERT_EQ(undisturbed.size(), 160u * 120u);
    const struct {
        fault_t fault;
        const char* name;
        const char* said; // on standard error
    } cases[] = {
        {fault_t::kill, "killed", "stopped before finishing its blocks"},
        {fault_t::stop, "stopped with SIGSTOP", "sent nothing for 1 s; taken for stalled"},
        {fault_t::garbage, "garbage on its pipe", "stopped before finishing its blocks"},
        {fault_t::foreignBlock, "a block of the wrong size", "stopped before finishing its blocks"},
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
    std::srand(7);
    lambertShader_t shader(color_t(0.5f));
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 64, 48, 1.2f, 0.0f, 4.0f,
                 false);
    sphere_t ball(point3d_t(0, 0, -4), 1.0f);
    ball.setShader(&shader);
    forkedscene_t scene;
    scene.addObject(&ball);
    scene.setCamera(&cam);
    scene.setWorkers(2);
    scene.setInterruptFlag(&flag);
    recordingOutput_t out;
    testing::internal::CaptureStdout();
    scene.render(out);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(out.calls.empty());
    EXPECT_NE(said.find("Aborted"), std::string::npos) << said;
    EXPECT_TRUE(noChildLeft());
}

TEST(workerFault, MessageCutOffWhileTheWriterLivesIsAStall) {
    // A worker stopped in the middle of a message keeps its pipe open: the
    // read gives up after the timeout instead of blocking; a closed pipe is
    // a message cut short, as before.
    std::srand(1);
    blockSpliter_t blocks(4, 4, 8); // one 4 x 4 block
    blockLedger_t ledger(blocks, 1, false);
    const workerMessageHeader_t header = ledger.headerOf(0);
    const std::vector<float> body(4 * 4 * workerFloatsPerPixel, 0.5f);
    const struct {
        std::size_t bytes; // of the whole message that arrive
        bool writerOpen;
        workerFault_t expected;
    } cases[] = {
        {0, true, workerFault_t::stalled},
        {8, true, workerFault_t::stalled},
        {sizeof header + 40, true, workerFault_t::stalled},
        {8, false, workerFault_t::cutShort},
        {sizeof header + 40, false, workerFault_t::cutShort},
        {sizeof header + body.size() * sizeof(float), true, workerFault_t::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes) +
                     (c.writerOpen ? " bytes, writer open" : " bytes, writer gone"));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::string message(reinterpret_cast<const char*>(&header), sizeof header);
        message.append(reinterpret_cast<const char*>(body.data()), body.size() * sizeof(float));
        ASSERT_EQ(write(fds[1], message.data(), c.bytes), static_cast<ssize_t>(c.bytes));
        if (!c.writerOpen) close(fds[1]);
        workerMessage_t got;
        EXPECT_EQ(readWorkerMessage(fds[0], ledger, 0, got, 50), c.expected);
        close(fds[0]);
        if (c.writerOpen) close(fds[1]);
    }
}

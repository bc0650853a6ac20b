#include "vexlarcore/forkedscene.h"

#include "vexlarcore/messages.h"
#include "vexlarcore/passprogress.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/workermessage.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vexlar {

namespace {

// Keeps the pixels of one block as the block hands them out.
class blockRecorder_t : public colorOutput_t {
public:
    bool putPixel(int, int, const color_t& c, float alpha, float depth) override {
        pixels.insert(pixels.end(), {c.R, c.G, c.B, alpha, depth});
        return true;
    }
    bool flush() override { return true; }
    std::vector<float> pixels;
};

// Which blocks have been taken, shared by the workers through an anonymous
// shared mapping made before they are forked. Each worker first takes its
// own blocks k, k + n, ... in order, then helps with whatever nobody has
// started, from the end of the order backwards; a fixed share alone leaves
// one worker idle for a good part of the pass on uneven scenes. Without the
// mapping (mmap failed) every worker renders just its own share.
class claimBoard_t {
public:
    explicit claimBoard_t(std::size_t count) : size(count * sizeof(std::atomic<std::uint32_t>)) {
        if (size == 0) return;
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        flags = static_cast<std::atomic<std::uint32_t>*>(p);
        for (std::size_t i = 0; i < count; ++i) new (&flags[i]) std::atomic<std::uint32_t>(0);
    }
    ~claimBoard_t() {
        if (flags) munmap(flags, size);
    }
    claimBoard_t(const claimBoard_t&) = delete;
    claimBoard_t& operator=(const claimBoard_t&) = delete;

    bool shared() const { return flags != nullptr; }
    /// True for exactly one caller per block across all processes.
    bool claim(std::size_t i) { return !flags || flags[i].exchange(1, std::memory_order_relaxed) == 0; }

private:
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "block claims need lock-free atomics");
    std::size_t size;
    std::atomic<std::uint32_t>* flags = nullptr;
};

using passClock_t = std::chrono::steady_clock;

struct worker_t {
    pid_t pid = -1;
    int fd = -1;
    int number = 0;
    bool finished = false;             // sent its statistics: every block arrived
    passClock_t::time_point lastHeard; // start of the pass or its last message
};

void closeAndReap(worker_t& w, bool kill) {
    if (w.fd >= 0) close(w.fd);
    w.fd = -1;
    if (w.pid > 0) {
        if (kill) ::kill(w.pid, SIGKILL);
        int status = 0;
        while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    w.pid = -1;
}

} // namespace

void seedBlock(camera_t& camera, std::size_t index) {
    // Park-Miller seeds must lie in [1, 2^31 - 2].
    std::uint64_t mixed = (static_cast<std::uint64_t>(index) + 1) * 2654435761u + 123212u;
    myseed = static_cast<int>(mixed % 2147483646u) + 1;
    // Each block starts its own stretch of 2^20 Halton points.
    const std::uint64_t start = static_cast<std::uint64_t>(index) << 20;
    camera.halton2.value = radicalInverse(start, 2);
    camera.halton3.value = radicalInverse(start, 3);
}

int onlineProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : static_cast<int>(n > 4096 ? 4096 : n);
}

// The render pass of forkedscene_t: spawns the workers, collects their
// blocks as they arrive, and renders here whatever they did not deliver.
// Its destructor kills and reaps every worker still running, whichever way
// the pass ends (an exception from the output included), so that no worker
// is left blocked on a pipe nobody reads. Internal to this file, so kept out
// of the library's exports.
class __attribute__((visibility("hidden"))) forkedscene_t::workerPass_t {
public:
    workerPass_t(const forkedscene_t& s, const blockSpliter_t& b, renderArea_t& a, colorOutput_t& o)
        : scene(s), blocks(b), area(a), output(o), total(b.regions.size()),
          n(static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(s.workers), total))),
          board(n > 1 ? total : 0), ledger(b, n, board.shared()),
          progress("Render pass", "Render pass: [", total) {}
    ~workerPass_t() {
        for (worker_t& w : pool) closeAndReap(w, true);
    }
    workerPass_t(const workerPass_t&) = delete;
    workerPass_t& operator=(const workerPass_t&) = delete;

    void run() {
        if (interrupted()) {
            progress.aborted(0);
            return;
        }
        if (n > 1) spawnWorkers();
        if (!collectBlocks() || !renderLeftovers()) {
            progress.aborted(ledger.total() - ledger.remaining());
            for (worker_t& w : pool) closeAndReap(w, true);
            return;
        }
        progress.finished();
    }

private:
    // Forks n workers, each with a pipe to this process. Workers that cannot
    // be started leave their blocks to this process, like workers that die.
    void spawnWorkers() {
        // Nothing buffered may be written twice, by this process and by a worker.
        std::fflush(nullptr);
        const pid_t parent = getpid();
        for (int k = 0; k < n; ++k) {
            int fds[2];
            if (pipe2(fds, O_CLOEXEC) != 0) return;
            // Room for several block messages, so a worker rarely waits for
            // this process to read (best effort; the default size works).
            fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
            pid_t pid = fork();
            if (pid < 0) {
                close(fds[0]);
                close(fds[1]);
                return;
            }
            if (pid == 0) {
                // Keep only this worker's own write end.
                close(fds[0]);
                for (const worker_t& w : pool) close(w.fd);
                // Ends with this process, however it ends; the parent may
                // have gone already between fork and prctl.
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (getppid() != parent) _exit(1);
                workerMain(k, fds[1]);
            }
            close(fds[1]);
            worker_t w;
            w.pid = pid;
            w.fd = fds[0];
            w.number = k;
            w.lastHeard = passClock_t::now();
            pool.push_back(w);
        }
    }

    // The worker process: renders its own blocks, then the ones nobody has
    // started, sends each, then its counters, and ends. Nothing may unwind
    // out of here: an exception would carry this copy of the process back
    // into the host's code. The worker ends instead, and its blocks are
    // rendered again by the parent.
    [[noreturn]] void workerMain(int k, int fd) {
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGPIPE, SIG_DFL);
        int status = 1;
        try {
            // The worker's messages travel to this process's sink; a write
            // that fails here fails again for the next block, which ends the worker.
            setMessageSink([fd](const message_t& m) {
                if (m.level != messageLevel_t::progress) writeTextMessage(fd, m.level, m.stream, m.text);
            });
            const statCounters_t start = statCounters_t::now();
            bool ok = true;
            auto renderAndSend = [&](std::size_t i) {
                if (!board.claim(i)) return;
                const workerMessageHeader_t h = renderHere(i);
                ok = writeBlockMessage(fd, h, recorder.pixels);
            };
            for (std::size_t i = static_cast<std::size_t>(k); ok && i < total;
                 i += static_cast<std::size_t>(n))
                renderAndSend(i);
            for (std::size_t i = total; ok && board.shared() && i-- > 0;) renderAndSend(i);
            if (ok && writeCountersMessage(fd, statCounters_t::now().since(start))) status = 0;
        } catch (...) {
        }
        _exit(status);
    }

    // Hands the blocks to the output as they arrive, until every worker has
    // ended or been given up on. False when the output refused a pixel or
    // the interrupt flag was set.
    bool collectBlocks() {
        std::vector<pollfd> fds;
        std::vector<worker_t*> owners;
        for (;;) {
            if (interrupted()) return false;
            fds.clear();
            owners.clear();
            for (worker_t& w : pool)
                if (w.fd >= 0) {
                    fds.push_back({w.fd, POLLIN, 0});
                    owners.push_back(&w);
                }
            if (fds.empty()) return true;
            if (poll(fds.data(), fds.size(), pollTimeout()) < 0) {
                if (errno == EINTR) continue;
                // Cannot wait for the workers any more: stop them and render
                // what they had not delivered here.
                for (worker_t& w : pool) closeAndReap(w, true);
                return true;
            }
            for (std::size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents != 0 && !takeMessage(*owners[i])) return false;
            endStalledWorkers();
        }
    }

    bool interrupted() const { return scene.interruptFlag != nullptr && *scene.interruptFlag != 0; }

    bool stallChecked() const { return scene.stallTimeout > 0; }
    passClock_t::duration stallLimit() const {
        return std::chrono::duration_cast<passClock_t::duration>(
            std::chrono::duration<double>(scene.stallTimeout));
    }

    // Milliseconds until the first worker's stall limit runs out; -1 (wait
    // for ever) without the limit.
    int pollTimeout() const {
        if (!stallChecked()) return -1;
        passClock_t::time_point first = passClock_t::time_point::max();
        for (const worker_t& w : pool)
            if (w.fd >= 0) first = std::min(first, w.lastHeard);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(first + stallLimit() - passClock_t::now());
        return static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 1 << 30));
    }

    // Kills every worker that has sent nothing within the stall limit; its
    // blocks are left to renderLeftovers.
    void endStalledWorkers() {
        if (!stallChecked()) return;
        const passClock_t::time_point now = passClock_t::now();
        for (worker_t& w : pool)
            if (w.fd >= 0 && now - w.lastHeard >= stallLimit()) reportStall(w);
    }

    void reportStall(worker_t& w) {
        std::ostringstream text;
        text << "\nRender worker " << w.number << " sent nothing for " << scene.stallTimeout
             << " s; taken for stalled and ended\n";
        emitMessage(messageLevel_t::warning, messageStream_t::standardError, text.str());
        closeAndReap(w, true);
    }

    // Reads one message from a worker whose pipe is readable. A message that
    // does not describe one of the worker's blocks means the worker is
    // broken: it is treated as dead. False when the output refused a pixel.
    bool takeMessage(worker_t& w) {
        const int timeoutMs =
            stallChecked() ? static_cast<int>(std::min(scene.stallTimeout * 1000.0, double(1 << 30))) : -1;
        const workerFault_t fault = readWorkerMessage(w.fd, ledger, w.number, message, timeoutMs);
        if (fault == workerFault_t::stalled) {
            reportStall(w);
            return true;
        }
        if (fault != workerFault_t::none) {
            closeAndReap(w, true);
            return true;
        }
        w.lastHeard = passClock_t::now();
        if (message.isText()) {
            emitMessage(message.level, message.stream, message.text);
            return true;
        }
        if (message.isCounters()) {
            message.counters.addToGlobals();
            w.finished = true;
            closeAndReap(w, false);
            return true;
        }
        return deliver(message.header, message.pixels.data());
    }

    // Renders in this process every block no worker delivered, saying so on
    // standard error when workers were meant to do them. False when the
    // output refused a pixel.
    bool renderLeftovers() {
        if (ledger.remaining() > 0 && n > 1) {
            for (const worker_t& w : pool)
                if (!w.finished)
                    emitMessage(messageLevel_t::warning, messageStream_t::standardError,
                                "\nRender worker " + std::to_string(w.number) +
                                    " stopped before finishing its blocks\n");
            emitMessage(messageLevel_t::warning, messageStream_t::standardError,
                        "Rendering the " + std::to_string(ledger.remaining()) +
                            " unfinished blocks in this process\n");
        }
        for (std::size_t i = 0; i < total; ++i) {
            if (ledger.delivered(i)) continue;
            if (interrupted()) return false;
            const workerMessageHeader_t h = renderHere(i);
            if (!deliver(h, recorder.pixels.data())) return false;
        }
        return true;
    }

    // Renders block `index` into `recorder` and returns its message header.
    workerMessageHeader_t renderHere(std::size_t index) {
        seedBlock(*scene.camera, index);
        recorder.pixels.clear();
        scene.renderBlock(blocks, index, area, recorder, false);
        return ledger.headerOf(index);
    }

    // Hands one recorded block to the output, with the progress mark; false
    // when the output refused a pixel.
    bool deliver(const workerMessageHeader_t& h, const float* px) {
        progress.starting(ledger.total() - ledger.remaining());
        ledger.markDelivered(static_cast<std::size_t>(h.index));
        for (int x = h.x; x < h.x + h.w; ++x)
            for (int y = h.y; y < h.y + h.h; ++y, px += workerFloatsPerPixel)
                if (!output.putPixel(x, y, color_t(px[0], px[1], px[2]), px[3], px[4])) return false;
        return true;
    }

    const forkedscene_t& scene;
    const blockSpliter_t& blocks;
    renderArea_t& area;
    colorOutput_t& output;
    const std::size_t total;
    const int n; // workers dealt blocks: at most one per block
    claimBoard_t board;
    blockLedger_t ledger;
    std::vector<worker_t> pool;
    blockRecorder_t recorder;
    workerMessage_t message;
    passProgress_t progress;
};

forkedscene_t::forkedscene_t() : scene_t(), workers(onlineProcessorCount()) {}

forkedscene_t::~forkedscene_t() {}

void forkedscene_t::doChild(colorOutput_t&) {}

void forkedscene_t::render(colorOutput_t& output) {
    // The in-process driver's set-up, so that the block order drawn from
    // rand() is the same; only the render pass is spread over the workers.
    renderImage(output, [&](blockSpliter_t& blocks, renderArea_t& area) {
        workerPass_t(*this, blocks, area, output).run();
    });
}

threadedscene_t::threadedscene_t() : scene_t(), workers(onlineProcessorCount()) {}

threadedscene_t::~threadedscene_t() {}

void threadedscene_t::render(colorOutput_t& output) {
    forkedscene_t driver;
    static_cast<scene_t&>(driver) = static_cast<const scene_t&>(*this);
    // The copy must not take over a tree this scene may hold: the driver
    // builds and destroys its own.
    driver.objectTree = nullptr;
    driver.setWorkers(workers);
    driver.setStallTimeout(stallTimeout);
    driver.render(output);
    // Lights may have changed repeatFirst during set-up; keep what they left.
    repeatFirst = driver.repeatFirst;
}

} // namespace vexlar

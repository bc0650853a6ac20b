#include "vexlarcore/forkedscene.h"

#include "vexlarcore/bound.h"
#include "vexlarcore/bsptree.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/transfer.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vexlar {

namespace {

// A block message: this header, then w * h pixels, each R, G, B, A, depth as
// floats, in the order the block hands them out (column by column). A header
// with index -1 is followed by the worker's statistics instead and ends its
// stream.
struct blockHeader_t {
    std::int32_t index, x, y, w, h;
};
constexpr std::int32_t countersMessage = -1;
constexpr int floatsPerPixel = 5;

struct counters_t {
    std::uint32_t rays, hitted, bcount, leafs, leafst;

    static counters_t now() {
        return {vexlar::rays, vexlar::hitted, vexlar::bcount, vexlar::leafs, vexlar::leafst};
    }
    counters_t since(const counters_t& start) const {
        return {rays - start.rays, hitted - start.hitted, bcount - start.bcount, leafs - start.leafs,
                leafst - start.leafst};
    }
    void addToGlobals() const {
        vexlar::rays += rays;
        vexlar::hitted += hitted;
        vexlar::bcount += bcount;
        vexlar::leafs += leafs;
        vexlar::leafst += leafst;
    }
};

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

// Seeds the process-wide generator and the camera's Halton sequences from
// the block's index alone, so that a block's pixels do not depend on which
// process renders it or on what it rendered before.
double radicalInverse(std::uint64_t i, int base) {
    const double inv = 1.0 / base;
    double f = inv, r = 0.0;
    for (; i > 0; i /= static_cast<std::uint64_t>(base), f *= inv) r += f * static_cast<double>(i % base);
    return r;
}

void seedBlock(camera_t& camera, std::size_t index) {
    // Park-Miller seeds must lie in [1, 2^31 - 2].
    std::uint64_t mixed = (static_cast<std::uint64_t>(index) + 1) * 2654435761u + 123212u;
    myseed = static_cast<int>(mixed % 2147483646u) + 1;
    // Each block starts its own stretch of 2^20 Halton points.
    const std::uint64_t start = static_cast<std::uint64_t>(index) << 20;
    camera.halton2.value = radicalInverse(start, 2);
    camera.halton3.value = radicalInverse(start, 3);
}

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

struct worker_t {
    pid_t pid = -1;
    int fd = -1;
    int number = 0;
    bool finished = false; // sent its statistics: every block arrived
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

// Kills and reaps every worker still running when render leaves, whichever
// way it leaves (an exception from the output included), so that no worker
// is left blocked on a pipe nobody reads.
class poolGuard_t {
public:
    explicit poolGuard_t(std::vector<worker_t>& p) : pool(p) {}
    ~poolGuard_t() {
        for (worker_t& w : pool) closeAndReap(w, true);
    }
    poolGuard_t(const poolGuard_t&) = delete;
    poolGuard_t& operator=(const poolGuard_t&) = delete;

private:
    std::vector<worker_t>& pool;
};

bool writeMessage(int fd, const blockHeader_t& h, const void* body, std::size_t bytes) {
    if (writePipe(fd, const_cast<blockHeader_t*>(&h), sizeof h) != 0) return false;
    return bytes == 0 || writePipe(fd, const_cast<void*>(body), static_cast<int>(bytes)) == 0;
}

// The default number of workers: one per online processor, at least one.
int onlineProcessors() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : static_cast<int>(n);
}

} // namespace

forkedscene_t::forkedscene_t() : scene_t(), workers(onlineProcessors()) {}

forkedscene_t::~forkedscene_t() {}

void forkedscene_t::doChild(colorOutput_t&) {}

void forkedscene_t::render(colorOutput_t& output) {
    // The in-process driver's set-up, so that the block order drawn from
    // rand() is the same; only the render pass is spread over the workers.
    renderImage(output,
                [&](blockSpliter_t& blocks, renderArea_t& area) { workerPass(blocks, area, output); });
}

void forkedscene_t::workerPass(const blockSpliter_t& blocks, renderArea_t& area, colorOutput_t& output) {
    const std::size_t total = blocks.regions.size();
    std::vector<char> done(total, 0);
    std::size_t delivered = 0;
    std::cout << "\rRender pass: [" << std::flush;

    // Hands one recorded block to the output; false when it refused a pixel.
    auto deliver = [&](const blockHeader_t& h, const float* px) {
        if (delivered > 0 && delivered % 10 == 0) std::cout << '#' << std::flush;
        ++delivered;
        done[static_cast<std::size_t>(h.index)] = 1;
        for (int x = h.x; x < h.x + h.w; ++x)
            for (int y = h.y; y < h.y + h.h; ++y, px += floatsPerPixel)
                if (!output.putPixel(x, y, color_t(px[0], px[1], px[2]), px[3], px[4])) return false;
        return true;
    };
    blockRecorder_t recorder;
    auto renderHere = [&](std::size_t index) {
        seedBlock(*camera, index);
        recorder.pixels.clear();
        renderBlock(blocks, index, area, recorder, false);
        blockHeader_t h{static_cast<std::int32_t>(index), area.realX, area.realY, area.realW, area.realH};
        return h;
    };

    std::vector<worker_t> pool;
    poolGuard_t poolGuard(pool);
    const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(workers), total));
    claimBoard_t board(n > 1 ? total : 0);
    if (n > 1) {
        std::cout.flush();
        std::fflush(nullptr);
        for (int k = 0; k < n; ++k) {
            int fds[2];
            if (pipe2(fds, O_CLOEXEC) != 0) break;
            // Room for several block messages, so a worker rarely waits for
            // this process to read (best effort; the default size works).
            fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
            pid_t pid = fork();
            if (pid < 0) {
                close(fds[0]);
                close(fds[1]);
                break;
            }
            if (pid == 0) {
                // Worker: keep only its own write end.
                close(fds[0]);
                for (const worker_t& w : pool) close(w.fd);
                std::signal(SIGINT, SIG_IGN);
                std::signal(SIGPIPE, SIG_DFL);
                // Nothing may unwind out of here: an exception would carry
                // this copy of the process back into the host's code. The
                // worker ends instead, and its blocks are rendered again.
                int status = 1;
                try {
                    const counters_t start = counters_t::now();
                    bool ok = true;
                    auto renderAndSend = [&](std::size_t i) {
                        if (!board.claim(i)) return;
                        blockHeader_t h = renderHere(i);
                        ok = writeMessage(fds[1], h, recorder.pixels.data(),
                                          recorder.pixels.size() * sizeof(float));
                    };
                    for (std::size_t i = static_cast<std::size_t>(k); ok && i < total;
                         i += static_cast<std::size_t>(n))
                        renderAndSend(i);
                    for (std::size_t i = total; ok && board.shared() && i-- > 0;) renderAndSend(i);
                    if (ok) {
                        counters_t c = counters_t::now().since(start);
                        blockHeader_t h{countersMessage, 0, 0, 0, 0};
                        if (writeMessage(fds[1], h, &c, sizeof c)) status = 0;
                    }
                } catch (...) {
                }
                _exit(status);
            }
            close(fds[1]);
            worker_t w;
            w.pid = pid;
            w.fd = fds[0];
            w.number = k;
            pool.push_back(w);
        }
        // Workers that could not be started leave their blocks to this
        // process, like workers that die.
    }

    auto abortAll = [&] {
        std::cout << "Aborted" << std::endl;
        for (worker_t& w : pool) closeAndReap(w, true);
    };
    // A block message must name a block not yet delivered (a worker's own, or
    // one it took over from the end of the order), with exactly that block's
    // rectangle; a worker without the shared board renders only its own.
    auto expected = [&](const worker_t& w, const blockHeader_t& h) {
        if (h.index < 0 || static_cast<std::size_t>(h.index) >= total ||
            done[static_cast<std::size_t>(h.index)] || (!board.shared() && h.index % n != w.number))
            return false;
        const blockSpliter_t::region_t& r = blocks.regions[total - 1 - static_cast<std::size_t>(h.index)];
        return h.x == r.realX && h.y == r.realY && h.w == r.realW && h.h == r.realH && h.w > 0 && h.h > 0;
    };

    std::vector<float> body;
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<worker_t*> owners;
        for (worker_t& w : pool)
            if (w.fd >= 0) {
                fds.push_back({w.fd, POLLIN, 0});
                owners.push_back(&w);
            }
        if (fds.empty()) break;
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            // Cannot wait for the workers any more: stop them and render
            // what they had not delivered here.
            for (worker_t& w : pool) closeAndReap(w, true);
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            worker_t& w = *owners[i];
            blockHeader_t h;
            bool ok = readPipe(w.fd, &h, sizeof h) == 0;
            if (ok && h.index == countersMessage) {
                counters_t c;
                if (readPipe(w.fd, &c, sizeof c) == 0) {
                    c.addToGlobals();
                    w.finished = true;
                }
                closeAndReap(w, false);
                continue;
            }
            // A message that does not describe one of the worker's blocks
            // means the worker is broken: treat it as dead.
            if (ok) ok = expected(w, h);
            if (ok) {
                body.resize(static_cast<std::size_t>(h.w) * static_cast<std::size_t>(h.h) * floatsPerPixel);
                ok = readPipe(w.fd, body.data(), static_cast<int>(body.size() * sizeof(float))) == 0;
            }
            if (!ok) {
                closeAndReap(w, true);
                continue;
            }
            if (!deliver(h, body.data())) {
                abortAll();
                return;
            }
        }
    }

    std::size_t leftover = 0;
    for (char d : done) leftover += d ? 0 : 1;
    if (leftover > 0 && n > 1) {
        for (const worker_t& w : pool)
            if (!w.finished)
                std::cerr << "\nRender worker " << w.number << " stopped before finishing its blocks"
                          << std::endl;
        std::cerr << "Rendering the " << leftover << " unfinished blocks in this process" << std::endl;
    }
    for (std::size_t i = 0; i < total; ++i) {
        if (done[i]) continue;
        blockHeader_t h = renderHere(i);
        if (!deliver(h, recorder.pixels.data())) {
            abortAll();
            return;
        }
    }
    std::cout << "#]" << std::endl;
}

threadedscene_t::threadedscene_t() : scene_t(), workers(onlineProcessors()) {}

threadedscene_t::~threadedscene_t() {}

void threadedscene_t::render(colorOutput_t& output) {
    forkedscene_t driver;
    static_cast<scene_t&>(driver) = static_cast<const scene_t&>(*this);
    // The copy must not take over a tree this scene may hold: the driver
    // builds and destroys its own.
    driver.objectTree = nullptr;
    driver.setWorkers(workers);
    driver.render(output);
    // Lights may have changed repeatFirst during set-up; keep what they left.
    repeatFirst = driver.repeatFirst;
}

} // namespace vexlar

#include "host/mpirender.h"

#include <stdexcept>

#include "host/mpijob.h"

#if VEXLAR_HAVE_MPI
#include <chrono>
#include <cstdint>
#include <deque>
#include <iostream>
#include <list>
#include <memory>
#include <poll.h>
#include <vector>
#include <xxhash.h>

#include <mpi.h>

#include "host/mpiblock.h"
#include "host/mpipool.h"
#include "vexlarcore/forkedscene.h"
#endif

namespace vexlar {
namespace host {

#if VEXLAR_HAVE_MPI
namespace {

enum tag_t { tagRequest = 1, tagAssign = 2, tagBlock = 3, tagDone = 4 };

// One turn of a rank's own workers: collects the blocks they finished into
// `done`; waits a little only when neither they nor the network had work.
void stepWorkers(blockPool_t& pool, bool busy, std::vector<workerMessage_t>& done) {
    done.clear();
    if (!pool.idle())
        pool.step(busy ? 0 : 2, done);
    else if (!busy)
        poll(nullptr, 0, 1);
}

volatile std::sig_atomic_t* stopFlag = nullptr;

extern "C" void onTerminate(int) {
    if (stopFlag) *stopFlag = 1;
}

// Open MPI's mpirun ends a job (Ctrl-C, a dead rank) with SIGCONT, then one
// second later SIGTERM and SIGKILL right after: too little time after the
// SIGTERM to save a partial image. A SIGCONT that reaches rank 0 while it is
// running (not after a stop) is taken as that warning.
volatile std::sig_atomic_t continued = 0;

extern "C" void onContinue(int) {
    continued = 1;
}

// Takes a block's pixels as the block renderer hands them out.
class recorder_t : public colorOutput_t {
public:
    explicit recorder_t(std::vector<float>& to) : pixels(to) {}
    bool putPixel(int, int, const color_t& c, float alpha, float depth) override {
        pixels.insert(pixels.end(), {c.R, c.G, c.B, alpha, depth});
        return true;
    }
    bool flush() override { return true; }
    std::vector<float>& pixels;
};

// Takes the preliminary passes' pixels of the ranks that show no image.
class discard_t : public colorOutput_t {
public:
    bool putPixel(int, int, const color_t&, float, float) override { return true; }
    bool flush() override { return true; }
};

std::uint64_t layoutFingerprint(const blockSpliter_t& blocks) {
    return XXH3_64bits(blocks.regions.data(), blocks.regions.size() * sizeof(blockSpliter_t::region_t));
}

// What, besides the scene's text, shapes the image: a checkpoint made with
// other settings is refused.
std::uint64_t settingsFingerprint(const options_t& opt, std::uint64_t sceneText) {
    std::string s = std::to_string(sceneText);
    for (const auto& kv : opt.settings) s += "\n" + kv.first + "=" + kv.second;
    s += "\n" + std::to_string(opt.width) + "x" + std::to_string(opt.height);
    if (opt.hasRegion)
        for (int v : opt.region) s += " " + std::to_string(v);
    if (opt.hasSeed) s += "\nseed " + std::to_string(opt.seed);
    return XXH3_64bits(s.data(), s.size());
}

// The image driver of the ranks: the library's set-up steps, then the
// rank's part of the render pass.
class rankScene_t : public scene_t {
public:
    explicit rankScene_t(const scene_t& from) : scene_t() {
        static_cast<scene_t&>(*this) = from;
        // The copy builds and destroys its own tree.
        objectTree = nullptr;
    }

    void renderWith(colorOutput_t& output, const std::function<void(blockSpliter_t&, renderArea_t&)>& pass) {
        renderImage(output, pass);
    }

    // Renders block `index` in this process, seeded from its index.
    workerMessageHeader_t renderOne(const blockSpliter_t& blocks, renderArea_t& area,
                                    const blockLedger_t& ledger, std::size_t index,
                                    std::vector<float>& pixels) const {
        seedBlock(*camera, index);
        pixels.clear();
        recorder_t recorder(pixels);
        renderBlock(blocks, index, area, recorder, false);
        return ledger.headerOf(index);
    }
};

// Blocks a rank other than 0 keeps per renderer, asked for or in hand: one
// being rendered, one waiting, so that a renderer never waits for rank 0.
constexpr int heldPerRenderer = 2;

// Rank 0's part: hands out blocks, takes in finished ones, renders when idle.
class rootPass_t {
public:
    rootPass_t(rankScene_t& s, blockSpliter_t& b, renderArea_t& a, colorOutput_t& o, const options_t& opt,
               const checkpointKey_t& key, const std::string& checkpointPath)
        : scene(s), blocks(b), area(a), output(o), ledger(b, 1, true), layout(layoutFingerprint(b)),
          pool(
              b, opt.workers, 2,
              [this](std::size_t i, std::vector<float>& px) {
                  return scene.renderOne(blocks, area, ledger, i, px);
              },
              true) {
        MPI_Comm_size(MPI_COMM_WORLD, &ranks);
        perRank.assign(static_cast<std::size_t>(ranks), 0);
        stats = opt.stats;
        std::string error;
        if (opt.resume) {
            std::vector<workerMessage_t> kept;
            if (!checkpoint.resume(checkpointPath, key, ledger, kept, error)) throw std::runtime_error(error);
            for (const workerMessage_t& m : kept)
                if (!deliver(m)) return;
            std::cerr << "Resuming: " << kept.size() << " of " << ledger.total() << " blocks from \""
                      << checkpointPath << "\"" << std::endl;
        } else if (!checkpoint.create(checkpointPath, key, error)) {
            throw std::runtime_error(error);
        }
        for (std::size_t i = 0; i < ledger.total(); ++i)
            if (!ledger.delivered(i)) queue.push_back(i);
        toRender = queue.size();
    }

    // False when the render stopped before the image was complete.
    bool run() {
        std::cout << "\rRender pass (" << ranks << (ranks == 1 ? " rank" : " ranks") << ", " << toRender
                  << " blocks): [" << std::flush;
        std::vector<workerMessage_t> done;
        while (ledger.remaining() > 0 || doneRanks < ranks - 1) {
            if ((stopFlag && *stopFlag) || refused || endingJob()) return stopped();
            bool busy = false;
            int waiting = 0;
            MPI_Status st;
            while (MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &waiting, &st), waiting) {
                busy = true;
                if (!take(st)) return stopped();
            }
            if (!takeArrivals()) return stopped();
            while (pool.room() > 0 && !queue.empty()) {
                pool.give(queue.front());
                queue.pop_front();
            }
            if (queue.empty()) pool.close();
            stepWorkers(pool, busy, done);
            for (const workerMessage_t& m : done) {
                const auto t0 = std::chrono::steady_clock::now();
                // Raw into the checkpoint: rank 0's time is the job's
                // bottleneck, and its disk is faster than zlib.
                const bool ok = accept(m, encodeBlock(m.header, m.pixels, false));
                intake += std::chrono::steady_clock::now() - t0;
                ++perRank[0];
                if (!ok) return stopped();
            }
        }
        pool.workerCounters().addToGlobals();
        std::cout << "#]" << std::endl;
        checkpoint.remove();
        if (stats) report();
        return true;
    }

private:
    // True when a SIGCONT came while this loop was running: a stopped
    // process sees a long gap since its last turn of the loop, which runs
    // every few milliseconds otherwise.
    bool endingJob() {
        const auto now = std::chrono::steady_clock::now();
        const bool running = now - lastTurn < std::chrono::milliseconds(250);
        lastTurn = now;
        if (!continued) return false;
        continued = 0;
        return running;
    }

    // With --stats: how the blocks were shared and what taking them in cost
    // rank 0 (decoding, checkpoint, image), the figures of the scaling
    // model in docs/mpi.md.
    void report() const {
        std::cout << "MPI: " << toRender << " blocks rendered by " << ranks << " ranks:";
        for (std::size_t r = 0; r < perRank.size(); ++r)
            std::cout << " rank " << r << ": " << perRank[r] << ";";
        const double ms = std::chrono::duration<double, std::milli>(intake).count();
        std::cout << " rank 0 took them in in " << ms << " ms ("
                  << (toRender ? 1000.0 * ms / static_cast<double>(toRender) : 0.0) << " us per block)"
                  << std::endl;
    }

    bool stopped() {
        std::cout << "Aborted" << std::endl;
        std::cerr << "vexlar: the " << ledger.total() - ledger.remaining() << " of " << ledger.total()
                  << " blocks finished so far are kept in \"" << checkpoint.path()
                  << "\"; render again with --resume to finish the image" << std::endl;
        return false;
    }

    // Handles one waiting message; false when the output refused a pixel.
    bool take(const MPI_Status& st) {
        const int from = st.MPI_SOURCE;
        if (st.MPI_TAG == tagRequest) {
            std::uint64_t theirs = 0;
            MPI_Recv(&theirs, 1, MPI_UINT64_T, from, tagRequest, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            if (theirs != layout)
                throw std::runtime_error(
                    "rank " + std::to_string(from) +
                    " made a different list of blocks (its scene differs from rank 0's)");
            std::int32_t index = -1;
            if (!queue.empty()) {
                index = static_cast<std::int32_t>(queue.front());
                queue.pop_front();
            }
            MPI_Send(&index, 1, MPI_INT32_T, from, tagAssign, MPI_COMM_WORLD);
            return true;
        }
        if (st.MPI_TAG == tagBlock) {
            // Received without blocking: a rank that stalls while its block
            // travels must not stall rank 0.
            int bytes = 0;
            MPI_Get_count(&st, MPI_BYTE, &bytes);
            arriving.emplace_back();
            arrival_t& a = arriving.back();
            a.from = from;
            a.record.resize(static_cast<std::size_t>(bytes > 0 ? bytes : 0));
            MPI_Irecv(a.record.data(), bytes, MPI_BYTE, from, tagBlock, MPI_COMM_WORLD, &a.request);
            return true;
        }
        if (st.MPI_TAG == tagDone) {
            std::uint32_t c[5];
            MPI_Recv(c, 5, MPI_UINT32_T, from, tagDone, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            statCounters_t counters;
            counters.rays = c[0];
            counters.hitted = c[1];
            counters.leafs = c[2];
            counters.leafst = c[3];
            counters.bcount = c[4];
            counters.addToGlobals();
            ++doneRanks;
            return true;
        }
        throw std::runtime_error("rank " + std::to_string(from) + " sent an unknown message (tag " +
                                 std::to_string(st.MPI_TAG) + ")");
    }

    // Takes in the blocks whose transfer has finished; false when the
    // output refused a pixel.
    bool takeArrivals() {
        for (auto it = arriving.begin(); it != arriving.end();) {
            int complete = 0;
            MPI_Test(&it->request, &complete, MPI_STATUS_IGNORE);
            if (!complete) {
                ++it;
                continue;
            }
            std::size_t used = 0;
            std::string why;
            if (!decodeBlock(it->record.data(), it->record.size(), ledger, message, used, why) ||
                used != it->record.size())
                throw std::runtime_error("rank " + std::to_string(it->from) + " sent a broken block: " +
                                         (why.empty() ? "bytes after its end" : why));
            const auto t0 = std::chrono::steady_clock::now();
            const bool ok = accept(message, it->record);
            intake += std::chrono::steady_clock::now() - t0;
            ++perRank[static_cast<std::size_t>(it->from)];
            if (!ok) return false;
            it = arriving.erase(it);
        }
        return true;
    }

    // A finished block: into the checkpoint first, then into the image.
    bool accept(const workerMessage_t& m, const std::vector<unsigned char>& record) {
        std::string error;
        if (checkpointing && !checkpoint.append(record, error)) {
            std::cerr << "\nvexlar: warning: " << error << "; going on without a checkpoint" << std::endl;
            checkpointing = false;
        }
        ++rendered;
        if (rendered % 10 == 0) std::cout << '#' << std::flush;
        return deliver(m);
    }

    bool deliver(const workerMessage_t& m) {
        const workerMessageHeader_t& h = m.header;
        ledger.markDelivered(static_cast<std::size_t>(h.index));
        const float* px = m.pixels.data();
        for (int x = h.x; x < h.x + h.w; ++x)
            for (int y = h.y; y < h.y + h.h; ++y, px += workerFloatsPerPixel)
                if (!output.putPixel(x, y, color_t(px[0], px[1], px[2]), px[3], px[4])) {
                    refused = true;
                    return false;
                }
        return true;
    }

    rankScene_t& scene;
    blockSpliter_t& blocks;
    renderArea_t& area;
    colorOutput_t& output;
    blockLedger_t ledger;
    std::uint64_t layout;
    blockPool_t pool;
    checkpoint_t checkpoint;
    bool checkpointing = true;
    bool refused = false;
    std::deque<std::size_t> queue;
    std::size_t toRender = 0;
    std::size_t rendered = 0;
    std::vector<std::size_t> perRank;
    std::chrono::steady_clock::duration intake{};
    bool stats = false;
    std::chrono::steady_clock::time_point lastTurn = std::chrono::steady_clock::now();
    int ranks = 1;
    int doneRanks = 0;
    workerMessage_t message;
    struct arrival_t {
        int from = 0;
        std::vector<unsigned char> record;
        MPI_Request request = MPI_REQUEST_NULL;
    };
    std::list<arrival_t> arriving;
};

// The part of a rank other than 0: asks for blocks, renders them, sends them.
void workerPass(rankScene_t& scene, blockSpliter_t& blocks, renderArea_t& area, int workers) {
    const statCounters_t start = statCounters_t::now();
    blockLedger_t ledger(blocks, 1, true);
    blockPool_t pool(blocks, workers, heldPerRenderer, [&](std::size_t i, std::vector<float>& px) {
        return scene.renderOne(blocks, area, ledger, i, px);
    });
    std::uint64_t layout = layoutFingerprint(blocks);
    int outstanding = 0;
    bool ended = false;
    auto ask = [&] {
        MPI_Send(&layout, 1, MPI_UINT64_T, 0, tagRequest, MPI_COMM_WORLD);
        ++outstanding;
    };
    for (std::size_t n = pool.room(); n > 0; --n) ask();

    struct sending_t {
        std::vector<unsigned char> record;
        MPI_Request request = MPI_REQUEST_NULL;
    };
    std::list<sending_t> sends;
    std::vector<workerMessage_t> done;
    while (outstanding > 0 || !pool.idle()) {
        bool busy = false;
        int waiting = 0;
        while (outstanding > 0 &&
               (MPI_Iprobe(0, tagAssign, MPI_COMM_WORLD, &waiting, MPI_STATUS_IGNORE), waiting)) {
            std::int32_t index = -1;
            MPI_Recv(&index, 1, MPI_INT32_T, 0, tagAssign, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            --outstanding;
            busy = true;
            if (index < 0)
                ended = true;
            else
                pool.give(static_cast<std::size_t>(index));
        }
        if (ended && outstanding == 0) pool.close();
        stepWorkers(pool, busy, done);
        for (const workerMessage_t& m : done) {
            sends.emplace_back();
            sending_t& s = sends.back();
            s.record = encodeBlock(m.header, m.pixels, true);
            MPI_Isend(s.record.data(), static_cast<int>(s.record.size()), MPI_BYTE, 0, tagBlock,
                      MPI_COMM_WORLD, &s.request);
            if (!ended) ask();
        }
        for (auto it = sends.begin(); it != sends.end();) {
            int complete = 0;
            MPI_Test(&it->request, &complete, MPI_STATUS_IGNORE);
            it = complete ? sends.erase(it) : std::next(it);
        }
    }
    for (sending_t& s : sends) MPI_Wait(&s.request, MPI_STATUS_IGNORE);
    const statCounters_t mine = statCounters_t::now().since(start);
    const statCounters_t& theirs = pool.workerCounters();
    std::uint32_t c[5] = {mine.rays + theirs.rays, mine.hitted + theirs.hitted, mine.leafs + theirs.leafs,
                          mine.leafst + theirs.leafst, mine.bcount + theirs.bcount};
    MPI_Send(c, 5, MPI_UINT32_T, 0, tagDone, MPI_COMM_WORLD);
}

} // namespace
#endif

void renderImageOrJob(scene_t& scene, colorOutput_t& output, const options_t& opt,
                      const std::string& outputPath, volatile std::sig_atomic_t* stop) {
    mpiJob_t* job = mpiJob_t::current();
    if (!job) {
        if (opt.resume)
            throw std::runtime_error("--resume finishes an image that an MPI render left unfinished; run it "
                                     "under mpirun (mpirun -np 1 will do)");
        scene.render(output);
        return;
    }
#if VEXLAR_HAVE_MPI
    if (!job->ready(true)) throw std::runtime_error("another rank of the MPI job could not load the scene");
    stopFlag = stop;
    struct sigaction sa {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = onContinue;
    sigaction(SIGCONT, &sa, nullptr);

    rankScene_t driver(scene);
    const std::string checkpointPath = checkpoint_t::nameFor(outputPath);
    bool complete = false;
    driver.renderWith(output, [&](blockSpliter_t& blocks, renderArea_t& area) {
        checkpointKey_t key;
        key.fingerprint = settingsFingerprint(opt, job->sourceFingerprint());
        key.width = blocks.width;
        key.height = blocks.height;
        key.blocks = static_cast<std::int32_t>(blocks.regions.size());
        rootPass_t pass(driver, blocks, area, output, opt, key, checkpointPath);
        complete = pass.run();
    });
    scene.repeatFirst = driver.repeatFirst;
    if (complete)
        job->renderDone();
    else if (stop)
        *stop = 1; // the program saves the partial image
#else
    (void)outputPath;
    (void)stop;
    scene.render(output);
#endif
}

int renderRank(scene_t& scene, const options_t& opt) {
#if VEXLAR_HAVE_MPI
    mpiJob_t* job = mpiJob_t::current();
    // Rank 0 decides when to stop; a Ctrl-C reaching this rank is ignored.
    std::signal(SIGINT, SIG_IGN);
    if (!job->ready(true)) return exitFailure;
    rankScene_t driver(scene);
    discard_t nowhere;
    driver.renderWith(nowhere, [&](blockSpliter_t& blocks, renderArea_t& area) {
        workerPass(driver, blocks, area, opt.workers);
    });
    job->renderDone();
    return exitOk;
#else
    (void)scene;
    (void)opt;
    return exitFailure;
#endif
}

} // namespace host
} // namespace vexlar

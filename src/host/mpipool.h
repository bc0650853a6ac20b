// The renderers of one rank of an MPI render: blocks handed to it are
// rendered in this process, or, with several workers (-j), in forked worker
// processes that stream them back over pipes.
#ifndef VEXLAR_HOST_MPIPOOL_H
#define VEXLAR_HOST_MPIPOOL_H

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <vector>

#include "vexlarcore/statcounters.h"
#include "vexlarcore/workermessage.h"

namespace vexlar {
namespace host {

/// A pool of block renderers within one process.
///
/// - With one worker (and not `forkOne`) every block is rendered in this
///   process by step().
/// - Otherwise n processes are forked when the pool is made (after
///   the scene's set-up, so each holds the finished trees, lights and photon
///   maps). give() sends a block's index to the worker holding the fewest;
///   each worker renders its blocks in order and sends them back as the
///   forked driver's block messages. Workers ignore SIGINT, like the forked
///   driver's, and touch nothing of MPI.
/// - A worker that dies, or sends a message that is not its next block,
///   loses nothing: its unfinished blocks are rendered in this process.
/// - The destructor kills and reaps every worker still running.
///
/// `render` renders one block in the calling process (seeded from its
/// index) and returns its header, with the pixels in `pixels`. Not for use
/// from several threads.
class blockPool_t {
public:
    using render_t = std::function<workerMessageHeader_t(std::size_t index, std::vector<float>& pixels)>;

    /// `perWorker`: blocks each worker may hold at once (one being rendered,
    /// the others waiting), at least 1. `forkOne`: a single worker is
    /// forked too, so that this process stays free to answer messages and
    /// signals while the block renders.
    blockPool_t(const blockSpliter_t& blocks, int workers, int perWorker, render_t render,
                bool forkOne = false);
    ~blockPool_t();
    blockPool_t(const blockPool_t&) = delete;
    blockPool_t& operator=(const blockPool_t&) = delete;

    /// How many more blocks the pool takes now.
    std::size_t room() const;
    /// True when it holds no block and no worker is running.
    bool idle() const;
    /// Hands it block `index` (call only while room() > 0).
    void give(std::size_t index);
    /// No more blocks will come: workers end after sending what they hold.
    void close();
    /// Does a little work: renders one block held in this process, or waits
    /// up to `timeoutMs` for the workers' blocks. Finished blocks are
    /// appended to `done`.
    void step(int timeoutMs, std::vector<workerMessage_t>& done);
    /// The statistics counters of the workers that have ended.
    const statCounters_t& workerCounters() const { return counters; }

private:
    struct worker_t {
        pid_t pid = -1;
        int commands = -1; // indices to the worker
        int blocks = -1;   // its messages back
        std::deque<std::size_t> held;
    };

    void spawn(int count);
    [[noreturn]] void workerMain(int commands, int blocks);
    void readFrom(worker_t& w, std::vector<workerMessage_t>& done);
    void giveUp(worker_t& w);

    blockLedger_t ledger;
    int perWorker;
    render_t render;
    std::vector<worker_t> workers;
    std::deque<std::size_t> local;
    bool closed = false;
    statCounters_t counters;
    workerMessage_t message;
};

} // namespace host
} // namespace vexlar

#endif

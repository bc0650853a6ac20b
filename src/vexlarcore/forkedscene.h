// Parallel rendering with worker processes.
#ifndef VEXLARCORE_FORKEDSCENE_H
#define VEXLARCORE_FORKEDSCENE_H

#include "vexlarcore/scene.h"

#include <csignal>
#include <cstddef>

namespace vexlar {

/// The number of processors online, from 1 to 4096: the default number of
/// workers of the drivers below.
int onlineProcessorCount();

/// Seeds the process-wide generator (myseed) and the camera's Halton
/// sequences from the block's index alone, so that a block's pixels do not
/// depend on which process renders it or on what it rendered before. Every
/// driver that spreads blocks over processes or machines calls it before
/// each block, which makes their images equal for any number of workers.
void seedBlock(camera_t& camera, std::size_t index);

/// A scene that renders its image with several worker processes.
///
/// Processes rather than threads: the random seed, the statistics counters
/// and the camera's ray origin are process-wide or shared and unlocked, so
/// each worker needs its own copy of them, which fork gives for free.
///
/// render(colorOutput_t&) does, in this process, what scene_t::render does
/// before its render pass (object tree, light set-up, preliminary passes,
/// with the same progress lines), then forks `workers` processes. All share
/// the shuffled block order; worker k renders blocks k, k + n, k + 2n, ...
/// and then helps with the blocks nobody has started yet (taken from the end
/// of the order through a small shared-memory board, so a worker whose share
/// was cheap does not sit idle), and streams each finished block proper
/// (position, size, colour, alpha, depth) to this process over a pipe, where
/// the pixels reach the output through putPixel as blocks arrive, with the
/// usual progress line.
///
/// - Before each block the random seed is set from the block's index (and
///   a camera that takes lens samples from Halton sequences starts them at a
///   block-dependent index), so the image is the same for any number of
///   workers. It differs from scene_t::render's only where random numbers
///   are drawn (depth of field, indirect light): the in-process driver keeps
///   one sequence for the whole image.
/// - With one worker (or where fork fails) the blocks are rendered in this
///   process, in the same way.
/// - A refused pixel aborts: "Aborted" is printed, every worker is killed
///   and reaped, and render returns.
/// - A worker that dies loses nothing: its unfinished blocks are rendered in
///   this process afterwards, and a line on standard error says so.
/// - A worker that sends nothing for the stall timeout (setStallTimeout;
///   120 s by default) is taken for stalled (stopped with SIGSTOP, caught in
///   an endless loop, or stopped in the middle of a message): it is killed
///   and its unfinished blocks are rendered in this process, as a dead one's
///   are, with a line on standard error. The time counts from the start of
///   the pass or the worker's last message, so it must exceed the time one
///   block can take.
/// - Workers ignore SIGINT, so a Ctrl-C reaches the host's output (which
///   then refuses the next pixel) rather than killing them one by one. A
///   host that also hands its interrupt flag to setInterruptFlag stops the
///   pass as soon as the flag is set, without waiting for the next block.
///   Workers are killed by the system when this process ends in any way
///   (Linux's parent-death signal), so none is ever left running.
/// - A worker whose rendering throws ends (it never returns into the host's
///   code); its blocks are rendered again here, as for a worker that died.
///   A message that is cut short or names a block that is not the worker's
///   also counts as the worker's death.
/// - The statistics counters (rays, hitted, bcount, leafs, leafst) of the
///   workers are added to this process's at the end.
/// - No worker outlives render and no descriptor is left open, also when
///   the output throws: the workers are then killed and reaped before the
///   exception leaves render.
///
/// The output is called from this process only. Not for use from several
/// threads at once; since workers are forked, the host should not have other
/// threads running (a forked worker holds only the calling thread, and locks
/// other threads held stay locked in it).
class forkedscene_t : public scene_t {
public:
    /// Workers default to the number of online processors.
    forkedscene_t();
    ~forkedscene_t() override;

    void render(colorOutput_t& output) override;
    using scene_t::render;

    /// The worker side of render, run in each child process; not meant to be
    /// called by hosts. Does nothing when called directly.
    virtual void doChild(colorOutput_t& output);

    /// Number of worker processes; values below 1 are taken as 1.
    void setWorkers(int n) { workers = n < 1 ? 1 : n; }
    int getWorkers() const { return workers; }

    /// Seconds a worker may send nothing before it is taken for stalled;
    /// 0 or less: wait for ever.
    void setStallTimeout(double seconds) { stallTimeout = seconds; }
    double getStallTimeout() const { return stallTimeout; }
    /// Default of setStallTimeout.
    static constexpr double defaultStallTimeout = 120;

    /// A flag (typically set by the host's SIGINT handler) that, once
    /// non-zero, stops the render pass like a refused pixel: the workers are
    /// killed and render returns. Null (the default): none. The flag must
    /// outlive every render.
    void setInterruptFlag(const volatile std::sig_atomic_t* flag) { interruptFlag = flag; }

private:
    // The render pass: spawns the workers, hands their blocks to the output
    // as they arrive and renders here whatever they did not deliver.
    class workerPass_t;

    int workers;
    double stallTimeout = defaultStallTimeout;
    const volatile std::sig_atomic_t* interruptFlag = nullptr;
};

/// A scene whose render uses the process-parallel driver of forkedscene_t.
/// Threads are not used on purpose: the random seed, the statistics counters
/// and the camera are process-wide and unlocked, so threads would race on
/// them and make the image depend on scheduling.
class threadedscene_t : public scene_t {
public:
    threadedscene_t();
    ~threadedscene_t() override;

    /// Renders like forkedscene_t::render with `workers` processes.
    void render(colorOutput_t& output) override;
    using scene_t::render;

    void setWorkers(int n) { workers = n < 1 ? 1 : n; }
    int getWorkers() const { return workers; }
    /// As forkedscene_t::setStallTimeout.
    void setStallTimeout(double seconds) { stallTimeout = seconds; }

private:
    int workers;
    double stallTimeout = forkedscene_t::defaultStallTimeout;
};

} // namespace vexlar

#endif

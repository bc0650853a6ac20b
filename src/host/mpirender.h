// Rendering one image with the ranks of an MPI job.
//
// Protocol (MPI_COMM_WORLD, point to point; every rank has loaded the same
// scene and made the same shuffled list of 64 x 64 blocks):
// - A rank other than 0 asks rank 0 for a block with a request (tag 1: a
//   uint64 fingerprint of its block list, which rank 0 checks against its
//   own); rank 0 answers each request with one block index (tag 2: int32),
//   or -1 when none is left. Each rank keeps up to two blocks per renderer
//   (-j) asked for or in hand, so it has the next block while it renders
//   one: fast machines take more blocks, slow ones fewer.
// - A finished block goes to rank 0 as one block record (tag 3, see
//   mpiblock.h), sent with MPI_Isend so that the rank renders on while it
//   travels.
// - When a rank has had -1 for every request and its blocks have been
//   received, it sends its statistics counters (tag 4: five uint32) and ends.
// - Rank 0 answers requests and takes in blocks whenever any are waiting,
//   and renders blocks too, always in forked workers (one with -j 1), so
//   that it keeps answering requests and signals while a block renders.
// Before each block the random seed is set from the block's index alone
// (seedBlock), as in the forked driver, so the image is the same for any
// number of ranks and workers, and the same as a `-j 2` render.
//
// Rank 0 keeps a checkpoint beside the output image (checkpoint_t): every
// block is appended to it as it arrives, before it reaches the image, so
// the checkpoint holds every block rank 0 has received when the job ends in
// any way. `--resume` reads it, puts its blocks into the image and renders
// only the others; a finished image deletes it.
#ifndef VEXLAR_HOST_MPIRENDER_H
#define VEXLAR_HOST_MPIRENDER_H

#include <csignal>
#include <string>

#include "host/options.h"
#include "vexlarcore/output.h"
#include "vexlarcore/scene.h"

namespace vexlar {
namespace host {

/// The program's render step on rank 0 or outside MPI: outside a job,
/// scene.render(output) (with `--resume` refused); in a job, the image
/// rendered by every rank into `output`. `stop` is the program's interrupt
/// flag: a SIGTERM sets it too, as does the SIGCONT with which mpirun starts
/// to end a job (taken as such only while rank 0 is running), and rank 0
/// stops when it is set, leaving the blocks received so far in
/// `output` and in the checkpoint. Throws std::runtime_error on failures
/// (another rank not ready, a broken block, an unusable checkpoint).
void renderImageOrJob(scene_t& scene, colorOutput_t& output, const options_t& opt,
                      const std::string& outputPath, volatile std::sig_atomic_t* stop);

/// The program's work on a rank other than 0: renders the blocks rank 0
/// hands out; returns the exit status.
int renderRank(scene_t& scene, const options_t& opt);

} // namespace host
} // namespace vexlar

#endif

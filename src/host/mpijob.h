// The vexlar program as one rank of an MPI job (mpirun -np N vexlar ...).
//
// A run is part of an MPI job only when an MPI launcher started it (its
// variables are looked at before MPI is touched, so a plain run never
// initialises MPI) and the program was built with VEXLAR_MPI. Then:
// - rank 0 reads the scene file and broadcasts its text (with its name and
//   folder); the other ranks load the scene from that text. Meshes,
//   textures and plug-ins named by the scene are read by every rank from
//   the same paths: they must be on a shared file system (or copied to the
//   same place on every machine).
// - every rank builds its trees and sets up its lights itself, from the
//   same seed, so photon maps are the same everywhere.
// - the image is rendered by mpiRenderRoot and mpiRenderWorker (mpirender.h);
//   only rank 0 prints, writes files and keeps the checkpoint. The other
//   ranks' standard output goes to /dev/null and their standard error is
//   kept and shown only when that rank failed on its own.
// - a rank that fails after the render has started ends the whole job
//   (MPI_Abort with its exit status), as does a rank that dies: MPI's
//   default error handler ends the job, and mpirun reports which rank died.
//
// Launched by mpirun but built without MPI, every rank refuses to run.
#ifndef VEXLAR_HOST_MPIJOB_H
#define VEXLAR_HOST_MPIJOB_H

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "host/sceneloader.h"

namespace vexlar {
namespace host {

/// Whether an MPI launcher (Open MPI's mpirun, or a PMI/PMIx launcher such
/// as Slurm's srun with --mpi) started this process with more than zero
/// ranks: the launcher's environment variables, read without MPI.
bool launchedByMpi();

/// This process's part in an MPI job, for the length of one run. At most
/// one exists at a time; current() finds it.
class mpiJob_t {
public:
    /// Joins the job when launchedByMpi() (MPI_Init) in a build with MPI;
    /// otherwise inactive (shareSceneSource then refuses a run launched by
    /// MPI).
    mpiJob_t();
    ~mpiJob_t();
    mpiJob_t(const mpiJob_t&) = delete;
    mpiJob_t& operator=(const mpiJob_t&) = delete;

    /// The job of this run; null when the run is not part of one.
    static mpiJob_t* current();

    int rank() const { return rankNo; }
    int size() const { return ranks; }

    /// Rank 0 calls `read` and broadcasts the source it returns; the other
    /// ranks receive it. When `read` throws on rank 0, the others end
    /// quietly (rank 0 reports the error).
    sceneSource_t shareSource(const std::function<sceneSource_t()>& read);
    /// A 64-bit fingerprint of the shared scene text.
    std::uint64_t sourceFingerprint() const { return fingerprint; }

    /// Every rank says whether it is ready to render; true when all are.
    /// After it, a rank that fails ends the job.
    bool ready(bool ok);
    /// Whether rank 0 was ready (valid after ready).
    bool rootReady() const { return rootOk; }
    /// Marks the render as over on this rank: failures no longer abort.
    void renderDone() { rendering = false; }

    /// Ends this rank's part with the run's exit status and returns the
    /// status the program should exit with.
    int finish(int status);

private:
    bool active = false;
    int rankNo = 0;
    int ranks = 1;
    bool shared = false;
    bool readied = false;
    bool rootOk = true;
    bool rendering = false;
    bool finished = false;
    std::uint64_t fingerprint = 0;
    std::ostringstream keptErr;
    std::streambuf* savedErr = nullptr;
};

/// shareSource of the current job, or `read()` itself outside a job.
sceneSource_t shareSceneSource(const std::function<sceneSource_t()>& read);
/// False only on the ranks other than 0 of an MPI job.
bool isRenderRoot();

} // namespace host
} // namespace vexlar

#endif

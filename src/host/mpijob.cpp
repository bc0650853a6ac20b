#include "host/mpijob.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <stdexcept>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

#if VEXLAR_HAVE_MPI
#include <mpi.h>
#endif

namespace vexlar {
namespace host {

namespace {

mpiJob_t* theJob = nullptr;

// A rank that ends because another one failed before the render; the rank
// that failed reports why.
struct peerStopped_t : std::runtime_error {
    peerStopped_t() : std::runtime_error("another rank of the MPI job stopped before rendering") {}
};

#if VEXLAR_HAVE_MPI
void bcastString(std::string& s) {
    std::uint64_t n = s.size();
    MPI_Bcast(&n, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    s.resize(n);
    // MPI counts are ints: large texts go in pieces.
    const std::uint64_t piece = 1u << 30;
    for (std::uint64_t at = 0; at < n; at += piece)
        MPI_Bcast(&s[at], static_cast<int>(std::min(piece, n - at)), MPI_CHAR, 0, MPI_COMM_WORLD);
}
#endif

} // namespace

bool launchedByMpi() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"})
        if (const char* v = std::getenv(name))
            if (*v) return true;
    return false;
}

mpiJob_t::mpiJob_t() {
    if (!launchedByMpi()) return;
#if VEXLAR_HAVE_MPI
    int provided = 0;
    MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided);
    MPI_Comm_rank(MPI_COMM_WORLD, &rankNo);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);
    active = true;
    theJob = this;
    if (rankNo != 0) {
        // Only rank 0 talks to the user.
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            std::cout.flush();
            dup2(null, 1);
            ::close(null);
        }
        savedErr = std::cerr.rdbuf(keptErr.rdbuf());
    }
#endif
}

mpiJob_t::~mpiJob_t() {
    if (savedErr) std::cerr.rdbuf(savedErr);
    if (theJob == this) theJob = nullptr;
}

mpiJob_t* mpiJob_t::current() {
    return theJob;
}

sceneSource_t mpiJob_t::shareSource(const std::function<sceneSource_t()>& read) {
#if VEXLAR_HAVE_MPI
    shared = true;
    sceneSource_t s;
    // 0: failed, 1: a file's text, 2: the built-in scene (every rank has it).
    int kind = 0;
    if (rankNo == 0) {
        try {
            s = read();
        } catch (...) {
            MPI_Bcast(&kind, 1, MPI_INT, 0, MPI_COMM_WORLD);
            throw;
        }
        kind = s.memoryFiles.empty() ? 1 : 2;
    }
    MPI_Bcast(&kind, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (kind == 0) throw peerStopped_t();
    if (kind == 2 && rankNo != 0) s = read();
    bcastString(s.text);
    bcastString(s.label);
    bcastString(s.baseDir);
    fingerprint = XXH3_64bits(s.text.data(), s.text.size());
    return s;
#else
    (void)read;
    return sceneSource_t();
#endif
}

bool mpiJob_t::ready(bool ok) {
#if VEXLAR_HAVE_MPI
    if (!shared) {
        // Failed before the scene was shared: take part in the broadcast.
        shared = true;
        int kind = 0;
        MPI_Bcast(&kind, 1, MPI_INT, 0, MPI_COMM_WORLD);
        if (kind != 0) {
            std::string skip;
            for (int i = 0; i < 3; ++i) bcastString(skip);
        }
    }
    readied = true;
    std::vector<int> flags(static_cast<std::size_t>(ranks), 0);
    int mine = ok ? 1 : 0;
    MPI_Allgather(&mine, 1, MPI_INT, flags.data(), 1, MPI_INT, MPI_COMM_WORLD);
    rootOk = flags[0] != 0;
    bool all = true;
    for (int f : flags) all = all && f != 0;
    rendering = all;
    return all;
#else
    return ok;
#endif
}

int mpiJob_t::finish(int status) {
    if (!active || finished) return status;
    finished = true;
#if VEXLAR_HAVE_MPI
    if (!readied) ready(false);
    if (savedErr) {
        // A rank's own failure is shown; one it shares with rank 0 (the
        // same scene error everywhere) is left to rank 0.
        std::cerr.rdbuf(savedErr);
        savedErr = nullptr;
        if (status != 0 && rootOk) {
            std::istringstream lines(keptErr.str());
            for (std::string line; std::getline(lines, line);)
                std::cerr << "vexlar: rank " << rankNo << ": " << line << "\n";
            std::cerr.flush();
        }
    }
    if (status != 0 && rendering) {
        // The others are waiting for this rank: end the job.
        std::cerr.flush();
        std::cout.flush();
        MPI_Abort(MPI_COMM_WORLD, status);
    }
    MPI_Finalize();
#endif
    return status;
}

sceneSource_t shareSceneSource(const std::function<sceneSource_t()>& read) {
#if !VEXLAR_HAVE_MPI
    if (launchedByMpi())
        throw std::runtime_error(
            "this vexlar was built without MPI (VEXLAR_MPI off), so it cannot be one "
            "rank of an MPI job; run it without mpirun or rebuild it with libopenmpi-dev");
#endif
    mpiJob_t* job = mpiJob_t::current();
    return job ? job->shareSource(read) : read();
}

bool isRenderRoot() {
    mpiJob_t* job = mpiJob_t::current();
    return !job || job->rank() == 0;
}

} // namespace host
} // namespace vexlar

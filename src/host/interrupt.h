// Ctrl-C (SIGINT) handling of the vexlar program.
//
// - The first and second SIGINT set the flag that interruptFlag() points at
//   (its value counts the signals). The image sink then refuses the next
//   pixel and the forked driver stops its pass at once: the workers are
//   killed, the blocks finished so far are saved as the partial image, the
//   temporary output file is removed and a message says so. Two signals
//   arrive together more often than not (`timeout -s INT` sends two), so the
//   second is handled like the first.
// - The program must notice the interruption (acknowledgeInterrupt) within
//   interruptGraceSeconds of the first signal. When it has not by then (it
//   is busy setting up: reading a large mesh, building a tree), or on a
//   third SIGINT, it ends at once: the temporary files noted with
//   noteTemporaryFile are removed, "vexlar: interrupted; stopped at once" is
//   written to standard error, and the status is exitInterrupted. Nothing
//   rendered is kept then (there is no finished block yet while setting up).
//   Render workers end with the program (the forked driver sees to that).
//
// Everything here is for the program's start-up thread; the handlers only
// make async-signal-safe calls.
#ifndef VEXLAR_HOST_INTERRUPT_H
#define VEXLAR_HOST_INTERRUPT_H

#include <csignal>

namespace vexlar {
namespace host {

/// Seconds between the first SIGINT and the forced end when the program has
/// not acknowledged it.
constexpr unsigned interruptGraceSeconds = 5;

/// Installs the SIGINT and SIGALRM handlers.
void catchInterrupts();
/// Non-zero once SIGINT has arrived. Writable so that other signal handlers
/// (the MPI driver's, for the launcher's end-of-job signals) can stop the
/// render the same way.
volatile std::sig_atomic_t* interruptFlag();
bool interruptRequested();
/// The program is handling the interruption: no forced end after the grace
/// time (a third SIGINT still forces it).
void acknowledgeInterrupt();

/// A temporary file to remove on a forced end (a few at once; the path is
/// copied). forgetTemporaryFile drops it again.
void noteTemporaryFile(const char* path);
void forgetTemporaryFile(const char* path);

} // namespace host
} // namespace vexlar

#endif

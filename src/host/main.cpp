// vexlar: the command-line renderer.
#include "host/app.h"
#include "host/mpijob.h"

int main(int argc, char** argv) {
    // Inactive unless an MPI launcher started the program.
    vexlar::host::mpiJob_t job;
    return job.finish(vexlar::host::runVexlar(argc, argv));
}

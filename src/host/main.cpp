// vexlar: the command-line renderer.
#include "host/app.h"

int main(int argc, char** argv) {
    return vexlar::host::runVexlar(argc, argv);
}

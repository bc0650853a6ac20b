#include "host/quiet.h"

#include <cstdio>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

namespace vexlar {
namespace host {

quietScope_t::quietScope_t(bool on) : on(on) {
    if (!on) return;
    std::cout.flush();
    std::fflush(stdout);
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) {
        savedStdout = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        dup2(devnull, STDOUT_FILENO);
        close(devnull);
    }
    savedCout = std::cout.rdbuf(discarded.rdbuf());
    savedCerr = std::cerr.rdbuf(kept.rdbuf());
}

quietScope_t::~quietScope_t() {
    if (!on) return;
    std::fflush(stdout);
    if (savedStdout >= 0) {
        dup2(savedStdout, STDOUT_FILENO);
        close(savedStdout);
    }
    std::cout.rdbuf(savedCout);
    std::cerr.rdbuf(savedCerr);
    std::istringstream lines(kept.str());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && !isChatter(line)) std::cerr << line << "\n";
}

bool quietScope_t::isChatter(const std::string& line) {
    for (const char* prefix :
         {"Using a world resolution of", "Setting up lights", "Finished setting up lights"})
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

} // namespace host
} // namespace vexlar

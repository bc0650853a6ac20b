#include "host/quiet.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace vexlar {
namespace host {

quietScope_t* quietScope_t::active = nullptr;

void quietScope_t::onExit() {
    quietScope_t* q = active;
    if (q == nullptr || q->owner != getpid()) return;
    active = nullptr;
    std::string text = q->kept.str();
    std::istringstream lines(q->discarded.str());
    std::vector<std::string> last;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && !isChatter(line)) last.push_back(line);
    if (last.size() > 6) last.erase(last.begin(), last.end() - 6);
    text += "vexlar: error: the renderer stopped the program";
    text += last.empty() ? std::string("\n") : std::string("; its last output:\n");
    for (const std::string& l : last) text += "  " + l + "\n";
    if (write(STDERR_FILENO, text.data(), text.size()) < 0) return;
}

quietScope_t::quietScope_t(bool on) : on(on) {
    if (!on) return;
    static const bool registered = std::atexit(onExit) == 0;
    (void)registered;
    owner = getpid();
    active = this;
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
    active = nullptr;
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

#include "host/stats.h"

#include <cstdio>
#include <ostream>

namespace vexlar {
namespace host {

void phaseClock_t::start(const std::string& name) {
    stop();
    running = name;
    began = clock_t::now();
}

void phaseClock_t::stop() {
    if (running.empty()) return;
    double s = std::chrono::duration<double>(clock_t::now() - began).count();
    bool found = false;
    for (auto& p : phases)
        if (p.first == running) {
            p.second += s;
            found = true;
        }
    if (!found) phases.emplace_back(running, s);
    running.clear();
}

double phaseClock_t::seconds(const std::string& name) const {
    for (const auto& p : phases)
        if (p.first == name) return p.second;
    return 0.0;
}

void phaseClock_t::report(std::ostream& out, const counters_t& c, int width, int height, int workers) const {
    char line[160];
    double total = 0.0;
    out << "Statistics (" << width << " x " << height << " pixels, " << workers
        << (workers == 1 ? " process" : " worker processes") << ")\n";
    for (const auto& p : phases) {
        std::snprintf(line, sizeof line, "  %-10s %10.3f s\n", p.first.c_str(), p.second);
        out << line;
        total += p.second;
    }
    std::snprintf(line, sizeof line, "  %-10s %10.3f s\n", "total", total);
    out << line;
    double renderTime = seconds("render");
    out << "  mesh rays " << c.rays;
    if (renderTime > 0.0) {
        std::snprintf(line, sizeof line, " (%.0f per second)", c.rays / renderTime);
        out << line;
    }
    out << "\n  counters: rays " << c.rays << ", hitted " << c.hitted << ", leafs " << c.leafs << ", leafst "
        << c.leafst << ", bcount " << c.bcount << "\n";
}

} // namespace host
} // namespace vexlar

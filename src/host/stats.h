// Timing of the program's phases and the render statistics of --stats.
#ifndef VEXLAR_HOST_STATS_H
#define VEXLAR_HOST_STATS_H

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

#include "vexlarcore/statcounters.h"

namespace vexlar {
namespace host {

/// The library's statistics counters at one moment.
using counters_t = statCounters_t;

/// Wall-clock time of named phases, in the order they ran.
class phaseClock_t {
public:
    /// Ends the running phase, if any, and starts `name`.
    void start(const std::string& name);
    /// Ends the running phase.
    void stop();
    /// Seconds spent in `name` (0 when it never ran).
    double seconds(const std::string& name) const;

    /// The --stats report: one line per phase, the total, then the counters
    /// and the mesh rays per second of the render phase.
    void report(std::ostream& out, const counters_t& counters, int width, int height, int workers) const;

private:
    using clock_t = std::chrono::steady_clock;
    std::vector<std::pair<std::string, double>> phases;
    std::string running;
    clock_t::time_point began;
};

} // namespace host
} // namespace vexlar

#endif

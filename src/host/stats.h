// Timing of the program's phases and the render statistics of --stats.
#ifndef VEXLAR_HOST_STATS_H
#define VEXLAR_HOST_STATS_H

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace vexlar {
namespace host {

/// The library's statistics counters at one moment.
struct counters_t {
    std::uint32_t rays = 0;   ///< rays shot at meshes
    std::uint32_t hitted = 0; ///< triangle references met by mesh walks
    std::uint32_t leafs = 0;  ///< triangle-tree leaves built
    std::uint32_t leafst = 0; ///< triangles in those leaves
    std::uint32_t bcount = 0; ///< box tests

    static counters_t now();
    /// This minus `start`, counter by counter (modulo 2^32, as the counters wrap).
    counters_t since(const counters_t& start) const;
};

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

// A snapshot of the library's statistics counters.
#ifndef VEXLARCORE_STATCOUNTERS_H
#define VEXLARCORE_STATCOUNTERS_H

#include <cstdint>

namespace vexlar {

/// The process-wide statistics counters (declared beside the code that
/// counts: `rays` and `hitted` in mesh.h, `leafs` and `leafst` in bsptree.h,
/// `bcount` in bound.h) taken together at one moment. The counters are plain
/// unsigned 32-bit words that wrap; differences are taken modulo 2^32, so a
/// difference stays right across one wrap.
///
/// Thread-safety: the counters themselves are unlocked globals; take and add
/// snapshots on the thread that renders.
struct statCounters_t {
    std::uint32_t rays = 0;   ///< rays shot at meshes
    std::uint32_t hitted = 0; ///< triangle references met by mesh walks
    std::uint32_t leafs = 0;  ///< triangle-tree leaves built
    std::uint32_t leafst = 0; ///< triangles in those leaves
    std::uint32_t bcount = 0; ///< box tests

    /// The counters' values now.
    static statCounters_t now();
    /// This minus `start`, counter by counter (modulo 2^32).
    statCounters_t since(const statCounters_t& start) const;
    /// Adds these values to the process-wide counters (modulo 2^32): how a
    /// parent process takes in what its workers counted.
    void addToGlobals() const;
};

} // namespace vexlar

#endif

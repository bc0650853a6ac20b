// The global photon map: stores photons shot by light plug-ins and answers,
// for a shading point, the K nearest photons whose direction lies within a
// cosine threshold of the normal, adapting its search radius between calls.
//
// Lifecycle: store every photon, call buildTree once, then gather. Storing
// after buildTree drops the tree (its pointers into the photon list would no
// longer be valid): gather then finds nothing until buildTree runs again.
//
// Concurrency: gather is const and keeps its state in its arguments, so
// concurrent gathers on a built map are safe; store and buildTree must not
// run concurrently with anything else on the same map.
#ifndef VEXLARCORE_PHOTON_H
#define VEXLARCORE_PHOTON_H

#include "vexlarcore/bound.h"
#include "vexlarcore/colorutil.h"
#include "vexlarcore/pointtree.h"
#include "vexlarcore/vector3d.h"

#include <vector>

namespace vexlar {

/// One stored photon.
struct storedPhoton_t {
    storedPhoton_t() : pos(0, 0, 0), packedColor(), theta(255), phi(0) {}
    /// A photon at `p` with colour `c` (shared-exponent encoding) arriving
    /// along `dir` (any length; the zero vector means no direction).
    storedPhoton_t(const point3d_t& p, const color_t& c, const vector3d_t& dir);

    /// The decoded direction: (0, 0, 0) when theta is 255.
    vector3d_t direction() const;
    color_t color() const { return packedColor.toColor(); }

    point3d_t pos;
    /// The photon's colour; copied by the map, never read by it.
    rgbe_t packedColor;
    /// Polar index of the direction, 0..254; 255 means no direction.
    unsigned char theta;
    /// Azimuth index of the direction, 0..255.
    unsigned char phi;
};

/// One search result: a photon and its distance from the search point.
struct foundPhoton_t {
    foundPhoton_t() : photon(nullptr), dis(0) {}
    foundPhoton_t(const storedPhoton_t* p, float d) : photon(p), dis(d) {}
    const storedPhoton_t* photon;
    float dis;
};

/// Orders results by distance; result lists are max-heaps under it (the
/// first element is the farthest).
struct compareFound_f {
    bool operator()(const foundPhoton_t& a, const foundPhoton_t& b) const { return a.dis < b.dis; }
};

/// A photon in flight; tracing plug-ins derive from it to add their data.
struct runningPhoton_t {
    runningPhoton_t() : pos(0, 0, 0), lastPos(0, 0, 0) {}
    explicit runningPhoton_t(const point3d_t& p) : pos(p), lastPos(p) {}

    /// Moves to `p`. A move longer than `dist` (strictly) first records the
    /// old position in `lastPos`, starting a new path segment.
    void position(const point3d_t& p, float dist);

    point3d_t pos;
    point3d_t lastPos;
};

/// Functions the point tree is built with: the box of a photon set (for an
/// empty set the box at the origin, not null), containment in a box with
/// inclusive bounds, and a photon's position.
bound_t global_photon_calc_bound(const std::vector<const storedPhoton_t*>& v);
bool global_photon_is_in_bound(const storedPhoton_t* const& p, bound_t& b);
point3d_t global_photon_get_pos(const storedPhoton_t* const& p);

class globalPhotonMap_t {
public:
    /// An empty map whose search radius never exceeds `maxRadius`.
    explicit globalPhotonMap_t(float maxRadius);
    ~globalPhotonMap_t();
    globalPhotonMap_t(const globalPhotonMap_t&) = delete;
    globalPhotonMap_t& operator=(const globalPhotonMap_t&) = delete;

    /// Appends a copy of the photon (and drops the tree, see above).
    void store(const storedPhoton_t& photon);
    /// (Re)builds the search tree over all stored photons (leaf size 8).
    void buildTree();

    /// Adaptive k-nearest search around P. A photon is a candidate when its
    /// distance is at most `radius` and N . direction > minCos (strictly; a
    /// photon without direction never qualifies for minCos >= 0). `found`
    /// receives the K nearest candidates as a max-heap on `dis` (not
    /// sorted). While fewer than K candidates are found, the radius doubles
    /// and the search starts over, until it exceeds `maxRadius`; the last
    /// pass's results are kept. With more than K / 0.49 candidates the
    /// radius shrinks to 0.95 of itself. The radius to pass to the next call
    /// is left in `radius`, never above `maxRadius`.
    ///
    /// K = 0, or a `radius` above `maxRadius` (or NaN), searches nothing and
    /// leaves `found` untouched; `radius` is then clamped to `maxRadius`. A
    /// radius that cannot grow by doubling (0, negative, infinite) gets one
    /// pass. Without a tree (never built, or dropped by store) nothing is
    /// found.
    void gather(const point3d_t& P, const vector3d_t& N, std::vector<foundPhoton_t>& found, unsigned int K,
                float& radius, float minCos) const;

    float maxRadius;
    std::vector<storedPhoton_t> photons;
    gBoundTreeNode_t<const storedPhoton_t*>* tree;
};

} // namespace vexlar

#endif

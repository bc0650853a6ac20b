#include "vexlarcore/photon.h"

#include "vexlarcore/sampling.h"

#include <algorithm>
#include <cmath>

namespace vexlar {

namespace {

// |a - b| with the square root taken in double precision.
float distance(const point3d_t& a, const point3d_t& b) {
    const vector3d_t v = a - b;
    return static_cast<float>(std::sqrt(static_cast<double>(v * v)));
}

typedef gObjectIterator_t<const storedPhoton_t*, searchCircle_t, circleCross_f> photonIterator_t;

} // namespace

storedPhoton_t::storedPhoton_t(const point3d_t& p, const color_t& c, const vector3d_t& dir)
    : pos(p), packedColor(c), theta(255), phi(0) {
    dirconverter.encode(dir, theta, phi);
}

vector3d_t storedPhoton_t::direction() const {
    return dirconverter.convert(theta, phi);
}

void runningPhoton_t::position(const point3d_t& p, float dist) {
    if (distance(pos, p) > dist) lastPos = pos;
    pos = p;
}

bound_t global_photon_calc_bound(const std::vector<const storedPhoton_t*>& v) {
    if (v.empty()) return bound_t(point3d_t(0, 0, 0), point3d_t(0, 0, 0));
    point3d_t lo = v.front()->pos, hi = v.front()->pos;
    for (const storedPhoton_t* p : v) {
        lo.set(std::min(lo.x, p->pos.x), std::min(lo.y, p->pos.y), std::min(lo.z, p->pos.z));
        hi.set(std::max(hi.x, p->pos.x), std::max(hi.y, p->pos.y), std::max(hi.z, p->pos.z));
    }
    return bound_t(lo, hi);
}

bool global_photon_is_in_bound(const storedPhoton_t* const& p, bound_t& b) {
    const point3d_t& q = p->pos;
    return b.a.x <= q.x && q.x <= b.g.x && b.a.y <= q.y && q.y <= b.g.y && b.a.z <= q.z && q.z <= b.g.z;
}

point3d_t global_photon_get_pos(const storedPhoton_t* const& p) {
    return p->pos;
}

globalPhotonMap_t::globalPhotonMap_t(float maxR) : maxRadius(maxR), tree(nullptr) {}

globalPhotonMap_t::~globalPhotonMap_t() {
    delete tree;
}

void globalPhotonMap_t::store(const storedPhoton_t& photon) {
    // The tree points into `photons`, which may move now.
    delete tree;
    tree = nullptr;
    photons.push_back(photon);
}

void globalPhotonMap_t::buildTree() {
    std::vector<const storedPhoton_t*> pointers;
    pointers.reserve(photons.size());
    for (const storedPhoton_t& p : photons) pointers.push_back(&p);
    delete tree;
    tree = nullptr;
    tree = buildGenericTree(pointers, global_photon_calc_bound, global_photon_is_in_bound,
                            global_photon_get_pos, 8, 1, false, false, false);
}

void globalPhotonMap_t::gather(const point3d_t& P, const vector3d_t& N, std::vector<foundPhoton_t>& found,
                               unsigned int K, float& radius, float minCos) const {
    const bool search = K != 0 && !(radius > maxRadius) && !std::isnan(radius);
    if (search) {
        const compareFound_f cmp;
        unsigned int n = 0;
        for (;;) {
            found.clear();
            n = 0;
            const searchCircle_t circle(P, radius);
            for (photonIterator_t it(tree, circle); !it.finished; ++it) {
                const storedPhoton_t* photon = *it;
                const float d = distance(photon->pos, P);
                if (!(d <= radius)) continue;
                if (!(N * photon->direction() > minCos)) continue;
                ++n;
                if (found.size() < K) {
                    found.push_back(foundPhoton_t(photon, d));
                    std::push_heap(found.begin(), found.end(), cmp);
                } else if (d <= found.front().dis) {
                    // Pushed below an equally far top, so the old farthest
                    // result is the one popped.
                    found.push_back(foundPhoton_t(photon, d));
                    std::push_heap(found.begin(), found.end(), cmp);
                    std::pop_heap(found.begin(), found.end(), cmp);
                    found.pop_back();
                }
            }
            if (n >= K) break;
            const float grown = radius + radius;
            // A radius of 0, a negative or an infinite one would never pass
            // maxRadius by doubling.
            if (!(grown > radius)) break;
            radius = grown;
            if (radius > maxRadius) break;
        }
        if (n > K && static_cast<float>(K) / static_cast<float>(n) < 0.49f) radius = radius * 0.95f;
    }
    if (radius > maxRadius || std::isnan(radius)) radius = maxRadius;
}

} // namespace vexlar

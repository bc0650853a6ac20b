#include "vexlarcore/bound.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace vexlar {

std::uint32_t bcount = 0;

bound_t::bound_t(const bound_t& r, const bound_t& l)
    : null(false), a(std::min(r.a.x, l.a.x), std::min(r.a.y, l.a.y), std::min(r.a.z, l.a.z)),
      g(std::max(r.g.x, l.g.x), std::max(r.g.y, l.g.y), std::max(r.g.z, l.g.z)) {}

float bound_t::vol() const {
    float v = (g.y - a.y) * (g.x - a.x) * (g.z - a.z);
    if (v < 0) {
        std::printf("warning usorted bounding points\n");
    }
    return v;
}

float b_intersect(const bound_t& l, const bound_t& r) {
    float ax = std::max(l.a.x, r.a.x), ay = std::max(l.a.y, r.a.y), az = std::max(l.a.z, r.a.z);
    float gx = std::min(l.g.x, r.g.x), gy = std::min(l.g.y, r.g.y), gz = std::min(l.g.z, r.g.z);
    if (gx > ax && gy > ay && gz > az) {
        return (gx - ax) * (gy - ay) * (gz - az);
    }
    return 0;
}

float bound_distance(const bound_t& l, const bound_t& r) {
    bound_t u(l, r);
    // Each volume goes through vol() twice, as the cost is written, so that a
    // broken box reports itself on both evaluations.
    float waste = u.vol() - l.vol() - r.vol() + b_intersect(l, r);
    if (waste < 0) {
        waste = 0;
    }
    return waste + u.vol() + std::fabs(l.vol() - r.vol());
}

namespace {

// One slab of the test: the entry and exit parameters of the ray between the
// planes lo and hi of one axis, merged into [lmin, lmax]. `first` is the
// first slab taken (it sets both ends), `early` the slabs followed by an
// early rejection. False when the ray is rejected.
template <bool first, bool early>
inline bool slab(float o, float r, float lo, float hi, bool limited, float dist, float& lmin, float& lmax) {
    const float inv = 1.0f / r;
    const float d = o - lo;
    float t0 = -d * inv;
    float t1 = ((hi - lo) - d) * inv;
    if (t0 > t1) std::swap(t0, t1);
    if (first) {
        lmin = t0;
        lmax = t1;
    } else {
        lmin = std::max(lmin, t0);
        if (t1 < lmax || lmax < 0) lmax = t1;
    }
    return !(early && (lmax < 0 || (limited && lmin > dist)));
}

} // namespace

bool bound_t::slabs(const point3d_t& from, const vector3d_t& ray, bool limited, float dist, float& enter,
                    float& leave) const {
    // A negative lmax means no slab has set it yet. A zero direction
    // component skips its slab. The x slab sets both ends, y and z merge
    // into them (into lmin = lmax = -1 when x was skipped).
    float lmin = -1, lmax = -1;
    if (ray.x != 0 && !slab<true, true>(from.x, ray.x, a.x, g.x, limited, dist, lmin, lmax)) return false;
    if (ray.y != 0 && !slab<false, true>(from.y, ray.y, a.y, g.y, limited, dist, lmin, lmax)) return false;
    // The z slab has no early exit; the final test below covers it.
    if (ray.z != 0) slab<false, false>(from.z, ray.z, a.z, g.z, limited, dist, lmin, lmax);
    if (lmin > lmax) {
        return false;
    }
    if (lmax < 0 || (limited && lmin > dist)) {
        return false;
    }
    enter = lmin >= 0 ? lmin : 0;
    leave = lmax;
    return true;
}

bool bound_t::cross(const point3d_t& from, const vector3d_t& ray) const {
    ++bcount;
    float enter, leave;
    return slabs(from, ray, false, 0, enter, leave);
}

bool bound_t::cross(const point3d_t& from, const vector3d_t& ray, float dist) const {
    float enter, leave;
    return slabs(from, ray, true, dist, enter, leave);
}

bool bound_t::cross(const point3d_t& from, const vector3d_t& ray, float& where, float dist) const {
    float leave;
    return slabs(from, ray, true, dist, where, leave);
}

bool bound_t::cross(const point3d_t& from, const vector3d_t& ray, float& enter, float& leave,
                    float dist) const {
    return slabs(from, ray, true, dist, enter, leave);
}

} // namespace vexlar

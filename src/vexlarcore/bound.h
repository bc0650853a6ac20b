// Axis-aligned bounding boxes with the ray slab tests and the pairing cost
// used by the agglomerative tree builder.
//
// All arithmetic is single precision. Every operation is const and
// reentrant; only the statistics counter `bcount` is shared (unlocked).
#ifndef VEXLARCORE_BOUND_H
#define VEXLARCORE_BOUND_H

#include "vexlarcore/vector3d.h"

#include <cstdint>

namespace vexlar {

/// Number of calls of the unlimited slab test `bound_t::cross(from, ray)`.
/// Statistics only; incremented without synchronisation. Unsigned so that a
/// long render wraps around instead of overflowing.
extern std::uint32_t bcount;

/// An axis-aligned box with lower corner `a` and upper corner `g`.
///
/// Every operation expects `a <= g` component-wise; nothing enforces it,
/// `vol` prints a warning when the product of the extents is negative.
class bound_t {
public:
    /// A null box: `null` true, both corners at the origin.
    bound_t() : null(true), a(0, 0, 0), g(0, 0, 0) {}
    /// A box with the given corners; `null` false.
    bound_t(const point3d_t& lower, const point3d_t& upper) : null(false), a(lower), g(upper) {}
    bound_t(const bound_t& b) = default;
    bound_t& operator=(const bound_t& b) = default;
    /// The union of two boxes: component-wise minimum of the lower corners and
    /// maximum of the upper corners; `null` false (whatever the inputs' flags).
    bound_t(const bound_t& r, const bound_t& l);

    /// Sets both corners and clears `null`.
    void set(const point3d_t& lower, const point3d_t& upper) {
        a = lower;
        g = upper;
        null = false;
    }

    /// Volume (g.y-a.y)*(g.x-a.x)*(g.z-a.z), multiplied in that order. A
    /// negative product (unsorted corners) writes
    /// "warning usorted bounding points\n" to standard output and is returned
    /// as it is.
    float vol() const;

    /// Slab test of the ray from + t*ray against the box, t in multiples of
    /// `ray`, without a distance limit. Counts itself in `bcount`.
    bool cross(const point3d_t& from, const vector3d_t& ray) const;
    /// Slab test with a limit: false when the entry parameter exceeds `dist`
    /// (strictly; an entry exactly at `dist` crosses).
    bool cross(const point3d_t& from, const vector3d_t& ray, float dist) const;
    /// As above; on success `where` receives the entry parameter, or 0 when
    /// the ray starts inside the box. Untouched on failure.
    bool cross(const point3d_t& from, const vector3d_t& ray, float& where, float dist) const;
    /// As above; on success also `leave` receives the exit parameter.
    bool cross(const point3d_t& from, const vector3d_t& ray, float& enter, float& leave, float dist) const;

    // A component of `ray` that is exactly 0 skips its slab without checking
    // that `from` lies between its planes: such a ray may be reported as
    // crossing a box it misses (conservative; callers test the contents).
    // A zero ray never crosses.

    bool null;
    point3d_t a;
    point3d_t g;

private:
    // Shared slab test: entry and exit parameter in enter/leave. `limited`
    // selects the distance comparisons of the limited forms.
    bool slabs(const point3d_t& from, const vector3d_t& ray, bool limited, float dist, float& enter,
               float& leave) const;
};

/// A ray prepared for many box tests: its origin, its direction and the
/// direction's reciprocals, computed once instead of in every test. The zero
/// checks look at the direction itself, so a test sees exactly the floats
/// `bound_t::cross` computes.
struct boxRay_t {
    boxRay_t(const point3d_t& f, const vector3d_t& r)
        : from(f), ray(r), inv(1.0f / r.x, 1.0f / r.y, 1.0f / r.z) {}
    point3d_t from;
    vector3d_t ray;
    vector3d_t inv;
};

namespace boxTest {

// One slab of the limited test, as bound_t::cross computes it, with the
// reciprocal of the direction component given. `first`: the first slab
// taken (sets both ends); `early`: a rejection test follows.
template <bool first, bool early>
inline bool slab(float o, float inv, float lo, float hi, float dist, float& lmin, float& lmax) {
    const float d = o - lo;
    float t0 = -d * inv;
    float t1 = ((hi - lo) - d) * inv;
    if (t0 > t1) {
        const float s = t0;
        t0 = t1;
        t1 = s;
    }
    if (first) {
        lmin = t0;
        lmax = t1;
    } else {
        lmin = lmin < t0 ? t0 : lmin;
        if (t1 < lmax || lmax < 0) lmax = t1;
    }
    return !(early && (lmax < 0 || lmin > dist));
}

} // namespace boxTest

/// The limited test `b.cross(r.from, r.ray, where, dist)`, inline: the same
/// comparisons on the same floats, `where` set only on success.
inline bool crossBox(const bound_t& b, const boxRay_t& r, float& where, float dist) {
    float lmin = -1, lmax = -1;
    if (r.ray.x != 0 && !boxTest::slab<true, true>(r.from.x, r.inv.x, b.a.x, b.g.x, dist, lmin, lmax))
        return false;
    if (r.ray.y != 0 && !boxTest::slab<false, true>(r.from.y, r.inv.y, b.a.y, b.g.y, dist, lmin, lmax))
        return false;
    if (r.ray.z != 0) boxTest::slab<false, false>(r.from.z, r.inv.z, b.a.z, b.g.z, dist, lmin, lmax);
    if (lmin > lmax || lmax < 0 || lmin > dist) return false;
    where = lmin >= 0 ? lmin : 0;
    return true;
}

/// Volume of the overlap of two boxes; 0 unless the overlap has a strictly
/// positive extent on all three axes (boxes that only touch give 0).
float b_intersect(const bound_t& l, const bound_t& r);

/// Pairing cost of two boxes: with U their union,
/// waste = max(0, vol(U) - vol(l) - vol(r) + b_intersect(l, r)), result =
/// waste + vol(U) + |vol(l) - vol(r)|. Smaller means a better pair. Volumes
/// go through `vol`, so unsorted boxes print its warning (twice each).
float bound_distance(const bound_t& l, const bound_t& r);

} // namespace vexlar

#endif

// Axis-aligned bounding boxes with the ray slab tests and the pairing cost
// used by the agglomerative tree builder.
//
// All arithmetic is single precision. Every operation is const and
// reentrant; only the statistics counter `bcount` is shared (unlocked).
#ifndef VEXLARCORE_BOUND_H
#define VEXLARCORE_BOUND_H

#include "vexlarcore/vector3d.h"

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The vector box test reads a and g as six contiguous floats.
static_assert(sizeof(point3d_t) == 3 * sizeof(float) && offsetof(bound_t, g) == offsetof(bound_t, a) + 12,
              "bound_t keeps its corners' coordinates contiguous");

/// A ray prepared for many box tests: its origin, its direction and the
/// direction's reciprocals, computed once instead of in every test. The zero
/// checks look at the direction itself, so a test sees exactly the floats
/// `bound_t::cross` computes.
struct boxRay_t {
    boxRay_t(const point3d_t& f, const vector3d_t& r)
        : from(f), ray(r), inv(1.0f / r.x, 1.0f / r.y, 1.0f / r.z), hasX(r.x != 0), hasY(r.y != 0),
          hasZ(r.z != 0), origin4{f.x, f.y, f.z, 0.0f}, inv4{inv.x, inv.y, inv.z, 0.0f} {}
    point3d_t from;
    vector3d_t ray;
    vector3d_t inv;
    /// Axes whose slab is taken (a zero component skips its slab).
    bool hasX, hasY, hasZ;
    /// The origin and the reciprocals as four-float rows for vector code.
    alignas(16) float origin4[4];
    alignas(16) float inv4[4];
};

namespace boxTest {

// The entry and exit parameters t0 <= t1 of the ray between the planes of
// each axis, computed as bound_t::cross does: d = o - lo,
// t0 = -d * inv, t1 = ((hi - lo) - d) * inv, swapped when t0 > t1.
inline void slabParameters(const bound_t& b, const boxRay_t& r, float t0[4], float t1[4]) {
#if defined(__SSE2__)
    // The box's floats are contiguous: a.x a.y a.z g.x g.y g.z.
    const __m128 lo = _mm_loadu_ps(&b.a.x);                                  // a.x a.y a.z g.x
    const __m128 upper = _mm_loadu_ps(&b.a.z);                               // a.z g.x g.y g.z
    const __m128 hi = _mm_shuffle_ps(upper, upper, _MM_SHUFFLE(0, 3, 2, 1)); // g.x g.y g.z a.z
    const __m128 inv = _mm_load_ps(r.inv4);
    const __m128 d = _mm_sub_ps(_mm_load_ps(r.origin4), lo);
    const __m128 negD = _mm_xor_ps(d, _mm_set1_ps(-0.0f));
    const __m128 a = _mm_mul_ps(negD, inv);
    const __m128 c = _mm_mul_ps(_mm_sub_ps(_mm_sub_ps(hi, lo), d), inv);
    // Swap where a > c: no swap (a kept first) when the comparison is false.
    const __m128 swap = _mm_cmpgt_ps(a, c);
    _mm_storeu_ps(t0, _mm_or_ps(_mm_and_ps(swap, c), _mm_andnot_ps(swap, a)));
    _mm_storeu_ps(t1, _mm_or_ps(_mm_and_ps(swap, a), _mm_andnot_ps(swap, c)));
#else
    const float o[3] = {r.from.x, r.from.y, r.from.z}, iv[3] = {r.inv.x, r.inv.y, r.inv.z};
    const float lo[3] = {b.a.x, b.a.y, b.a.z}, hi[3] = {b.g.x, b.g.y, b.g.z};
    for (int k = 0; k < 3; ++k) {
        const float d = o[k] - lo[k];
        const float a = -d * iv[k], c = ((hi[k] - lo[k]) - d) * iv[k];
        t0[k] = a > c ? c : a;
        t1[k] = a > c ? a : c;
    }
#endif
}

} // namespace boxTest

/// The limited test `b.cross(r.from, r.ray, where, dist)`, inline: the same
/// comparisons on the same floats, `where` set only on success. The early
/// rejections of the slab-by-slab test are gathered into one flag instead of
/// leaving at once; what follows a rejection never clears it, so the answer
/// is the same.
inline bool crossBox(const bound_t& b, const boxRay_t& r, float& where, float dist) {
    alignas(16) float t0[4], t1[4];
    boxTest::slabParameters(b, r, t0, t1);
    float lmin = -1, lmax = -1;
    bool reject = false;
    if (r.hasX) {
        lmin = t0[0];
        lmax = t1[0];
        reject = (lmax < 0) | (lmin > dist);
    }
    if (r.hasY) {
        lmin = lmin < t0[1] ? t0[1] : lmin;
        lmax = ((t1[1] < lmax) | (lmax < 0)) ? t1[1] : lmax;
        reject |= (lmax < 0) | (lmin > dist);
    }
    if (r.hasZ) {
        lmin = lmin < t0[2] ? t0[2] : lmin;
        lmax = ((t1[2] < lmax) | (lmax < 0)) ? t1[2] : lmax;
    }
    reject |= (lmin > lmax) | (lmax < 0) | (lmin > dist);
    if (reject) return false;
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

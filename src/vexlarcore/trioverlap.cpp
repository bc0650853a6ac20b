#include "vexlarcore/trioverlap.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexlar {

bool planeBoxOverlap(const vector3d_t& normal, float d, const point3d_t& maxbox) {
    const float n[3] = {normal.x, normal.y, normal.z};
    const float m[3] = {maxbox.x, maxbox.y, maxbox.z};
    float lo[3], hi[3];
    for (int q = 0; q < 3; ++q) {
        if (n[q] > 0.0f) {
            lo[q] = -m[q];
            hi[q] = m[q];
        } else {
            lo[q] = m[q];
            hi[q] = -m[q];
        }
    }
    const vector3d_t vmin(lo[0], lo[1], lo[2]), vmax(hi[0], hi[1], hi[2]);
    if (normal * vmin + d > 0.0f) return false;
    return normal * vmax + d >= 0.0f;
}

namespace {

// One separating-axis test: the projections p and q of two vertices on the
// axis against the box's projected radius.
inline bool separated(float p, float q, float rad) {
    const float mn = p < q ? p : q;
    const float mx = p < q ? q : p;
    return mn > rad || mx < -rad;
}

inline void minMax3(float a, float b, float c, float& mn, float& mx) {
    mn = mx = a;
    if (b < mn) mn = b;
    if (b > mx) mx = b;
    if (c < mn) mn = c;
    if (c > mx) mx = c;
}

} // namespace

bool triBoxOverlap(const bound_t& box, const point3d_t& p1, const point3d_t& p2, const point3d_t& p3) {
    const point3d_t m((box.a.x + box.g.x) * 0.5f, (box.a.y + box.g.y) * 0.5f, (box.a.z + box.g.z) * 0.5f);
    const point3d_t h(box.g.x - m.x, box.g.y - m.y, box.g.z - m.z);
    const vector3d_t v0 = p1 - m, v1 = p2 - m, v2 = p3 - m;
    const vector3d_t e0 = v1 - v0, e1 = v2 - v1, e2 = v0 - v2;

    // The nine axes edge x unit axis. For each, the third vertex projects
    // onto one of the two tested.
    float fex = std::fabs(e0.x), fey = std::fabs(e0.y), fez = std::fabs(e0.z);
    if (separated(e0.z * v0.y - e0.y * v0.z, e0.z * v2.y - e0.y * v2.z, fez * h.y + fey * h.z)) return false;
    if (separated(-e0.z * v0.x + e0.x * v0.z, -e0.z * v2.x + e0.x * v2.z, fez * h.x + fex * h.z))
        return false;
    if (separated(e0.y * v1.x - e0.x * v1.y, e0.y * v2.x - e0.x * v2.y, fey * h.x + fex * h.y)) return false;

    fex = std::fabs(e1.x), fey = std::fabs(e1.y), fez = std::fabs(e1.z);
    if (separated(e1.z * v0.y - e1.y * v0.z, e1.z * v2.y - e1.y * v2.z, fez * h.y + fey * h.z)) return false;
    if (separated(-e1.z * v0.x + e1.x * v0.z, -e1.z * v2.x + e1.x * v2.z, fez * h.x + fex * h.z))
        return false;
    if (separated(e1.y * v0.x - e1.x * v0.y, e1.y * v1.x - e1.x * v1.y, fey * h.x + fex * h.y)) return false;

    fex = std::fabs(e2.x), fey = std::fabs(e2.y), fez = std::fabs(e2.z);
    if (separated(e2.z * v0.y - e2.y * v0.z, e2.z * v1.y - e2.y * v1.z, fez * h.y + fey * h.z)) return false;
    if (separated(-e2.z * v0.x + e2.x * v0.z, -e2.z * v1.x + e2.x * v1.z, fez * h.x + fex * h.z))
        return false;
    if (separated(e2.y * v1.x - e2.x * v1.y, e2.y * v2.x - e2.x * v2.y, fey * h.x + fex * h.y)) return false;

    // The box's face normals.
    float mn, mx;
    minMax3(v0.x, v1.x, v2.x, mn, mx);
    if (mn > h.x || mx < -h.x) return false;
    minMax3(v0.y, v1.y, v2.y, mn, mx);
    if (mn > h.y || mx < -h.y) return false;
    minMax3(v0.z, v1.z, v2.z, mn, mx);
    if (mn > h.z || mx < -h.z) return false;

    // The triangle's plane.
    const vector3d_t normal = e0 ^ e1;
    const float d = -(normal * v0);
    return planeBoxOverlap(normal, d, h);
}

#if defined(__SSE2__)

namespace {

// Four lanes of the one-triangle test. Every helper is the lane-wise form of
// a scalar expression above, with its comparisons (which are false for NaN
// operands, as the scalar ones) and its order of operations.
typedef __m128 lane_t;

inline lane_t select(lane_t mask, lane_t a, lane_t b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}
inline lane_t negate(lane_t a) {
    return _mm_xor_ps(a, _mm_set1_ps(-0.0f));
}
inline lane_t absolute(lane_t a) {
    return _mm_andnot_ps(_mm_set1_ps(-0.0f), a);
}

// separated(p, q, rad) as a lane mask.
inline lane_t separated4(lane_t p, lane_t q, lane_t rad) {
    const lane_t less = _mm_cmplt_ps(p, q);
    const lane_t mn = select(less, p, q);
    const lane_t mx = select(less, q, p);
    return _mm_or_ps(_mm_cmpgt_ps(mn, rad), _mm_cmplt_ps(mx, negate(rad)));
}

// The face test of one axis: minMax3 of the three values against ±h.
inline lane_t outsideSlab4(lane_t a, lane_t b, lane_t c, lane_t h) {
    lane_t mn = a, mx = a;
    mn = select(_mm_cmplt_ps(b, mn), b, mn);
    mx = select(_mm_cmpgt_ps(b, mx), b, mx);
    mn = select(_mm_cmplt_ps(c, mn), c, mn);
    mx = select(_mm_cmpgt_ps(c, mx), c, mx);
    return _mm_or_ps(_mm_cmpgt_ps(mn, h), _mm_cmplt_ps(mx, negate(h)));
}

inline lane_t mul(lane_t a, lane_t b) {
    return _mm_mul_ps(a, b);
}
inline lane_t sub(lane_t a, lane_t b) {
    return _mm_sub_ps(a, b);
}
inline lane_t add(lane_t a, lane_t b) {
    return _mm_add_ps(a, b);
}

struct vec4_t {
    lane_t x, y, z;
};

inline vec4_t sub(const vec4_t& a, const vec4_t& b) {
    return {sub(a.x, b.x), sub(a.y, b.y), sub(a.z, b.z)};
}
// a·b as (a.x*b.x + a.y*b.y) + a.z*b.z.
inline lane_t dot(const vec4_t& a, const vec4_t& b) {
    return add(add(mul(a.x, b.x), mul(a.y, b.y)), mul(a.z, b.z));
}
inline vec4_t crossProduct(const vec4_t& a, const vec4_t& b) {
    return {sub(mul(a.y, b.z), mul(a.z, b.y)), sub(mul(a.z, b.x), mul(a.x, b.z)),
            sub(mul(a.x, b.y), mul(a.y, b.x))};
}

// The nine edge axes of one edge e, whose tests use the vertices (va, vb)
// for the x axis, (vc, vd) for y and (ve, vf) for z.
inline lane_t edgeAxes4(const vec4_t& e, const vec4_t& va, const vec4_t& vb, const vec4_t& vc,
                        const vec4_t& vd, const vec4_t& ve, const vec4_t& vf, const vec4_t& h) {
    const lane_t fex = absolute(e.x), fey = absolute(e.y), fez = absolute(e.z);
    lane_t sep = separated4(sub(mul(e.z, va.y), mul(e.y, va.z)), sub(mul(e.z, vb.y), mul(e.y, vb.z)),
                            add(mul(fez, h.y), mul(fey, h.z)));
    const lane_t nez = negate(e.z);
    sep = _mm_or_ps(sep, separated4(add(mul(nez, vc.x), mul(e.x, vc.z)), add(mul(nez, vd.x), mul(e.x, vd.z)),
                                    add(mul(fez, h.x), mul(fex, h.z))));
    sep = _mm_or_ps(sep, separated4(sub(mul(e.y, ve.x), mul(e.x, ve.y)), sub(mul(e.y, vf.x), mul(e.x, vf.y)),
                                    add(mul(fey, h.x), mul(fex, h.y))));
    return sep;
}

} // namespace

void triBoxOverlap4(const bound_t& box, const triangleCorners_t* const tris[4], int count, bool overlaps[4]) {
    if (count <= 0) return;
    const float mx = (box.a.x + box.g.x) * 0.5f, my = (box.a.y + box.g.y) * 0.5f,
                mz = (box.a.z + box.g.z) * 0.5f;
    const vec4_t h = {_mm_set1_ps(box.g.x - mx), _mm_set1_ps(box.g.y - my), _mm_set1_ps(box.g.z - mz)};
    const vec4_t m = {_mm_set1_ps(mx), _mm_set1_ps(my), _mm_set1_ps(mz)};

    // Lanes past `count` repeat the first triangle; their answers are dropped.
    const triangleCorners_t* t[4];
    for (int k = 0; k < 4; ++k) t[k] = tris[k < count ? k : 0];
    vec4_t p[3];
    for (int v = 0; v < 3; ++v) {
        p[v].x = _mm_setr_ps(t[0]->c[v][0], t[1]->c[v][0], t[2]->c[v][0], t[3]->c[v][0]);
        p[v].y = _mm_setr_ps(t[0]->c[v][1], t[1]->c[v][1], t[2]->c[v][1], t[3]->c[v][1]);
        p[v].z = _mm_setr_ps(t[0]->c[v][2], t[1]->c[v][2], t[2]->c[v][2], t[3]->c[v][2]);
    }
    const vec4_t v0 = sub(p[0], m), v1 = sub(p[1], m), v2 = sub(p[2], m);
    const vec4_t e0 = sub(v1, v0), e1 = sub(v2, v1), e2 = sub(v0, v2);

    lane_t sep = edgeAxes4(e0, v0, v2, v0, v2, v1, v2, h);
    sep = _mm_or_ps(sep, edgeAxes4(e1, v0, v2, v0, v2, v0, v1, h));
    sep = _mm_or_ps(sep, edgeAxes4(e2, v0, v1, v0, v1, v1, v2, h));
    sep = _mm_or_ps(sep, outsideSlab4(v0.x, v1.x, v2.x, h.x));
    sep = _mm_or_ps(sep, outsideSlab4(v0.y, v1.y, v2.y, h.y));
    sep = _mm_or_ps(sep, outsideSlab4(v0.z, v1.z, v2.z, h.z));

    // planeBoxOverlap(normal, d, h).
    const vec4_t normal = crossProduct(e0, e1);
    const lane_t d = negate(dot(normal, v0));
    const lane_t zero = _mm_setzero_ps();
    vec4_t vmin, vmax;
    const lane_t gx = _mm_cmpgt_ps(normal.x, zero), gy = _mm_cmpgt_ps(normal.y, zero),
                 gz = _mm_cmpgt_ps(normal.z, zero);
    vmin.x = select(gx, negate(h.x), h.x);
    vmax.x = select(gx, h.x, negate(h.x));
    vmin.y = select(gy, negate(h.y), h.y);
    vmax.y = select(gy, h.y, negate(h.y));
    vmin.z = select(gz, negate(h.z), h.z);
    vmax.z = select(gz, h.z, negate(h.z));
    const lane_t planeAbove = _mm_cmpgt_ps(add(dot(normal, vmin), d), zero);
    const lane_t planeReached = _mm_cmpge_ps(add(dot(normal, vmax), d), zero);
    const lane_t overlap = _mm_andnot_ps(_mm_or_ps(sep, planeAbove), planeReached);

    const int bits = _mm_movemask_ps(overlap);
    for (int k = 0; k < count; ++k) overlaps[k] = (bits >> k) & 1;
}

#else

void triBoxOverlap4(const bound_t& box, const triangleCorners_t* const tris[4], int count, bool overlaps[4]) {
    for (int k = 0; k < count && k < 4; ++k) {
        const auto& c = tris[k]->c;
        overlaps[k] =
            triBoxOverlap(box, point3d_t(c[0][0], c[0][1], c[0][2]), point3d_t(c[1][0], c[1][1], c[1][2]),
                          point3d_t(c[2][0], c[2][1], c[2][2]));
    }
}

#endif

} // namespace vexlar

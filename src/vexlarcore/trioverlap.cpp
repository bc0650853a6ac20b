#include "vexlarcore/trioverlap.h"

#include <cmath>

#if defined(__SSE2__)
#include "vexlarcore/simd/lanes_sse.h"
#include "vexlarcore/simd/satkernel.h"

#include <xmmintrin.h>
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

// ---------------------------------------------------------------------------
// Batches

namespace {

// A box as the one-triangle test sees it: centre and half-sizes.
struct boxFrame_t {
    float m[3], h[3];
    explicit boxFrame_t(const bound_t& box) {
        m[0] = (box.a.x + box.g.x) * 0.5f;
        m[1] = (box.a.y + box.g.y) * 0.5f;
        m[2] = (box.a.z + box.g.z) * 0.5f;
        h[0] = box.g.x - m[0];
        h[1] = box.g.y - m[1];
        h[2] = box.g.z - m[2];
    }
};

} // namespace

#if defined(VEXLAR_HAVE_AVX_KERNELS)
// trioverlap_avx.cpp, compiled for AVX2: the pair test in eight lanes.
int triBoxOverlapPairAvx(const float* mA, const float* hA, const float* mB, const float* hB,
                         const float* const rows[4]);

namespace {
// Checked once; the explicit init makes the check valid during the
// library's static initialisation.
const bool avxAvailable = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
} // namespace
#endif

#if defined(__SSE2__)

namespace {

// The overlap bits of four records against one box.
int overlapBits4(const boxFrame_t& f, const triangleRecord_t* const t[4]) {
    typedef sseLanes_t L;
    __m128 a0 = _mm_load_ps(&t[0]->corners.c[0][0]), a1 = _mm_load_ps(&t[1]->corners.c[0][0]),
           a2 = _mm_load_ps(&t[2]->corners.c[0][0]), a3 = _mm_load_ps(&t[3]->corners.c[0][0]);
    __m128 b0 = _mm_load_ps(&t[0]->corners.c[1][1]), b1 = _mm_load_ps(&t[1]->corners.c[1][1]),
           b2 = _mm_load_ps(&t[2]->corners.c[1][1]), b3 = _mm_load_ps(&t[3]->corners.c[1][1]);
    __m128 c0 = _mm_load_ps(&t[0]->corners.c[2][2]), c1 = _mm_load_ps(&t[1]->corners.c[2][2]),
           c2 = _mm_load_ps(&t[2]->corners.c[2][2]), c3 = _mm_load_ps(&t[3]->corners.c[2][2]);
    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
    _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    const lanes3_t<L> p0 = {a0, a1, a2}, p1 = {a3, b0, b1}, p2 = {b2, b3, c0};
    const lanes3_t<L> m = {L::set1(f.m[0]), L::set1(f.m[1]), L::set1(f.m[2])};
    const lanes3_t<L> h = {L::set1(f.h[0]), L::set1(f.h[1]), L::set1(f.h[2])};
    return L::bits(overlapLanes<L>(p0, p1, p2, m, h));
}

} // namespace

#endif

namespace {

// The records of the batch with the lanes past `count` repeating the first.
[[maybe_unused]] void fillLanes(const triangleRecord_t* const tris[4], int count,
                                const triangleRecord_t* lanes[4]) {
    for (int k = 0; k < 4; ++k) lanes[k] = tris[k < count ? k : 0];
}

} // namespace

void triBoxOverlap4(const bound_t& box, const triangleRecord_t* const tris[4], int count, bool overlaps[4]) {
    if (count <= 0) return;
#if defined(__SSE2__)
    const triangleRecord_t* lanes[4];
    fillLanes(tris, count, lanes);
    const int bits = overlapBits4(boxFrame_t(box), lanes);
    for (int k = 0; k < count; ++k) overlaps[k] = (bits >> k) & 1;
#else
    for (int k = 0; k < count; ++k) {
        const auto& c = tris[k]->corners.c;
        overlaps[k] =
            triBoxOverlap(box, point3d_t(c[0][0], c[0][1], c[0][2]), point3d_t(c[1][0], c[1][1], c[1][2]),
                          point3d_t(c[2][0], c[2][1], c[2][2]));
    }
#endif
}

void triBoxOverlapPair(const bound_t& boxA, const bound_t& boxB, const triangleRecord_t* const tris[4],
                       int count, bool inA[4], bool inB[4]) {
    if (count <= 0) return;
#if defined(VEXLAR_HAVE_AVX_KERNELS)
    if (avxAvailable) {
        const triangleRecord_t* lanes[4];
        fillLanes(tris, count, lanes);
        const boxFrame_t fa(boxA), fb(boxB);
        const float* rows[4] = {&lanes[0]->corners.c[0][0], &lanes[1]->corners.c[0][0],
                                &lanes[2]->corners.c[0][0], &lanes[3]->corners.c[0][0]};
        const int bits = triBoxOverlapPairAvx(fa.m, fa.h, fb.m, fb.h, rows);
        for (int k = 0; k < count; ++k) {
            inA[k] = (bits >> k) & 1;
            inB[k] = (bits >> (k + 4)) & 1;
        }
        return;
    }
#endif
    triBoxOverlap4(boxA, tris, count, inA);
    triBoxOverlap4(boxB, tris, count, inB);
}

} // namespace vexlar

// The pair test of triBoxOverlapPair in eight AVX2 lanes: four triangles
// against two boxes. This file alone is compiled for AVX2; the library calls
// it only after checking that the processor has AVX2. It includes nothing but
// the intrinsics and the lane kernels, whose functions have internal linkage,
// so no AVX code can stand in for code other files share.
#if defined(__AVX2__)

#include "vexlarcore/simd/lanes_avx.h"
#include "vexlarcore/simd/satkernel.h"

#include <immintrin.h>

namespace vexlar {

int triBoxOverlapPairAvx(const float* mA, const float* hA, const float* mB, const float* hB,
                         const float* const rows[4]);

namespace {

// Both halves hold the same four values: box A is tested in lanes 0-3,
// box B in lanes 4-7.
__m256 twice(__m128 x) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(x), x, 1);
}

__m256 perHalf(float a, float b) {
    return _mm256_insertf128_ps(_mm256_set1_ps(a), _mm_set1_ps(b), 1);
}

} // namespace

int triBoxOverlapPairAvx(const float* mA, const float* hA, const float* mB, const float* hB,
                         const float* const rows[4]) {
    typedef avxLanes_t L;
    // Rows of each record: pa.x pa.y pa.z pb.x | pb.y pb.z pc.x pc.y | pc.z N.
    __m128 a0 = _mm_load_ps(rows[0]), a1 = _mm_load_ps(rows[1]), a2 = _mm_load_ps(rows[2]),
           a3 = _mm_load_ps(rows[3]);
    __m128 b0 = _mm_load_ps(rows[0] + 4), b1 = _mm_load_ps(rows[1] + 4), b2 = _mm_load_ps(rows[2] + 4),
           b3 = _mm_load_ps(rows[3] + 4);
    __m128 c0 = _mm_load_ps(rows[0] + 8), c1 = _mm_load_ps(rows[1] + 8), c2 = _mm_load_ps(rows[2] + 8),
           c3 = _mm_load_ps(rows[3] + 8);
    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
    _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    const lanes3_t<L> p0 = {twice(a0), twice(a1), twice(a2)};
    const lanes3_t<L> p1 = {twice(a3), twice(b0), twice(b1)};
    const lanes3_t<L> p2 = {twice(b2), twice(b3), twice(c0)};
    const lanes3_t<L> m = {perHalf(mA[0], mB[0]), perHalf(mA[1], mB[1]), perHalf(mA[2], mB[2])};
    const lanes3_t<L> h = {perHalf(hA[0], hB[0]), perHalf(hA[1], hB[1]), perHalf(hA[2], hB[2])};
    return L::bits(overlapLanes<L>(p0, p1, p2, m, h));
}

} // namespace vexlar

#endif

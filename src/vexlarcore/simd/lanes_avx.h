// Eight single-precision lanes with AVX, for the vector kernels of simd/.
// Only for translation units compiled for AVX and called after a run-time
// check of the processor. Same contract as sseLanes_t.
#ifndef VEXLARCORE_SIMD_LANES_AVX_H
#define VEXLARCORE_SIMD_LANES_AVX_H

#include <immintrin.h>

namespace vexlar {
namespace {

struct avxLanes_t {
    typedef __m256 v;
    static const int width = 8;
    static v set1(float f) { return _mm256_set1_ps(f); }
    static v zero() { return _mm256_setzero_ps(); }
    static v add(v a, v b) { return _mm256_add_ps(a, b); }
    static v sub(v a, v b) { return _mm256_sub_ps(a, b); }
    static v mul(v a, v b) { return _mm256_mul_ps(a, b); }
    static v div(v a, v b) { return _mm256_div_ps(a, b); }
    // Ordered, non-signalling predicates: false when an operand is NaN.
    static v lt(v a, v b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static v gt(v a, v b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static v ge(v a, v b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static v eq(v a, v b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
    static v le(v a, v b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
    static v bitOr(v a, v b) { return _mm256_or_ps(a, b); }
    static v bitAnd(v a, v b) { return _mm256_and_ps(a, b); }
    static v andNot(v a, v b) { return _mm256_andnot_ps(a, b); } // ~a & b
    static v bitXor(v a, v b) { return _mm256_xor_ps(a, b); }
    static v select(v mask, v a, v b) { return _mm256_blendv_ps(b, a, mask); }
    static v negate(v a) { return _mm256_xor_ps(a, _mm256_set1_ps(-0.0f)); }
    static v abs(v a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }
    static int bits(v mask) { return _mm256_movemask_ps(mask); }
};

} // namespace
} // namespace vexlar

#endif

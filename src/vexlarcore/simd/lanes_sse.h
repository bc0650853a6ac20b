// Four single-precision lanes with SSE2 (every x86-64 processor), for the
// vector kernels of simd/. Internal to the library; every function works lane
// by lane with the IEEE single-precision operation of its scalar name, and
// every comparison is false for NaN operands, as the scalar comparisons.
#ifndef VEXLARCORE_SIMD_LANES_SSE_H
#define VEXLARCORE_SIMD_LANES_SSE_H

#include <emmintrin.h>

namespace vexlar {
namespace {

struct sseLanes_t {
    typedef __m128 v;
    static const int width = 4;
    static v set1(float f) { return _mm_set1_ps(f); }
    static v zero() { return _mm_setzero_ps(); }
    static v add(v a, v b) { return _mm_add_ps(a, b); }
    static v sub(v a, v b) { return _mm_sub_ps(a, b); }
    static v mul(v a, v b) { return _mm_mul_ps(a, b); }
    static v div(v a, v b) { return _mm_div_ps(a, b); }
    static v lt(v a, v b) { return _mm_cmplt_ps(a, b); }
    static v gt(v a, v b) { return _mm_cmpgt_ps(a, b); }
    static v ge(v a, v b) { return _mm_cmpge_ps(a, b); }
    static v eq(v a, v b) { return _mm_cmpeq_ps(a, b); }
    static v le(v a, v b) { return _mm_cmple_ps(a, b); }
    static v bitOr(v a, v b) { return _mm_or_ps(a, b); }
    static v bitAnd(v a, v b) { return _mm_and_ps(a, b); }
    static v andNot(v a, v b) { return _mm_andnot_ps(a, b); } // ~a & b
    static v bitXor(v a, v b) { return _mm_xor_ps(a, b); }
    static v select(v mask, v a, v b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }
    static v negate(v a) { return _mm_xor_ps(a, _mm_set1_ps(-0.0f)); }
    static v abs(v a) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), a); }
    static int bits(v mask) { return _mm_movemask_ps(mask); }
};

} // namespace
} // namespace vexlar

#endif

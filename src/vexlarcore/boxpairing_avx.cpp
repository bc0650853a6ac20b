// The distance run of boxPairing_t in eight AVX2 lanes. This file alone is
// compiled for AVX2 and called after a run-time check of the processor; it
// includes nothing but the intrinsics and the lane kernels (internal
// linkage), so no AVX2 code can stand in for code other files share.
#if defined(__AVX2__)

#include "vexlarcore/simd/lanes_avx.h"
#include "vexlarcore/simd/pairkernel.h"

#include <cstddef>
#include <immintrin.h>

namespace vexlar {

// out[j] = bound_distance(box, box j) for j in [0, n), n a multiple of 8;
// `box` holds a.x a.y a.z g.x g.y g.z and the volume, the arrays the same
// of every box j.
void boxDistancesAvx(const float* box, const float* const corners[7], std::size_t n, float* out);

void boxDistancesAvx(const float* box, const float* const corners[7], std::size_t n, float* out) {
    typedef avxLanes_t L;
    const boxLanes_t<L> l = {L::set1(box[0]), L::set1(box[1]), L::set1(box[2]), L::set1(box[3]),
                             L::set1(box[4]), L::set1(box[5]), L::set1(box[6])};
    for (std::size_t j = 0; j < n; j += 8) {
        const boxLanes_t<L> r = {_mm256_loadu_ps(corners[0] + j), _mm256_loadu_ps(corners[1] + j),
                                 _mm256_loadu_ps(corners[2] + j), _mm256_loadu_ps(corners[3] + j),
                                 _mm256_loadu_ps(corners[4] + j), _mm256_loadu_ps(corners[5] + j),
                                 _mm256_loadu_ps(corners[6] + j)};
        _mm256_storeu_ps(out + j, boxDistanceLanes<L>(l, r));
    }
}

// bits[c] = the lanes of positions 8c .. 8c + 7 (lane k for position 8c + k)
// that a pairing scan with partner distance t must visit: waiting ones whose
// distance is below t or below their own partner distance, or that have no
// partner (partner -1). n a multiple of 8.
void relevantLanesAvx(const float* distances, const float* nearestDist, const int* partner, const int* alive,
                      float t, std::size_t n, unsigned char* bits);

void relevantLanesAvx(const float* distances, const float* nearestDist, const int* partner, const int* alive,
                      float t, std::size_t n, unsigned char* bits) {
    typedef avxLanes_t L;
    const __m256 mine = L::set1(t);
    const __m256i unpaired = _mm256_set1_epi32(-1);
    for (std::size_t j = 0; j < n; j += 8) {
        const __m256 d = _mm256_loadu_ps(distances + j);
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(partner + j));
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(alive + j));
        const __m256 matters = L::bitOr(L::bitOr(L::lt(d, mine), L::lt(d, _mm256_loadu_ps(nearestDist + j))),
                                        _mm256_castsi256_ps(_mm256_cmpeq_epi32(p, unpaired)));
        bits[j / 8] = static_cast<unsigned char>(L::bits(L::bitAnd(matters, _mm256_castsi256_ps(w))));
    }
}

} // namespace vexlar

#endif

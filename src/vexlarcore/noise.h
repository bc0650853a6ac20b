// Perlin's improved gradient noise and two fractal sums over it.
//
// Single precision throughout, except the steps noted in noise.cpp. The
// generator is a plain value (512 ints) with no other state: const calls are
// safe from any number of threads at once.
#ifndef VEXLARCORE_NOISE_H
#define VEXLARCORE_NOISE_H

#include "vexlarcore/vector3d.h"

namespace vexlar {

/// Ken Perlin's reference permutation of 0..255 for improved noise.
extern const int permutation[256];

/// Gradient noise on the integer lattice with a quintic fade curve.
///
/// The lattice repeats every 256 units along each axis. The constructor
/// fills the table, so a constructed generator is ready; init() refills it.
class newPerlin_t {
public:
    newPerlin_t() { init(); }

    /// p[i] = p[i + 256] = permutation[i].
    void init();

    /// Noise at `pt`, roughly within -1..1; exactly 0 on lattice points.
    /// Negative coordinates are wrapped into 0..256 first. A point with an
    /// infinite or NaN coordinate gives 0.
    float noise(const point3d_t& pt) const;

    /// `oct` octaves of noise (absolute values when `hard`), each at twice the
    /// frequency and half the amplitude of the previous, normalised by
    /// 2^oct / (2^(oct+1) - 1) and mapped around 0.5: sum*factor*0.5 + 0.5.
    /// `oct` <= 0 gives exactly 0.5; with `hard` the result is >= 0.5.
    float turbulence(const point3d_t& pt, int oct, bool hard) const;

    /// As turbulence with free factors: each octave multiplies the amplitude
    /// by `ampScale` and the point by `freqScale`. The sum is divided by
    /// 1 + the sum of the amplitudes used, then mapped as (sum/norm)*0.5 + 0.5.
    float turbulence2(const point3d_t& pt, int oct, bool hard, float ampScale, float freqScale) const;

    int p[512];
};

} // namespace vexlar

#endif

// Colour encodings and pixel helpers: the shared-exponent RGBE encoding,
// Aitken extrapolation of converging colour estimates and the bilinear blend
// of four neighbouring colours. The exposure and gamma curve is
// color_t::expgam_Adjust (declared with color_t, defined with these helpers).
#ifndef VEXLARCORE_COLORUTIL_H
#define VEXLARCORE_COLORUTIL_H

#include "vexlarcore/color.h"

namespace vexlar {

/// Shared-exponent colour: three 8-bit mantissas and one exponent byte biased
/// by 128. The largest channel's mantissa lies in 128..255; a colour whose
/// largest channel is below 1e-32, infinite or not a number encodes as four
/// zeros. Negative channels encode as mantissa 0.
class rgbe_t {
public:
    rgbe_t() : R(0), G(0), B(0), E(0) {}
    explicit rgbe_t(const color_t& col);

    /// Decodes: each mantissa times 2^(E - 136); all zero when E is 0.
    color_t toColor() const;

    unsigned char R, G, B, E;
};

/// Aitken's delta-squared extrapolation of the sequence p0, p1, p2, channel
/// by channel: p2 - (p2 - p1)^2 / ((p2 - 2 p1) + p0), or p2 where the
/// denominator is 0.
color_t convergenceAccell(const color_t& p0, const color_t& p1, const color_t& p2);

/// Bilinear blend at the fractional part of (x, y) (the part above the floor,
/// also for negative coordinates): c0 is the lower-left corner, c1 the one to
/// its right, c2 the one above it, c3 the diagonal one.
color_t BilerpWeight(float x, float y, const color_t& c0, const color_t& c1, const color_t& c2,
                     const color_t& c3);
/// The same over four channels, alpha included.
colorA_t BilerpWeight(float x, float y, const colorA_t& c0, const colorA_t& c1, const colorA_t& c2,
                      const colorA_t& c3);

} // namespace vexlar

#endif

#include "vexlarcore/colorutil.h"

#include <cmath>

namespace vexlar {

namespace {

// A channel times the shared scale, truncated. Negative (and NaN) channels
// become 0 rather than wrapping around to a bright mantissa.
unsigned char mantissa(float c, float scale) {
    float s = c * scale;
    if (!(s > 0.0f)) return 0;
    return static_cast<unsigned char>(static_cast<int>(s) & 0xff);
}

} // namespace

rgbe_t::rgbe_t(const color_t& col) : R(0), G(0), B(0), E(0) {
    float v = col.R;
    if (col.G > v) v = col.G;
    if (col.B > v) v = col.B;
    // The negated test also sends a NaN largest channel to black; an infinite
    // one has no exponent to share and is sent there as well.
    if (!(static_cast<double>(v) >= 1e-32) || std::isinf(v)) return;
    int n = 0;
    float m = std::frexp(v, &n);
    float scale = static_cast<float>(static_cast<double>(m) * 256.0 / static_cast<double>(v));
    R = mantissa(col.R, scale);
    G = mantissa(col.G, scale);
    B = mantissa(col.B, scale);
    E = static_cast<unsigned char>((n + 128) & 0xff);
}

color_t rgbe_t::toColor() const {
    if (E == 0) return color_t(0.0f);
    float f = std::ldexp(1.0f, static_cast<int>(E) - (128 + 8));
    return color_t(R * f, G * f, B * f);
}

void color_t::expgam_Adjust(float e, float g) {
    // pow(x, 1) is x exactly for every x (NaN and signed zeros included), so
    // the common linear case skips the call and gives the same bits.
    const bool linear = g == 1.0f;
    float* ch[3] = {&R, &G, &B};
    for (float* x : ch) {
        if (e != 0.0f) *x = static_cast<float>(1.0 - std::exp(static_cast<double>(*x * e)));
        if (*x < 0.0f) *x = 0.0f;
        if (*x > 1.0f) *x = 1.0f;
        if (!linear) *x = static_cast<float>(std::pow(static_cast<double>(*x), static_cast<double>(g)));
    }
}

namespace {

float aitken(float p0, float p1, float p2) {
    float d = static_cast<float>((static_cast<double>(p2) - 2.0 * static_cast<double>(p1)) +
                                 static_cast<double>(p0));
    if (d == 0.0f) return p2;
    float s = p2 - p1;
    return p2 - s * s / d;
}

} // namespace

color_t convergenceAccell(const color_t& p0, const color_t& p1, const color_t& p2) {
    return color_t(aitken(p0.R, p1.R, p2.R), aitken(p0.G, p1.G, p2.G), aitken(p0.B, p1.B, p2.B));
}

namespace {

// Weights of c0..c3 for the fractional position (x, y).
void bilerpWeights(float x, float y, float w[4]) {
    float fx = x - std::floor(x);
    float fy = y - std::floor(y);
    w[0] = (1.0f - fx) * (1.0f - fy);
    w[1] = fx * (1.0f - fy);
    w[2] = (1.0f - fx) * fy;
    w[3] = fx * fy;
}

} // namespace

color_t BilerpWeight(float x, float y, const color_t& c0, const color_t& c1, const color_t& c2,
                     const color_t& c3) {
    float w[4];
    bilerpWeights(x, y, w);
    return w[2] * c2 + w[0] * c0 + w[1] * c1 + w[3] * c3;
}

colorA_t BilerpWeight(float x, float y, const colorA_t& c0, const colorA_t& c1, const colorA_t& c2,
                      const colorA_t& c3) {
    float w[4];
    bilerpWeights(x, y, w);
    return w[2] * c2 + w[0] * c0 + w[1] * c1 + w[3] * c3;
}

} // namespace vexlar

#include "common/texelsample.h"

#include <cmath>

namespace vexlar {
namespace plugins {

long long wrapIndex(long long i, long long size, wrap_t mode) {
    switch (mode) {
    case wrap_t::clamp:
        return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case wrap_t::mirror: {
        long long m = i % (2 * size);
        if (m < 0) m += 2 * size;
        return m < size ? m : 2 * size - 1 - m;
    }
    case wrap_t::repeat:
        break;
    }
    long long m = i % size;
    return m < 0 ? m + size : m;
}

namespace {

// Far outside the picture the position is folded first, so that the texel
// index stays well inside a long long (clamping needs no folding).
double fold(double t, wrap_t mode) {
    if (std::fabs(t) < 1e6 || mode == wrap_t::clamp) return t;
    const double period = mode == wrap_t::mirror ? 2.0 : 1.0;
    return t - period * std::floor(t / period);
}

const float* texel(const texelGrid_t& g, long long x, long long y) {
    return g.data + static_cast<std::size_t>(g.channels) *
                        (static_cast<std::size_t>(y) * static_cast<std::size_t>(g.width) +
                         static_cast<std::size_t>(x));
}

bool usable(double u, double v, const texelGrid_t& g, float* out) {
    if (std::isfinite(u) && std::isfinite(v)) return true;
    for (int c = 0; c < g.channels; ++c) out[c] = 0.0f;
    return false;
}

} // namespace

void sampleNearest(const texelGrid_t& g, double u, double v, wrap_t wrapU, wrap_t wrapV, float* out) {
    if (!usable(u, v, g, out)) return;
    const double fx = std::floor(fold(u, wrapU) * g.width), fy = std::floor(fold(v, wrapV) * g.height);
    // Clamped positions may be arbitrarily far out; keep the conversion defined.
    const long long x =
        wrapIndex(static_cast<long long>(std::fmax(std::fmin(fx, 4e18), -4e18)), g.width, wrapU);
    const long long y =
        wrapIndex(static_cast<long long>(std::fmax(std::fmin(fy, 4e18), -4e18)), g.height, wrapV);
    const float* t = texel(g, x, y);
    for (int c = 0; c < g.channels; ++c) out[c] = t[c];
}

void sampleBilinear(const texelGrid_t& g, double u, double v, wrap_t wrapU, wrap_t wrapV, float* out) {
    if (!usable(u, v, g, out)) return;
    const double fx = std::fmax(std::fmin(fold(u, wrapU) * g.width - 0.5, 4e18), -4e18);
    const double fy = std::fmax(std::fmin(fold(v, wrapV) * g.height - 0.5, 4e18), -4e18);
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const float tx = static_cast<float>(fx - x0), ty = static_cast<float>(fy - y0);
    const long long ix = static_cast<long long>(x0), iy = static_cast<long long>(y0);
    const long long xa = wrapIndex(ix, g.width, wrapU), xb = wrapIndex(ix + 1, g.width, wrapU);
    const long long ya = wrapIndex(iy, g.height, wrapV), yb = wrapIndex(iy + 1, g.height, wrapV);
    const float *a = texel(g, xa, ya), *b = texel(g, xb, ya), *c = texel(g, xa, yb), *d = texel(g, xb, yb);
    for (int k = 0; k < g.channels; ++k) {
        const float top = a[k] * (1.0f - tx) + b[k] * tx;
        const float bottom = c[k] * (1.0f - tx) + d[k] * tx;
        out[k] = top * (1.0f - ty) + bottom * ty;
    }
}

} // namespace plugins
} // namespace vexlar

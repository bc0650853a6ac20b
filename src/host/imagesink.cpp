#include "host/imagesink.h"

#include <cfloat>
#include <cmath>

namespace vexlar {
namespace host {

namespace {

// The library hands over channels in [0, 1]; anything else (a shader's
// not-a-number) must not reach the tone maps and encoders as garbage.
float tame(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > FLT_MAX ? FLT_MAX : v;
}

float unit(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

} // namespace

imageSink_t::imageSink_t(int width, int height, const pixelRect_t& keep,
                         const volatile std::sig_atomic_t* stop)
    : colour(width, height), depth(width, height), keep(keep), stop(stop) {
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < n; ++i) depth.data[i] = noHitDepth;
}

bool imageSink_t::putPixel(int x, int y, const color_t& c, float alpha, float z) {
    if (stop && *stop) {
        refused = true;
        return false;
    }
    if (x < 0 || y < 0 || x >= colour.width || y >= colour.height) return true;
    if (x < keep.x0 || x >= keep.x1 || y < keep.y0 || y >= keep.y1) return true;
    float* px = colour.at(x, y);
    px[0] = tame(c.R);
    px[1] = tame(c.G);
    px[2] = tame(c.B);
    px[3] = unit(alpha);
    depth(x, y) = (z < 0.0f || !std::isfinite(z)) ? noHitDepth : z;
    ++count;
    return true;
}

} // namespace host
} // namespace vexlar

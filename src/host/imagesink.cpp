#include "host/imagesink.h"

#include <cmath>

namespace vexlar {
namespace host {

namespace {

// The byte packing truncates c * 255 to an integer; a value that is not a
// number or far out of range must not reach that conversion.
float tame(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

} // namespace

imageSink_t::imageSink_t(int width, int height, const pixelRect_t& keep,
                         const volatile std::sig_atomic_t* stop)
    : colour(width, height), depth(width, height), keep(keep), stop(stop) {
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < 4 * n; ++i) colour.data[i] = 0;
    for (std::size_t i = 0; i < n; ++i) depth.data[i] = noHitDepth;
}

bool imageSink_t::putPixel(int x, int y, const color_t& c, float alpha, float z) {
    if (stop && *stop) {
        refused = true;
        return false;
    }
    if (x < 0 || y < 0 || x >= colour.resx || y >= colour.resy) return true;
    if (x < keep.x0 || x >= keep.x1 || y < keep.y0 || y >= keep.y1) return true;
    colorA_t px(tame(c.R), tame(c.G), tame(c.B), tame(alpha));
    colour(x, y) << px;
    depth(x, y) = (z < 0.0f || !std::isfinite(z)) ? noHitDepth : z;
    ++count;
    return true;
}

} // namespace host
} // namespace vexlar

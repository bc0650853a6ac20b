#include "host/postfilter.h"

#include <cmath>

namespace vexlar {
namespace host {

namespace {

unsigned char toByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return static_cast<unsigned char>(std::floor(v * 255.0f + 0.5f));
}

} // namespace

void applyFilters(const std::vector<filter_t*>& filters, floatImage_t& image, fBuffer_t& depth) {
    if (filters.empty()) return;
    cBuffer_t before(image.width, image.height);
    const std::size_t n = image.rgba.size();
    for (std::size_t i = 0; i < n; ++i) before.data[i] = toByte(image.rgba[i]);
    cBuffer_t after(image.width, image.height);
    after = before;
    fBuffer_t spare(image.width, image.height);
    for (const filter_t* f : filters) f->apply(after, depth, spare);
    for (std::size_t i = 0; i < n; ++i)
        if (after.data[i] != before.data[i]) image.rgba[i] = static_cast<float>(after.data[i]) / 255.0f;
}

} // namespace host
} // namespace vexlar

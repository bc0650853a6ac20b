#include "host/imagesink.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

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

// The whole pages inside a buffer, the part wipe-on-fork can mark.
pageSpan_t pagesInside(void* data, std::size_t bytes) {
    pageSpan_t span;
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize <= 0 || data == nullptr) return span;
    const std::uintptr_t page = static_cast<std::uintptr_t>(pageSize);
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
    if (end > begin) {
        span.begin = reinterpret_cast<void*>(begin);
        span.bytes = end - begin;
    }
    return span;
}

// Marks (or, with `keep`, unmarks) a span wipe-on-fork; false when the
// system has no such flag or refused it.
bool markWipeOnFork(const pageSpan_t& span, bool keep) {
#if defined(MADV_WIPEONFORK) && defined(MADV_KEEPONFORK)
    return span.bytes > 0 && madvise(span.begin, span.bytes, keep ? MADV_KEEPONFORK : MADV_WIPEONFORK) == 0;
#else
    (void)span;
    (void)keep;
    return false;
#endif
}

} // namespace

imageSink_t::imageSink_t(int width, int height, const pixelRect_t& keep,
                         const volatile std::sig_atomic_t* stop, bool keepDepth)
    : colour(width, height), depth(keepDepth ? width : 1, keepDepth ? height : 1), keep(keep), stop(stop),
      keptDepth(keepDepth) {
    const std::size_t n = static_cast<std::size_t>(depth.resx) * static_cast<std::size_t>(depth.resy);
    for (std::size_t i = 0; i < n; ++i) depth.data[i] = noHitDepth;
    // The render workers are forked after the sink is made and never touch
    // it. Left shared, every page of the picture this process then writes
    // would fault and be copied; marked wipe-on-fork, the pages stay this
    // process's own (a child would see zeros there). Only whole pages inside
    // the buffers are marked, and the marks go again before the buffers are
    // freed, so that no later fork sees memory reused by something else.
    spans[0] = pagesInside(colour.rgba.data(), colour.rgba.size() * sizeof(float));
    spans[1] = pagesInside(depth.data, n * sizeof(float));
    for (pageSpan_t& span : spans)
        if (!markWipeOnFork(span, false)) span = pageSpan_t();
}

imageSink_t::~imageSink_t() {
    for (const pageSpan_t& span : spans) markWipeOnFork(span, true);
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
    if (keptDepth) depth(x, y) = (z < 0.0f || !std::isfinite(z)) ? noHitDepth : z;
    ++count;
    return true;
}

} // namespace host
} // namespace vexlar

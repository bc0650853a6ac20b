#include "vexlarcore/filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "vexlarcore/messages.h"

namespace vexlar {

namespace {

// Truncates a window half-size toward zero. NaN counts as 0 and the value is
// bounded so that window arithmetic cannot overflow; a window wider than any
// image is clipped anyway.
long long truncBounded(float r) {
    const float limit = 1073741824.0f; // 2^30
    if (!(r == r)) return 0;
    if (r > limit) return static_cast<long long>(limit);
    if (r < -limit) return -static_cast<long long>(limit);
    return static_cast<long long>(r);
}

// The filters' progress on standard output: "Applying <title> filter ... "
// when they start, "\rApplying <title> filter [ done / total ] ...   " for
// each step and "OK\n" at the end.
void report(const char* title, progressStage_t stage, int done, int total, const char* text) {
    const std::string pass = std::string(title) + " filter";
    progressEvent_t event;
    event.pass = pass;
    event.stage = stage;
    event.done = done;
    event.total = total;
    emitProgress(messageStream_t::standardOutput, text, event);
}

void begin(const char* title, int total) {
    char text[64];
    std::snprintf(text, sizeof text, "Applying %s filter ... ", title);
    report(title, progressStage_t::begin, 0, total, text);
}

void progress(const char* title, int done, int total) {
    char text[96];
    std::snprintf(text, sizeof text, "\rApplying %s filter [ %d / %d ] ...   ", title, done, total);
    report(title, progressStage_t::step, done, total, text);
}

void finish(const char* title, int total) {
    progress(title, total, total);
    report(title, progressStage_t::end, total, total, "OK\n");
}

// Writes R, G, B of `c` at pixel (x, y) of `dst`, with the alpha byte of the
// same pixel of `src`.
void storeKeepingAlpha(cBuffer_t& dst, const cBuffer_t& src, int x, int y, const color_t& c) {
    unsigned char* p = dst(x, y);
    p << c;
    p[3] = src(x, y)[3];
}

} // namespace

filter_t::~filter_t() {}

color_t mix_circle(cBuffer_t& image, fBuffer_t& depth, float z, int x, int y, float radius, float threshold) {
    const long long r = truncBounded(radius);
    // Clipped to both buffers so that mismatched sizes never read outside one.
    const long long w = std::min(image.resx, depth.resx);
    const long long h = std::min(image.resy, depth.resy);
    const long long x0 = std::max(x - r, 0LL), x1 = std::min(x + r, w - 1);
    const long long y0 = std::max(y - r, 0LL), y1 = std::min(y + r, h - 1);
    const float nearest = z - threshold;
    color_t sum(0, 0, 0);
    int count = 0;
    for (long long j = y0; j <= y1; ++j) {
        for (long long i = x0; i <= x1; ++i) {
            if (depth(static_cast<int>(i), static_cast<int>(j)) >= nearest) {
                color_t c;
                image(static_cast<int>(i), static_cast<int>(j)) >> c;
                sum += c;
                ++count;
            }
        }
    }
    if (count > 1) return sum * (1.0f / static_cast<float>(count));
    return sum;
}

void filterDOF_t::apply(cBuffer_t& image, fBuffer_t& depth, fBuffer_t& /*other*/) const {
    cBuffer_t temp(depth.resx, depth.resy);
    const float m = std::max(farBlur, nearBlur);
    // Truncated toward zero (NaN as 0); below 1 no pass is made.
    const int passes = static_cast<int>(truncBounded(m));
    const int w = std::min(image.resx, depth.resx);
    const int h = std::min(image.resy, depth.resy);
    const double sharpZone = static_cast<double>(focus) * static_cast<double>(scale) * 0.1;
    // Only the blur radius below is computed in double precision; the depth
    // tolerance of the blur window is a single-precision product.
    const float threshold = focus * 0.1f;

    begin("DOF", passes);
    for (int s = 0; s < passes; ++s) {
        progress("DOF", s, passes);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const float z = depth(x, y);
                const float b = (z - focus < 0) ? nearBlur : farBlur;
                const float dist = std::fabs(z - focus);
                const float r = b * static_cast<float>((static_cast<double>(dist) - sharpZone) /
                                                       static_cast<double>(focus));
                color_t c;
                if (r >= static_cast<float>(s))
                    c = mix_circle(image, depth, z, x, y, 1.0f, threshold);
                else
                    image(x, y) >> c;
                storeKeepingAlpha(temp, image, x, y, c);
            }
        }
        image = temp;
    }
    finish("DOF", passes);
}

void filterAntiNoise_t::apply(cBuffer_t& image, fBuffer_t& /*depth*/, fBuffer_t& /*other*/) const {
    cBuffer_t temp(image.resx, image.resy);
    const long long R = truncBounded(std::fabs(radius));
    const long long W = image.resx, H = image.resy;

    begin("AntiNoise", image.resy);
    for (int y = 0; y < image.resy; ++y) {
        progress("AntiNoise", y, image.resy);
        for (int x = 0; x < image.resx; ++x) {
            color_t centre;
            image(x, y) >> centre;
            color_t sum(0, 0, 0);
            int count = 0;
            // Diamond window: the half-width is R - |j - y| on row j. Rows
            // outside the image are skipped without visiting their columns.
            const long long j0 = std::max(y - R, 0LL), j1 = std::min(y + R, H - 1);
            for (long long j = j0; j <= j1; ++j) {
                const long long hw = R - (j < y ? y - j : j - y);
                const long long i0 = std::max(x - hw, 0LL), i1 = std::min(x + hw, W - 1);
                for (long long i = i0; i <= i1; ++i) {
                    color_t q;
                    image(static_cast<int>(i), static_cast<int>(j)) >> q;
                    const float d = std::max(std::max(std::fabs(q.R - centre.R), std::fabs(q.G - centre.G)),
                                             std::fabs(q.B - centre.B));
                    if (d < maxDelta) {
                        sum += q;
                        ++count;
                    }
                }
            }
            // No qualifying pixel (maxDelta <= 0) would be 0 * 1/0: keep it.
            const color_t result = count > 0 ? sum * (1.0f / static_cast<float>(count)) : centre;
            storeKeepingAlpha(temp, image, x, y, result);
        }
    }
    image = temp;
    finish("AntiNoise", image.resy);
}

} // namespace vexlar

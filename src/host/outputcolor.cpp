#include "host/outputcolor.h"

#include <cmath>
#include <sstream>

namespace vexlar {
namespace host {

namespace {

// Not-a-number and negative values (which the library's clamp rules out,
// but filters or exposure arithmetic must not turn into garbage) become 0.
float nonNegative(float x) {
    return x > 0.0f ? x : 0.0f;
}

float unit(float x) {
    return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f;
}

} // namespace

float srgbEncode(float v) {
    v = unit(v);
    if (v <= 0.0031308f) return 12.92f * v;
    return static_cast<float>(1.055 * std::pow(static_cast<double>(v), 1.0 / 2.4) - 0.055);
}

float applyToneMap(toneMap_t op, float x) {
    x = nonNegative(x);
    switch (op) {
    case toneMap_t::reinhard:
        // An infinite x would give inf / inf.
        return std::isinf(x) ? 1.0f : x / (1.0f + x);
    case toneMap_t::filmic: {
        if (std::isinf(x)) return 1.0f;
        float f = (x * (2.51f * x + 0.03f)) / (x * (2.43f * x + 0.59f) + 0.14f);
        return unit(f);
    }
    case toneMap_t::clamp:
        break;
    }
    return unit(x);
}

float applyTransfer(const outputColor_t& c, float v) {
    v = unit(v);
    switch (c.transfer) {
    case transfer_t::srgb:
        return srgbEncode(v);
    case transfer_t::gamma:
        return static_cast<float>(
            std::pow(static_cast<double>(v), 1.0 / static_cast<double>(c.displayGamma)));
    case transfer_t::linear:
        break;
    }
    return v;
}

std::uint32_t quantise(float v, std::uint32_t maxCode) {
    return static_cast<std::uint32_t>(std::floor(static_cast<double>(unit(v)) * maxCode + 0.5));
}

colorPipeline_t::colorPipeline_t(const outputColor_t& c)
    : c(c), scale(static_cast<float>(std::exp2(static_cast<double>(c.exposure)))) {}

float colorPipeline_t::linear(float x) const {
    return nonNegative(x) * scale;
}

float colorPipeline_t::display(float x) const {
    return applyTransfer(c, applyToneMap(c.toneMap, linear(x)));
}

namespace {

// Visits every pixel with its file values for colour and alpha.
template <class store_f>
void encodeWith(const floatImage_t& image, const outputColor_t& c, std::uint32_t maxCode, store_f store) {
    colorPipeline_t pipe(c);
    const std::size_t n = image.rgba.size() / 4;
    for (std::size_t p = 0; p < n; ++p) {
        const float* px = image.rgba.data() + 4 * p;
        for (std::size_t ch = 0; ch < 3; ++ch) store(4 * p + ch, quantise(pipe.display(px[ch]), maxCode));
        store(4 * p + 3, quantise(px[3], maxCode));
    }
}

} // namespace

void encode8(const floatImage_t& image, const outputColor_t& c, cBuffer_t& out) {
    encodeWith(image, c, 255u,
               [&out](std::size_t i, std::uint32_t v) { out.data[i] = static_cast<unsigned char>(v); });
}

void encode16(const floatImage_t& image, const outputColor_t& c, std::vector<std::uint16_t>& out) {
    out.resize(image.rgba.size());
    encodeWith(image, c, 65535u,
               [&out](std::size_t i, std::uint32_t v) { out[i] = static_cast<std::uint16_t>(v); });
}

floatImage_t encodeLinear(const floatImage_t& image, const outputColor_t& c, bool premultiply) {
    colorPipeline_t pipe(c);
    floatImage_t out(image.width, image.height);
    const std::size_t n = image.rgba.size() / 4;
    for (std::size_t p = 0; p < n; ++p) {
        const float* in = image.rgba.data() + 4 * p;
        float* o = out.rgba.data() + 4 * p;
        o[3] = unit(in[3]);
        const float k = premultiply ? o[3] : 1.0f;
        for (std::size_t ch = 0; ch < 3; ++ch) o[ch] = pipe.linear(in[ch]) * k;
    }
    return out;
}

std::string transferName(const outputColor_t& c) {
    switch (c.transfer) {
    case transfer_t::srgb:
        return "srgb";
    case transfer_t::linear:
        return "linear";
    case transfer_t::gamma:
        break;
    }
    std::ostringstream s;
    s << "gamma " << c.displayGamma;
    return s.str();
}

const char* toneMapName(toneMap_t op) {
    switch (op) {
    case toneMap_t::reinhard:
        return "reinhard";
    case toneMap_t::filmic:
        return "filmic";
    case toneMap_t::clamp:
        break;
    }
    return "clamp";
}

} // namespace host
} // namespace vexlar

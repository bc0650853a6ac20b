#include "vexlarcore/color.h"

namespace vexlar {

namespace {

// The single-precision constant 1/255 (bit pattern 0x3B808081); multiplied,
// never divided, so that unpacking is one rounding per channel.
constexpr float byteToFloat = 0.003921569f;

unsigned char packChannel(float v) {
    // Only values of 1.0 and above become 255: the product is truncated.
    float c = (v - 1.0f >= 0.0f) ? 1.0f : v;
    // Negative channels would otherwise wrap to a bright byte; NaN and huge
    // negative values cannot even be converted to int.
    if (!(c > 0.0f)) return 0;
    int i = static_cast<int>(c * 255.0f);
    return static_cast<unsigned char>(i & 0xff);
}

} // namespace

unsigned char* operator>>(unsigned char* data, color_t& c) {
    c.R = static_cast<float>(data[0]) * byteToFloat;
    c.G = static_cast<float>(data[1]) * byteToFloat;
    c.B = static_cast<float>(data[2]) * byteToFloat;
    return data;
}

unsigned char* operator<<(unsigned char* data, const color_t& c) {
    data[0] = packChannel(c.R);
    data[1] = packChannel(c.G);
    data[2] = packChannel(c.B);
    return data;
}

unsigned char* operator>>(unsigned char* data, colorA_t& c) {
    data >> static_cast<color_t&>(c);
    c.A = static_cast<float>(data[3]) * byteToFloat;
    return data;
}

unsigned char* operator<<(unsigned char* data, const colorA_t& c) {
    data << static_cast<const color_t&>(c);
    data[3] = packChannel(c.A);
    return data;
}

float* operator>>(float* data, color_t& c) {
    c.R = data[0];
    c.G = data[1];
    c.B = data[2];
    return data;
}

float* operator<<(float* data, const color_t& c) {
    data[0] = c.R;
    data[1] = c.G;
    data[2] = c.B;
    return data;
}

float* operator>>(float* data, colorA_t& c) {
    data >> static_cast<color_t&>(c);
    c.A = data[3];
    return data;
}

float* operator<<(float* data, const colorA_t& c) {
    data << static_cast<const color_t&>(c);
    data[3] = c.A;
    return data;
}

std::ostream& operator<<(std::ostream& out, color_t c) {
    out << "[" << static_cast<double>(c.R) << " " << static_cast<double>(c.G) << " "
        << static_cast<double>(c.B) << "]";
    return out;
}

std::ostream& operator<<(std::ostream& out, colorA_t c) {
    out << "[" << static_cast<double>(c.R) << ", " << static_cast<double>(c.G) << ", "
        << static_cast<double>(c.B) << ", " << static_cast<double>(c.A) << "]";
    return out;
}

color_t mix(const color_t& a, const color_t& b, float t) {
    if (!(t >= 0.0f)) return b;
    if (t > 1.0f) return a;
    float s = 1.0f - t;
    return color_t(t * a.R + s * b.R, t * a.G + s * b.G, t * a.B + s * b.B);
}

colorA_t mix(const colorA_t& a, const colorA_t& b, float t) {
    if (!(t >= 0.0f)) return b;
    if (t > 1.0f) return a;
    float s = 1.0f - t;
    return colorA_t(t * a.R + s * b.R, t * a.G + s * b.G, t * a.B + s * b.B, t * a.A + s * b.A);
}

} // namespace vexlar

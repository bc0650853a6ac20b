// Linear floating-point colours, with and without alpha.
//
// Channels are single precision; 1.0 is full intensity and larger values are
// kept. Byte packing clamps to [0, 1] and truncates (0.5 becomes 127).
#ifndef VEXLARCORE_COLOR_H
#define VEXLARCORE_COLOR_H

#include <ostream>

namespace vexlar {

class color_t {
public:
    color_t() : R(0), G(0), B(0) {}
    color_t(float r, float g, float b) : R(r), G(g), B(b) {}
    explicit color_t(float g) : R(g), G(g), B(g) {}

    void set(float r, float g, float b) {
        R = r;
        G = g;
        B = b;
    }
    bool isBlack() const { return R == 0.0f && G == 0.0f && B == 0.0f; }

    /// (R + G + B) * 0.33333, the sum in single precision, the product with
    /// the double constant rounded to single precision.
    float energy() const { return static_cast<float>(static_cast<double>(R + G + B) * 0.33333); }

    float getR() const { return R; }
    float getG() const { return G; }
    float getB() const { return B; }

    /// Exposure then gamma, in place: with e != 0 each channel X becomes
    /// 1 - exp(X * e) (e is meant to be negative); then each channel is
    /// clamped to [0, 1] and raised to the power g (g itself, not 1/g).
    void expgam_Adjust(float e, float g);

    color_t& operator+=(const color_t& c) {
        R += c.R;
        G += c.G;
        B += c.B;
        return *this;
    }
    color_t& operator-=(const color_t& c) {
        R -= c.R;
        G -= c.G;
        B -= c.B;
        return *this;
    }
    color_t& operator*=(const color_t& c) {
        R *= c.R;
        G *= c.G;
        B *= c.B;
        return *this;
    }
    color_t& operator*=(float f) {
        R *= f;
        G *= f;
        B *= f;
        return *this;
    }

    float R, G, B;
};

/// A colour with alpha: the colour's channels followed by A.
class colorA_t : public color_t {
public:
    colorA_t() : color_t(), A(0) {}
    colorA_t(float r, float g, float b, float a = 0) : color_t(r, g, b), A(a) {}
    colorA_t(const color_t& c, float a = 0) : color_t(c), A(a) {}
    explicit colorA_t(float g) : color_t(g), A(g) {}

    void set(float r, float g, float b, float a = 0) {
        R = r;
        G = g;
        B = b;
        A = a;
    }
    float getA() const { return A; }

    colorA_t& operator+=(const colorA_t& c) {
        R += c.R;
        G += c.G;
        B += c.B;
        A += c.A;
        return *this;
    }
    colorA_t& operator-=(const colorA_t& c) {
        R -= c.R;
        G -= c.G;
        B -= c.B;
        A -= c.A;
        return *this;
    }
    colorA_t& operator*=(const colorA_t& c) {
        R *= c.R;
        G *= c.G;
        B *= c.B;
        A *= c.A;
        return *this;
    }
    colorA_t& operator*=(float f) {
        R *= f;
        G *= f;
        B *= f;
        A *= f;
        return *this;
    }

    float A;
};

inline color_t operator+(const color_t& a, const color_t& b) {
    return color_t(a.R + b.R, a.G + b.G, a.B + b.B);
}
inline color_t operator-(const color_t& a, const color_t& b) {
    return color_t(a.R - b.R, a.G - b.G, a.B - b.B);
}
inline color_t operator*(const color_t& a, const color_t& b) {
    return color_t(a.R * b.R, a.G * b.G, a.B * b.B);
}
inline color_t operator*(const color_t& a, float f) {
    return color_t(a.R * f, a.G * f, a.B * f);
}
inline color_t operator*(float f, const color_t& a) {
    return color_t(f * a.R, f * a.G, f * a.B);
}
inline color_t operator/(const color_t& a, float f) {
    return color_t(a.R / f, a.G / f, a.B / f);
}

inline colorA_t operator+(const colorA_t& a, const colorA_t& b) {
    return colorA_t(a.R + b.R, a.G + b.G, a.B + b.B, a.A + b.A);
}
inline colorA_t operator-(const colorA_t& a, const colorA_t& b) {
    return colorA_t(a.R - b.R, a.G - b.G, a.B - b.B, a.A - b.A);
}
inline colorA_t operator*(const colorA_t& a, const colorA_t& b) {
    return colorA_t(a.R * b.R, a.G * b.G, a.B * b.B, a.A * b.A);
}
inline colorA_t operator*(const colorA_t& a, float f) {
    return colorA_t(a.R * f, a.G * f, a.B * f, a.A * f);
}
inline colorA_t operator*(float f, const colorA_t& a) {
    return colorA_t(f * a.R, f * a.G, f * a.B, f * a.A);
}

/// Byte packing. `>>` reads bytes (each byte b becomes b * (1/255 as a
/// float constant)); `<<` writes bytes: channels >= 1 become 255, others are
/// multiplied by 255 and truncated; negative channels are clamped to 0.
/// The caller advances the pointer (3 bytes for color_t, 4 for colorA_t).
unsigned char* operator>>(unsigned char* data, color_t& c);
unsigned char* operator<<(unsigned char* data, const color_t& c);
unsigned char* operator>>(unsigned char* data, colorA_t& c);
unsigned char* operator<<(unsigned char* data, const colorA_t& c);

/// Float copies, unchanged (no clamping or scaling).
float* operator>>(float* data, color_t& c);
float* operator<<(float* data, const color_t& c);
float* operator>>(float* data, colorA_t& c);
float* operator<<(float* data, const colorA_t& c);

/// "[R G B]" and "[R, G, B, A]" with the stream's current float format.
std::ostream& operator<<(std::ostream& out, color_t c);
std::ostream& operator<<(std::ostream& out, colorA_t c);

/// Blend: t < 0 (or NaN) gives b, t > 1 gives a, otherwise t*a + (1-t)*b.
color_t mix(const color_t& a, const color_t& b, float t);
colorA_t mix(const colorA_t& a, const colorA_t& b, float t);

} // namespace vexlar

#endif

#include "vexlarcore/noise.h"

#include <cmath>

namespace vexlar {

const int permutation[256] = {
    151, 160, 137, 91,  90,  15,  131, 13,  201, 95,  96,  53,  194, 233, 7,   225, 140, 36,  103, 30,
    69,  142, 8,   99,  37,  240, 21,  10,  23,  190, 6,   148, 247, 120, 234, 75,  0,   26,  197, 62,
    94,  252, 219, 203, 117, 35,  11,  32,  57,  177, 33,  88,  237, 149, 56,  87,  174, 20,  125, 136,
    171, 168, 68,  175, 74,  165, 71,  134, 139, 48,  27,  166, 77,  146, 158, 231, 83,  111, 229, 122,
    60,  211, 133, 230, 220, 105, 92,  41,  55,  46,  245, 40,  244, 102, 143, 54,  65,  25,  63,  161,
    1,   216, 80,  73,  209, 76,  132, 187, 208, 89,  18,  169, 200, 196, 135, 130, 116, 188, 159, 86,
    164, 100, 109, 198, 173, 186, 3,   64,  52,  217, 226, 250, 124, 123, 5,   202, 38,  147, 118, 126,
    255, 82,  85,  212, 207, 206, 59,  227, 47,  16,  58,  17,  182, 189, 28,  42,  223, 183, 170, 213,
    119, 248, 152, 2,   44,  154, 163, 70,  221, 153, 101, 155, 167, 43,  172, 9,   129, 22,  39,  253,
    19,  98,  108, 110, 79,  113, 224, 232, 178, 185, 112, 104, 218, 246, 97,  228, 251, 34,  242, 193,
    238, 210, 144, 12,  191, 179, 162, 241, 81,  51,  145, 235, 249, 14,  239, 107, 49,  192, 214, 31,
    181, 199, 106, 157, 184, 84,  204, 176, 115, 121, 50,  45,  127, 4,   150, 254, 138, 236, 205, 93,
    222, 114, 67,  29,  24,  72,  243, 141, 128, 195, 78,  66,  215, 61,  156, 180};

namespace {

inline float fade(float t) {
    return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f);
}

inline float lerp(float t, float a, float b) {
    return a + t * (b - a);
}

// Gradient selection by the low four bits of the hash. Twelve edge
// directions of the cube, with x + y, -x + y, y - z and -y - z repeated to
// fill sixteen entries (so 13 and 14 differ from Perlin's listing).
inline float grad(int hash, float x, float y, float z) {
    const int h = hash & 15;
    const float a = (h <= 7 || h == 12 || h == 13) ? x : y;
    const float b = (h <= 3 || h == 12 || h == 13) ? y : z;
    return ((h & 1) ? -a : a) + ((h & 2) ? -b : b);
}

// Brings one coordinate to a value >= 0 whose integer part fits an int and
// whose position on the lattice (modulo 256) is unchanged.
inline float wrapCoordinate(float k) {
    if (k < 0.0f) return static_cast<float>(std::fmod(static_cast<double>(k), 256.0) + 256.0);
    // Floats this large are whole numbers; reducing them keeps the cell and
    // avoids an out-of-range int conversion.
    if (k >= 2147483648.0f) return static_cast<float>(std::fmod(static_cast<double>(k), 256.0));
    return k;
}

inline float fraction(float k) {
    const double d = static_cast<double>(k);
    return static_cast<float>(d - std::floor(d));
}

} // namespace

void newPerlin_t::init() {
    for (int i = 0; i < 256; ++i) p[i] = p[i + 256] = permutation[i];
}

float newPerlin_t::noise(const point3d_t& pt) const {
    if (!std::isfinite(pt.x) || !std::isfinite(pt.y) || !std::isfinite(pt.z)) return 0.0f;
    const float cx = wrapCoordinate(pt.x), cy = wrapCoordinate(pt.y), cz = wrapCoordinate(pt.z);
    const int X = static_cast<int>(cx) & 255, Y = static_cast<int>(cy) & 255, Z = static_cast<int>(cz) & 255;
    const float x = fraction(cx), y = fraction(cy), z = fraction(cz);
    const float u = fade(x), v = fade(y), w = fade(z);

    const int A = p[X] + Y, AA = p[A] + Z, AB = p[A + 1] + Z;
    const int B = p[X + 1] + Y, BA = p[B] + Z, BB = p[B + 1] + Z;

    const float g1 = grad(p[AA], x, y, z);
    const float g2 = grad(p[BA], x - 1, y, z);
    const float g3 = grad(p[AB], x, y - 1, z);
    const float g4 = grad(p[BB], x - 1, y - 1, z);
    const float g5 = grad(p[AA + 1], x, y, z - 1);
    const float g6 = grad(p[BA + 1], x - 1, y, z - 1);
    const float g7 = grad(p[AB + 1], x, y - 1, z - 1);
    const float g8 = grad(p[BB + 1], x - 1, y - 1, z - 1);

    return lerp(w, lerp(v, lerp(u, g1, g2), lerp(u, g3, g4)), lerp(v, lerp(u, g5, g6), lerp(u, g7, g8)));
}

float newPerlin_t::turbulence(const point3d_t& pt, int oct, bool hard) const {
    float sum = 0.0f, amp = 1.0f;
    point3d_t q = pt;
    for (int i = 0; i < oct; ++i) {
        float n = noise(q);
        if (hard) n = std::fabs(n);
        sum += amp * n;
        q = 2.0f * q;
        amp *= 0.5f;
    }
    // 2^oct / (2^(oct+1) - 1), the reciprocal of the sum of the amplitudes.
    // Computed in double from exact powers of two, which rounds to the same
    // float as the quotient of the float-converted integer powers, and stays
    // defined for any octave count (the factor settles at 0.5).
    float factor = 1.0f;
    if (oct > 0)
        factor =
            (oct > 64) ? 0.5f : static_cast<float>(std::ldexp(1.0, oct) / (std::ldexp(1.0, oct + 1) - 1.0));
    return static_cast<float>(static_cast<double>(sum * factor) * 0.5 + 0.5);
}

float newPerlin_t::turbulence2(const point3d_t& pt, int oct, bool hard, float ampScale,
                               float freqScale) const {
    float sum = 0.0f, amp = 1.0f, norm = 1.0f;
    point3d_t q = pt;
    for (int i = 0; i < oct; ++i) {
        float n = noise(q);
        if (hard) n = std::fabs(n);
        sum += amp * n;
        q = q * freqScale;
        norm += amp;
        amp *= ampScale;
    }
    return static_cast<float>(static_cast<double>(sum / norm) * 0.5 + 0.5);
}

} // namespace vexlar

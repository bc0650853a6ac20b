#include "vexlarcore/sampling.h"

#include <cmath>
#include <limits>

namespace vexlar {

int myseed = 123212;

// Steps documented as double precision are written with explicit casts so
// that they are evaluated in double and rounded to float exactly once.

vector3d_t refract(const vector3d_t& n, const vector3d_t& v, float ior) {
    vector3d_t N = n;
    float eta;
    if ((v * n) < 0.0f) {
        N = -n;
        eta = ior;
    } else {
        eta = static_cast<float>(1.0 / static_cast<double>(ior));
    }
    float mu = v * N;
    float k = 1.0f - eta * eta * (1.0f - mu * mu);
    if (k < 0.0f) return vector3d_t(0.0f, 0.0f, 0.0f);
    float along = static_cast<float>(static_cast<double>(eta * mu) - std::sqrt(static_cast<double>(k)));
    vector3d_t t = eta * (-v) + along * N;
    t.normalize();
    return t;
}

void fresnel(const vector3d_t& v, const vector3d_t& n, float ior, float& Kr, float& Kt) {
    vector3d_t N = ((v * n) < 0.0f) ? -n : n;
    float mu = v * N;
    float g2 = ior * ior + mu * mu - 1.0f;
    float g = (g2 > 0.0f) ? static_cast<float>(std::sqrt(static_cast<double>(g2))) : 0.0f;
    double gm = static_cast<double>(g - mu);
    double gp = static_cast<double>(g + mu);
    if (gp == 0.0) {
        // Grazing incidence with ior <= 1: the formula is 0/0 there; its
        // limit is total reflection.
        Kr = 1.0f;
        Kt = 0.0f;
        return;
    }
    double first = (0.5 * gm * gm) / (gp * gp);
    float a = mu * (g + mu) - 1.0f;
    float b = mu * (g - mu) + 1.0f;
    float second = 1.0f + (a * a) / (b * b);
    Kr = static_cast<float>(first * static_cast<double>(second));
    Kt = (Kr < 1.0f) ? 1.0f - Kr : 0.0f;
}

void fast_fresnel(const vector3d_t& v, const vector3d_t& n, float r0, float& Kr, float& Kt) {
    float m = 1.0f - v * n;
    float m2 = m * m;
    Kr = r0 + (1.0f - r0) * m2 * m2 * m;
    Kt = 1.0f - Kr;
}

void createCS(const vector3d_t& n, vector3d_t& u, vector3d_t& v) {
    if (n.x == 0.0f && n.y == 0.0f) {
        u = (n.z < 0.0f) ? vector3d_t(-1.0f, 0.0f, 0.0f) : vector3d_t(1.0f, 0.0f, 0.0f);
        v = vector3d_t(0.0f, 1.0f, 0.0f);
        return;
    }
    float h = n.x * n.x + n.y * n.y;
    if (h < std::numeric_limits<float>::min()) {
        // Horizontal components below about 1e-19 square to a denormal or
        // to 0 in single precision: the scale would be far off or infinite
        // and the frame not unit length or NaN. Their squares are exact in
        // double precision, and so is the direction of u.
        double l = std::sqrt(static_cast<double>(n.x) * n.x + static_cast<double>(n.y) * n.y);
        u = vector3d_t(static_cast<float>(n.y / l), static_cast<float>(-n.x / l), 0.0f);
    } else {
        float s = static_cast<float>(1.0 / std::sqrt(static_cast<double>(h)));
        u = vector3d_t(n.y * s, -n.x * s, 0.0f);
    }
    v = vector3d_t(-n.z * u.y, n.z * u.x, n.x * u.y - n.y * u.x);
}

double radicalInverse(std::uint64_t i, int base) {
    if (base == 2) {
        i = (i << 32) | (i >> 32);
        i = ((i & 0x0000ffff0000ffffull) << 16) | ((i & 0xffff0000ffff0000ull) >> 16);
        i = ((i & 0x00ff00ff00ff00ffull) << 8) | ((i & 0xff00ff00ff00ff00ull) >> 8);
        i = ((i & 0x0f0f0f0f0f0f0f0full) << 4) | ((i & 0xf0f0f0f0f0f0f0f0ull) >> 4);
        i = ((i & 0x3333333333333333ull) << 2) | ((i & 0xccccccccccccccccull) >> 2);
        i = ((i & 0x5555555555555555ull) << 1) | ((i & 0xaaaaaaaaaaaaaaaaull) >> 1);
        return static_cast<double>(i) * 5.421010862427522e-20; // 2^-64
    }
    const std::uint64_t b = static_cast<std::uint64_t>(base);
    const double inv = 1.0 / base;
    double f = inv, r = 0.0;
    for (; i > 0; i /= b, f *= inv) r += f * static_cast<double>(i % b);
    return r;
}

void ShirleyDisc(float r1, float r2, float& u, float& v) {
    float a = 2.0f * r1 - 1.0f;
    float b = 2.0f * r2 - 1.0f;
    float r, phi;
    if (a > -b) {
        if (a > b) {
            r = a;
            phi = b / a;
        } else {
            r = b;
            phi = 2.0f - a / b;
        }
    } else {
        if (a < b) {
            r = -a;
            phi = 4.0f + b / a;
        } else if (b != 0.0f) {
            r = -b;
            phi = 6.0f - a / b;
        } else {
            r = 0.0f;
            phi = 0.0f;
        }
    }
    phi = static_cast<float>(static_cast<double>(phi) * 0.7853981633974483);
    u = static_cast<float>(static_cast<double>(r) * std::cos(static_cast<double>(phi)));
    v = static_cast<float>(static_cast<double>(r) * std::sin(static_cast<double>(phi)));
}

vector3d_t randomVectorCone(const vector3d_t& d, const vector3d_t& u, const vector3d_t& v, float cosang,
                            float z1, float z2) {
    float phi = static_cast<float>(6.283185307179586 * static_cast<double>(z1));
    double c = 1.0 - static_cast<double>(z2) * (1.0 - static_cast<double>(cosang));
    float cost = static_cast<float>(c);
    float sint = static_cast<float>(std::sqrt(1.0 - static_cast<double>(cost) * static_cast<double>(cost)));
    float cphi = static_cast<float>(std::cos(static_cast<double>(phi)));
    float sphi = static_cast<float>(std::sin(static_cast<double>(phi)));
    return d * cost + (u * cphi + v * sphi) * sint;
}

vector3d_t randomVectorCone(const vector3d_t& d, float cosang, float z1, float z2) {
    vector3d_t u, v;
    createCS(d, u, v);
    return randomVectorCone(d, u, v, cosang, z1, z2);
}

vector3d_t discreteVectorCone(const vector3d_t& d, float cosang, int sample, int square) {
    if (square <= 0) return d; // an empty grid: nothing to divide by
    int i = sample / square;
    int j = sample - i * square;
    float q = 1.0f / static_cast<float>(square);
    float phi = static_cast<float>(6.283185307179586 * static_cast<double>(static_cast<float>(i) * q));
    float jq = static_cast<float>(j) * q;
    float theta =
        static_cast<float>(std::acos(1.0 - (1.0 - static_cast<double>(cosang)) * static_cast<double>(jq)));
    float st = std::sin(theta);
    float lx = std::cos(theta);
    float ly = static_cast<float>(static_cast<double>(st) * std::cos(static_cast<double>(phi)));
    float lz = st * std::sin(phi);

    vector3d_t a = d, b, w;
    if (d.y != 0.0f || d.z != 0.0f) {
        b = vector3d_t(0.0f, -d.z, d.y);
        b.normalize();
        w = d ^ b;
        w.normalize();
    } else {
        a = vector3d_t((d.x < 0.0f) ? -1.0f : 1.0f, 0.0f, 0.0f);
        b = vector3d_t(0.0f, 1.0f, 0.0f);
        w = vector3d_t(0.0f, 0.0f, 1.0f);
    }
    return a * lx + b * ly + w * lz;
}

namespace {

// (1 - angle / pi) / 2: maps an azimuth in [-pi, pi] to [1, 0]. The angle
// is rounded to float before the scaling.
float azimuthToU(double angle) {
    float a = static_cast<float>(angle);
    return static_cast<float>((1.0 - static_cast<double>(a) * 0.3183098861837907) * 0.5);
}

} // namespace

void tubemap(const point3d_t& p, float& u, float& v) {
    v = static_cast<float>(1.0 - (static_cast<double>(p.z) + 1.0) * 0.5);
    u = 0.0f;
    float d2 = p.x * p.x + p.y * p.y;
    if (d2 > 0.0f) {
        float l = std::sqrt(d2);
        u = azimuthToU(std::atan2(static_cast<double>(p.x / l), static_cast<double>(p.y / l)));
    }
}

void spheremap(const point3d_t& p, float& u, float& v) {
    u = 0.0f;
    v = 0.0f;
    float d2 = p.x * p.x + p.y * p.y + p.z * p.z;
    if (d2 > 0.0f) {
        if (p.x != 0.0f && p.y != 0.0f)
            u = azimuthToU(std::atan2(static_cast<double>(p.x), static_cast<double>(p.y)));
        // Squares of tiny components round coarsely, which can push the ratio
        // past 1 and acos to NaN; such a point lies on the axis.
        float c = p.z / std::sqrt(d2);
        if (c > 1.0f) c = 1.0f;
        if (c < -1.0f) c = -1.0f;
        float ac = static_cast<float>(std::acos(static_cast<double>(c)));
        v = static_cast<float>(static_cast<double>(ac) * 0.3183098861837907);
    }
}

dirConverter_t::dirConverter_t() {
    for (int t = 0; t < 255; ++t) {
        float theta = static_cast<float>(static_cast<double>(t) * 0.012319971190548208);
        costheta[t] = std::cos(theta);
        sintheta[t] = std::sin(theta);
    }
    for (int p = 0; p < 256; ++p) {
        float phi = static_cast<float>(static_cast<double>(static_cast<float>(p) * 0.00390625f) * 2.0 *
                                       3.141592653589793);
        cosphi[p] = std::cos(phi);
        sinphi[p] = std::sin(phi);
    }
}

void dirConverter_t::encode(const vector3d_t& dir, unsigned char& theta, unsigned char& phi) const {
    theta = 255;
    phi = 0;
    double x = dir.x, y = dir.y, z = dir.z;
    if (std::isnan(x) || std::isnan(y) || std::isnan(z)) return;
    double m = std::fmax(std::fabs(x), std::fmax(std::fabs(y), std::fabs(z)));
    if (m == 0.0) return;
    if (std::isinf(m)) {
        // Only the infinite components count for the direction.
        x = std::isinf(x) ? std::copysign(1.0, x) : 0.0;
        y = std::isinf(y) ? std::copysign(1.0, y) : 0.0;
        z = std::isinf(z) ? std::copysign(1.0, z) : 0.0;
        m = 1.0;
    }
    // Dividing by the largest magnitude first keeps the squares of huge or
    // tiny vectors from overflowing or underflowing.
    x /= m;
    y /= m;
    z /= m;
    double len = std::sqrt(x * x + y * y + z * z);
    x /= len;
    y /= len;
    z /= len;
    // Angles of the direction in units of the table steps. The best grid
    // point is among the neighbours of this position: the nearest phi for a
    // given theta is one of the two enclosing phi steps, and the cosine to
    // the grid points of that phi is unimodal in theta with its maximum a
    // small fraction of a step from the direction's own theta, towards the
    // nearer pole.
    double tpos = std::atan2(std::sqrt(x * x + y * y), z) * (255.0 / 3.141592653589793);
    double ppos = std::atan2(y, x) * (256.0 / 6.283185307179586);
    if (ppos < 0.0) ppos += 256.0;
    int t0 = static_cast<int>(std::floor(tpos));
    int p0 = static_cast<int>(std::floor(ppos));
    double best = -2.0;
    for (int t = t0 - 1; t <= t0 + 2; ++t) {
        if (t < 0 || t > 254) continue;
        for (int k = 0; k < 2; ++k) {
            int p = (p0 + k) & 255;
            // At the pole every phi decodes to the same direction: keep 0.
            if (t == 0) p = 0;
            double s = static_cast<double>(sintheta[t]);
            double c = s * static_cast<double>(cosphi[p]) * x + s * static_cast<double>(sinphi[p]) * y +
                       static_cast<double>(costheta[t]) * z;
            if (c > best || (c == best && (t < theta || (t == theta && p < phi)))) {
                best = c;
                theta = static_cast<unsigned char>(t);
                phi = static_cast<unsigned char>(p);
            }
        }
    }
}

const dirConverter_t dirconverter;

} // namespace vexlar

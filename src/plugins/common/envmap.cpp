#include "common/envmap.h"

#include <cmath>

namespace vexlar {
namespace plugins {

namespace {

const double pi = 3.14159265358979323846;

struct dvec_t {
    double x, y, z;
};

dvec_t of(const vector3d_t& v) {
    return {v.x, v.y, v.z};
}
double dot(const dvec_t& a, const dvec_t& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
dvec_t scaled(const dvec_t& a, double k) {
    return {a.x * k, a.y * k, a.z * k};
}
dvec_t sum(const dvec_t& a, const dvec_t& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
dvec_t unit(const dvec_t& a) {
    return scaled(a, 1.0 / std::sqrt(dot(a, a)));
}
vector3d_t single(const dvec_t& a) {
    return vector3d_t(static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z));
}
double clampUnit(double c) {
    return c < -1.0 ? -1.0 : (c > 1.0 ? 1.0 : c);
}

// The components of a unit direction in the frame.
struct local_t {
    double front, side, up;
};

} // namespace

envFrame_t makeEnvFrame(const vector3d_t& upIn, float rotationDegrees) {
    const dvec_t up = unit(of(upIn));
    const dvec_t ref = std::fabs(up.x) < 0.9 ? dvec_t{1, 0, 0} : dvec_t{0, 1, 0};
    const dvec_t a = unit(sum(ref, scaled(up, -dot(ref, up))));
    const dvec_t b = {up.y * a.z - up.z * a.y, up.z * a.x - up.x * a.z, up.x * a.y - up.y * a.x};
    const double t = static_cast<double>(rotationDegrees) * pi / 180.0;
    const dvec_t front = sum(scaled(a, std::cos(t)), scaled(b, std::sin(t)));
    const dvec_t side = sum(scaled(a, -std::sin(t)), scaled(b, std::cos(t)));
    return envFrame_t{single(up), single(front), single(side)};
}

bool directionToPosition(envMapping_t m, const envFrame_t& f, const vector3d_t& dIn, double& u, double& v) {
    const dvec_t d0 = of(dIn);
    const double len2 = dot(d0, d0);
    if (!(len2 > 0.0) || std::isinf(len2)) return false;
    const dvec_t d = scaled(d0, 1.0 / std::sqrt(len2));
    const local_t l{dot(d, of(f.front)), dot(d, of(f.side)), dot(d, of(f.up))};
    switch (m) {
    case envMapping_t::latlong:
        u = 0.5 - std::atan2(l.side, l.front) / (2 * pi);
        v = std::acos(clampUnit(l.up)) / pi;
        return true;
    case envMapping_t::angular: {
        // Right of the viewer facing front is -side.
        const double r = std::acos(clampUnit(l.front)) / pi, planar = std::hypot(l.side, l.up);
        const double x = planar > 0 ? -l.side / planar * r : r, y = planar > 0 ? l.up / planar * r : 0;
        u = 0.5 + 0.5 * x;
        v = 0.5 - 0.5 * y;
        return true;
    }
    case envMapping_t::mirrorball: {
        // The normal that reflects the photographer's view into d.
        const dvec_t h = {l.front + 1.0, l.side, l.up};
        const double hl = std::sqrt(dot(h, h));
        const double x = hl > 0 ? h.y / hl : 1.0, y = hl > 0 ? h.z / hl : 0.0;
        u = 0.5 + 0.5 * x;
        v = 0.5 - 0.5 * y;
        return true;
    }
    }
    return false;
}

bool positionToDirection(envMapping_t m, const envFrame_t& f, double u, double v, vector3d_t& d) {
    if (!std::isfinite(u) || !std::isfinite(v)) return false;
    const dvec_t front = of(f.front), side = of(f.side), up = of(f.up);
    local_t l{};
    switch (m) {
    case envMapping_t::latlong: {
        const double phi = (0.5 - u) * 2 * pi, theta = v * pi;
        l = {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
        break;
    }
    case envMapping_t::angular: {
        const double x = 2 * u - 1, y = 1 - 2 * v, r = std::hypot(x, y);
        if (r > 1.0) return false;
        const double a = r * pi, s = r > 0 ? std::sin(a) / r : 0.0;
        l = {std::cos(a), -x * s, y * s};
        break;
    }
    case envMapping_t::mirrorball: {
        const double x = 2 * u - 1, y = 1 - 2 * v, r2 = x * x + y * y;
        if (r2 > 1.0) return false;
        const double nz = std::sqrt(1.0 - r2);
        // Reflect the view direction -front about the normal (nz, x, y).
        l = {2 * nz * nz - 1, 2 * nz * x, 2 * nz * y};
        break;
    }
    }
    d = single(unit(sum(sum(scaled(front, l.front), scaled(side, l.side)), scaled(up, l.up))));
    return true;
}

} // namespace plugins
} // namespace vexlar

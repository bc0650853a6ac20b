#include "vexlarcore/sphere.h"

#include <cmath>

namespace vexlar {

sphere_t::sphere_t(const point3d_t& c, float r) : center(c), radius(r), R2(r * r) {
    recalcBound();
}

void sphere_t::recalcBound() {
    // The margin is a double constant; adding it in double precision and
    // rounding once keeps the box reproducible whatever the compiler does.
    auto lower = [this](float c) { return static_cast<float>(static_cast<double>(c - radius) - 1e-6); };
    auto upper = [this](float c) { return static_cast<float>(static_cast<double>(c + radius) + 1e-6); };
    bound.set(point3d_t(lower(center.x), lower(center.y), lower(center.z)),
              point3d_t(upper(center.x), upper(center.y), upper(center.z)));
}

void sphere_t::transform(const matrix4x4_t&) {}

bool sphere_t::shoot(renderState_t&, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
                     bool shadow, float dist) const {
    vector3d_t vf = from - center;
    float qa = ray * ray;
    // A zero direction has no intersection parameter; without this test the
    // quotients below would turn into NaN.
    if (qa == 0.0f) return false;
    float qb = 2.0f * (vf * ray);
    float qc = vf * vf - R2;
    double dd = static_cast<double>(qb) * static_cast<double>(qb) -
                4.0 * static_cast<double>(qa) * static_cast<double>(qc);
    float D = static_cast<float>(dd);
    if (D < 0.0f) return false;
    float s = std::sqrt(D);
    double inv = 1.0 / (2.0 * static_cast<double>(qa));
    float t1 = static_cast<float>(static_cast<double>(-qb - s) * inv);
    float t2 = static_cast<float>(static_cast<double>(-qb + s) * inv);
    float t = (t1 > 0.0f) ? t1 : t2;
    // Written as a negated test so that a NaN parameter (overflowing input)
    // counts as no hit as well.
    if (!(t > 0.0f)) return false;
    if (shadow) return (t < dist) || (dist < 0.0f);

    point3d_t P = from + t * ray;
    vector3d_t N = P - center;
    N.normalize();
    sp = surfacePoint_t(const_cast<sphere_t*>(this), P, P, N, N, -1.0f, -1.0f, color_t(0.0f), t, shader,
                        false, false, false);
    sp.origin = this;
    return true;
}

} // namespace vexlar

// Analytic spheres.
#ifndef VEXLARCORE_SPHERE_H
#define VEXLARCORE_SPHERE_H

#include "vexlarcore/bound.h"
#include "vexlarcore/object3d.h"

namespace vexlar {

/// A sphere given by its world-space centre and radius.
///
/// The base-class settings keep their defaults (no shader) until the host sets
/// them. `transform` is ignored: a sphere stays where it was built. Every
/// operation used while rendering is const and keeps its temporaries on the
/// stack, so any number of threads may shoot at one sphere.
class sphere_t : public object3d_t {
public:
    /// Sphere around `c` with radius `r` (world units; a negative radius is
    /// used as its magnitude by the hit test, its box then has unsorted corners).
    sphere_t(const point3d_t& c, float r);
    ~sphere_t() override {}

    /// Recomputes `bound` from `center` and `radius`: on each axis
    /// (center - radius) - 1e-6 to (center + radius) + 1e-6, the margin added
    /// in double precision and rounded to float.
    void recalcBound();

    /// 1.
    int type() const override { return 1; }
    /// Does nothing.
    void transform(const matrix4x4_t& m) override;
    /// The argument unchanged (a sphere has no object space of its own).
    point3d_t toObject(const point3d_t& p) const override { return p; }
    vector3d_t toObjectRot(const vector3d_t& v) const override { return v; }
    point3d_t toObjectOrco(const point3d_t& p) const override { return p; }

    /// Nearest intersection with t > 0 (t in multiples of `ray`). With
    /// `shadow` true only answers whether a hit lies before `dist` (any hit
    /// when `dist` < 0) and leaves `sp` alone. With `shadow` false `dist` is
    /// ignored and `sp` receives the hit: point and orco point P, normal and
    /// geometric normal (P - center) normalised, u = v = -1, black vertex
    /// colour, the sphere's shader, `origin` the sphere. A zero `ray` never
    /// hits.
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override;

    /// A copy of `bound`.
    bound_t getBound() const override { return bound; }

    point3d_t center;
    float radius;
    /// radius * radius.
    float R2;
    /// Cached box; see recalcBound.
    bound_t bound;
};

} // namespace vexlar

#endif

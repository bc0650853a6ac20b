#include "vexlarcore/reference.h"

#include <algorithm>

namespace vexlar {

referenceObject_t::referenceObject_t(const matrix4x4_t& m, object3d_t* obj) : referenced(obj), back(m), M(m) {
    copySettingsFrom(*obj);
    back.inverse();
}

referenceObject_t* referenceObject_t::factory(const matrix4x4_t& m, object3d_t* obj) {
    return new referenceObject_t(m, obj);
}

void referenceObject_t::transform(const matrix4x4_t& m) {
    M = m;
    back = m;
    back.inverse();
}

point3d_t referenceObject_t::toObject(const point3d_t& p) const {
    return referenced->toObject(back * p);
}

vector3d_t referenceObject_t::toObjectRot(const vector3d_t& v) const {
    return referenced->toObjectRot(back * v);
}

point3d_t referenceObject_t::toObjectOrco(const point3d_t& p) const {
    return referenced->toObjectOrco(back * p);
}

bool referenceObject_t::shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from,
                              const vector3d_t& ray, bool shadow, float dist) const {
    // The direction is carried over without normalising, so the hit
    // parameter names the same point in both spaces and the depth the
    // referenced object writes is a world-space depth.
    const point3d_t localFrom = back * from;
    const vector3d_t localRay = back * ray;
    if (!referenced->shoot(state, sp, localFrom, localRay, shadow, dist)) return false;
    sp.normal = M * sp.normal;
    sp.geometricNormal = M * sp.geometricNormal;
    sp.tangentU = M * sp.tangentU;
    sp.tangentV = M * sp.tangentV;
    sp.point = M * sp.point;
    sp.object = const_cast<referenceObject_t*>(this);
    return true;
}

bound_t referenceObject_t::getBound() const {
    const bound_t b = referenced->getBound();
    const vector3d_t d = b.g - b.a;
    const point3d_t corners[8] = {b.a,
                                  b.a + vector3d_t(d.x, 0, 0),
                                  b.a + vector3d_t(0, d.y, 0),
                                  b.a + vector3d_t(d.x, d.y, 0),
                                  b.a + vector3d_t(0, 0, d.z),
                                  b.a + vector3d_t(d.x, 0, d.z),
                                  b.a + vector3d_t(0, d.y, d.z),
                                  b.a + vector3d_t(d.x, d.y, d.z)};
    point3d_t lo = M * corners[0];
    point3d_t hi = lo;
    for (const point3d_t& c : corners) {
        const point3d_t p = M * c;
        lo.set(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
        hi.set(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
    }
    return bound_t(lo, hi);
}

} // namespace vexlar

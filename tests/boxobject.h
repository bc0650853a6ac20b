// A test object that is its own axis-aligned box, shared by the object-tree
// tests and benchmarks and the scene fixtures: it is hit where a ray enters
// the box (or leaves it, from inside).
#ifndef VEXLAR_TESTS_BOXOBJECT_H
#define VEXLAR_TESTS_BOXOBJECT_H

#include <limits>

#include "vexlarcore/object3d.h"

namespace vexlar {

class boxObject_t : public object3d_t {
public:
    explicit boxObject_t(const bound_t& b) : box(b) {}
    int type() const override { return 99; }
    void transform(const matrix4x4_t&) override {}
    point3d_t toObject(const point3d_t& p) const override { return p; }
    vector3d_t toObjectRot(const vector3d_t& v) const override { return v; }
    point3d_t toObjectOrco(const point3d_t& p) const override { return p; }
    bool shoot(renderState_t&, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray, bool,
               float dist) const override {
        float t;
        if (!hitAt(from, ray, t) || (dist >= 0 && !(t < dist))) return false;
        sp.depth = t;
        sp.object = const_cast<boxObject_t*>(this);
        return true;
    }
    bound_t getBound() const override { return box; }
    bool hitAt(const point3d_t& from, const vector3d_t& ray, float& t) const {
        float enter, leave;
        if (!box.cross(from, ray, enter, leave, std::numeric_limits<float>::infinity())) return false;
        t = enter > 0 ? enter : leave;
        return t > 0;
    }
    bound_t box;
};

} // namespace vexlar

#endif

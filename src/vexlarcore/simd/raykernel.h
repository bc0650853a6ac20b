// The ray/triangle side test of triangle_t::hit and the mesh's ray parameter
// t = N·(pa − from) / N·ray, lane by lane, for any lane type of simd/. Each
// lane performs exactly the scalar single-precision operations in their
// order, so its answers equal the one-triangle code's. Internal.
#ifndef VEXLARCORE_SIMD_RAYKERNEL_H
#define VEXLARCORE_SIMD_RAYKERNEL_H

#include "vexlarcore/simd/satkernel.h"

namespace vexlar {
namespace {

// The lanes whose side test passes; `t` receives every lane's parameter.
template <class L>
typename L::v sideTestLanes(const lanes3_t<L>& pa, const lanes3_t<L>& pb, const lanes3_t<L>& pc,
                            const lanes3_t<L>& n, const lanes3_t<L>& from, const lanes3_t<L>& ray,
                            typename L::v& t) {
    // ray·N, which is also N·ray: the products commute exactly and the sums
    // run in the same order.
    const typename L::v rn = dot3<L>(ray, n);
    // r = ray, negated where ray·N < 0.
    const typename L::v flip = L::bitAnd(L::lt(rn, L::zero()), L::set1(-0.0f));
    const lanes3_t<L> r = {L::bitXor(ray.x, flip), L::bitXor(ray.y, flip), L::bitXor(ray.z, flip)};
    const lanes3_t<L> da = minus<L>(pa, from), db = minus<L>(pb, from), dc = minus<L>(pc, from);
    const typename L::v s1 = dot3<L>(cross3<L>(da, db), r);
    const typename L::v s2 = dot3<L>(cross3<L>(db, dc), r);
    const typename L::v s3 = dot3<L>(cross3<L>(dc, da), r);
    const typename L::v zero = L::zero();
    t = L::div(dot3<L>(n, da), rn);
    return L::andNot(L::bitOr(L::lt(s1, zero), L::lt(s2, zero)), L::ge(s3, zero));
}

} // namespace
} // namespace vexlar

#endif

// The triangle/box separating-axis test of triBoxOverlap, lane by lane, for
// any lane type of simd/ (sseLanes_t, avxLanes_t). Each lane computes exactly
// the single-precision expressions of the one-triangle test, in its order, so
// every lane's answer is the scalar answer. Internal to the library.
#ifndef VEXLARCORE_SIMD_SATKERNEL_H
#define VEXLARCORE_SIMD_SATKERNEL_H

namespace vexlar {
namespace {

template <class L> struct lanes3_t { typename L::v x, y, z; };

template <class L> lanes3_t<L> minus(const lanes3_t<L>& a, const lanes3_t<L>& b) {
    return {L::sub(a.x, b.x), L::sub(a.y, b.y), L::sub(a.z, b.z)};
}

// a·b as (a.x*b.x + a.y*b.y) + a.z*b.z.
template <class L> typename L::v dot3(const lanes3_t<L>& a, const lanes3_t<L>& b) {
    return L::add(L::add(L::mul(a.x, b.x), L::mul(a.y, b.y)), L::mul(a.z, b.z));
}

template <class L> lanes3_t<L> cross3(const lanes3_t<L>& a, const lanes3_t<L>& b) {
    return {L::sub(L::mul(a.y, b.z), L::mul(a.z, b.y)), L::sub(L::mul(a.z, b.x), L::mul(a.x, b.z)),
            L::sub(L::mul(a.x, b.y), L::mul(a.y, b.x))};
}

// separated(p, q, rad): the smaller projection beyond rad or the larger
// below -rad.
template <class L> typename L::v separatedLanes(typename L::v p, typename L::v q, typename L::v rad) {
    const typename L::v less = L::lt(p, q);
    const typename L::v mn = L::select(less, p, q);
    const typename L::v mx = L::select(less, q, p);
    return L::bitOr(L::gt(mn, rad), L::lt(mx, L::negate(rad)));
}

// The three edge-cross axes of edge e; the x axis projects vertices xa, xb,
// the y axis ya, yb, the z axis za, zb (which two depends on the edge).
template <class L>
typename L::v edgeAxes(const lanes3_t<L>& e, const lanes3_t<L>& xa, const lanes3_t<L>& xb,
                       const lanes3_t<L>& ya, const lanes3_t<L>& yb, const lanes3_t<L>& za,
                       const lanes3_t<L>& zb, const lanes3_t<L>& h) {
    const typename L::v fex = L::abs(e.x), fey = L::abs(e.y), fez = L::abs(e.z);
    typename L::v sep = separatedLanes<L>(L::sub(L::mul(e.z, xa.y), L::mul(e.y, xa.z)),
                                          L::sub(L::mul(e.z, xb.y), L::mul(e.y, xb.z)),
                                          L::add(L::mul(fez, h.y), L::mul(fey, h.z)));
    const typename L::v nez = L::negate(e.z);
    sep = L::bitOr(sep, separatedLanes<L>(L::add(L::mul(nez, ya.x), L::mul(e.x, ya.z)),
                                          L::add(L::mul(nez, yb.x), L::mul(e.x, yb.z)),
                                          L::add(L::mul(fez, h.x), L::mul(fex, h.z))));
    sep = L::bitOr(sep, separatedLanes<L>(L::sub(L::mul(e.y, za.x), L::mul(e.x, za.y)),
                                          L::sub(L::mul(e.y, zb.x), L::mul(e.x, zb.y)),
                                          L::add(L::mul(fey, h.x), L::mul(fex, h.y))));
    return sep;
}

// The face test of one axis: the extent of the three values against ±h.
template <class L>
typename L::v outsideSlab(typename L::v a, typename L::v b, typename L::v c, typename L::v h) {
    typename L::v mn = a, mx = a;
    mn = L::select(L::lt(b, mn), b, mn);
    mx = L::select(L::gt(b, mx), b, mx);
    mn = L::select(L::lt(c, mn), c, mn);
    mx = L::select(L::gt(c, mx), c, mx);
    return L::bitOr(L::gt(mn, h), L::lt(mx, L::negate(h)));
}

// The lanes where the triangle p0 p1 p2 overlaps the box with centre m and
// half-sizes h (m and h as triBoxOverlap computes them).
template <class L>
typename L::v overlapLanes(const lanes3_t<L>& p0, const lanes3_t<L>& p1, const lanes3_t<L>& p2,
                           const lanes3_t<L>& m, const lanes3_t<L>& h) {
    const lanes3_t<L> v0 = minus<L>(p0, m), v1 = minus<L>(p1, m), v2 = minus<L>(p2, m);
    const lanes3_t<L> e0 = minus<L>(v1, v0), e1 = minus<L>(v2, v1), e2 = minus<L>(v0, v2);

    typename L::v sep = edgeAxes<L>(e0, v0, v2, v0, v2, v1, v2, h);
    sep = L::bitOr(sep, edgeAxes<L>(e1, v0, v2, v0, v2, v0, v1, h));
    sep = L::bitOr(sep, edgeAxes<L>(e2, v0, v1, v0, v1, v1, v2, h));
    sep = L::bitOr(sep, outsideSlab<L>(v0.x, v1.x, v2.x, h.x));
    sep = L::bitOr(sep, outsideSlab<L>(v0.y, v1.y, v2.y, h.y));
    sep = L::bitOr(sep, outsideSlab<L>(v0.z, v1.z, v2.z, h.z));

    // planeBoxOverlap(normal, d, h).
    const lanes3_t<L> normal = cross3<L>(e0, e1);
    const typename L::v d = L::negate(dot3<L>(normal, v0));
    const typename L::v zero = L::zero();
    const typename L::v gx = L::gt(normal.x, zero), gy = L::gt(normal.y, zero), gz = L::gt(normal.z, zero);
    const lanes3_t<L> vmin = {L::select(gx, L::negate(h.x), h.x), L::select(gy, L::negate(h.y), h.y),
                              L::select(gz, L::negate(h.z), h.z)};
    const lanes3_t<L> vmax = {L::select(gx, h.x, L::negate(h.x)), L::select(gy, h.y, L::negate(h.y)),
                              L::select(gz, h.z, L::negate(h.z))};
    const typename L::v planeAbove = L::gt(L::add(dot3<L>(normal, vmin), d), zero);
    const typename L::v planeReached = L::ge(L::add(dot3<L>(normal, vmax), d), zero);
    return L::andNot(L::bitOr(sep, planeAbove), planeReached);
}

} // namespace
} // namespace vexlar

#endif

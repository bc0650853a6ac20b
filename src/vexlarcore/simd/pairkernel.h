// bound_distance(l, r) lane by lane for any lane type of simd/: one box l
// against a run of boxes r stored corner by corner, with the operations of
// bound_distance in their order (std::min and std::max keep their first
// argument on ties). Internal.
#ifndef VEXLARCORE_SIMD_PAIRKERNEL_H
#define VEXLARCORE_SIMD_PAIRKERNEL_H

namespace vexlar {
namespace {

template <class L> struct boxLanes_t { typename L::v ax, ay, az, gx, gy, gz, volume; };

template <class L> typename L::v minLanes(typename L::v a, typename L::v b) {
    return L::select(L::lt(b, a), b, a);
}
template <class L> typename L::v maxLanes(typename L::v a, typename L::v b) {
    return L::select(L::lt(a, b), b, a);
}

template <class L> typename L::v boxDistanceLanes(const boxLanes_t<L>& l, const boxLanes_t<L>& r) {
    const typename L::v ux = minLanes<L>(l.ax, r.ax), uy = minLanes<L>(l.ay, r.ay),
                        uz = minLanes<L>(l.az, r.az);
    const typename L::v vx = maxLanes<L>(l.gx, r.gx), vy = maxLanes<L>(l.gy, r.gy),
                        vz = maxLanes<L>(l.gz, r.gz);
    const typename L::v vu = L::mul(L::mul(L::sub(vy, uy), L::sub(vx, ux)), L::sub(vz, uz));
    const typename L::v ix = maxLanes<L>(l.ax, r.ax), iy = maxLanes<L>(l.ay, r.ay),
                        iz = maxLanes<L>(l.az, r.az);
    const typename L::v jx = minLanes<L>(l.gx, r.gx), jy = minLanes<L>(l.gy, r.gy),
                        jz = minLanes<L>(l.gz, r.gz);
    const typename L::v overlaps = L::bitAnd(L::bitAnd(L::gt(jx, ix), L::gt(jy, iy)), L::gt(jz, iz));
    const typename L::v vi =
        L::bitAnd(overlaps, L::mul(L::mul(L::sub(jx, ix), L::sub(jy, iy)), L::sub(jz, iz)));
    typename L::v waste = L::add(L::sub(L::sub(vu, l.volume), r.volume), vi);
    waste = L::select(L::lt(waste, L::zero()), L::zero(), waste);
    return L::add(L::add(waste, vu), L::abs(L::sub(l.volume, r.volume)));
}

} // namespace
} // namespace vexlar

#endif

#include "vexlarcore/boxpairing.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include "vexlarcore/simd/lanes_sse.h"
#include "vexlarcore/simd/pairkernel.h"

#include <emmintrin.h>
#endif

namespace vexlar {

#if defined(VEXLAR_HAVE_AVX_KERNELS)
// boxpairing_avx.cpp, compiled for AVX2.
void boxDistancesAvx(const float* box, const float* const corners[7], std::size_t n, float* out);
void relevantLanesAvx(const float* distances, const float* nearestDist, const int* partner, const int* alive,
                      float t, std::size_t n, unsigned char* bits);

namespace {
const bool avxAvailable = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
}
#endif

bool sortedBoxes(const std::vector<bound_t>& boxes) {
    for (const bound_t& b : boxes) {
        // False for NaN corners too.
        if (!(b.a.x <= b.g.x && b.a.y <= b.g.y && b.a.z <= b.g.z)) return false;
    }
    return true;
}

namespace {

// bound_t::vol of the box with these corners.
inline float volumeOf(float ax, float ay, float az, float gx, float gy, float gz) {
    return (gy - ay) * (gx - ax) * (gz - az);
}

// std::min and std::max exactly: the first argument on ties.
inline float minOf(float a, float b) {
    return (b < a) ? b : a;
}
inline float maxOf(float a, float b) {
    return (a < b) ? b : a;
}

} // namespace

void boxPairing_t::removeAll(std::vector<std::uint32_t>& list, std::uint32_t v) {
    list.erase(std::remove(list.begin(), list.end(), v), list.end());
}

std::uint32_t boxPairing_t::push(const bound_t& box) {
    // Close the gaps of joined items once they outnumber the waiting ones,
    // so that scans stay proportional to what waits.
    const std::size_t dead = alive.size() - live;
    if (dead > 64 && 4 * dead > live) compact();
    const std::uint32_t p = static_cast<std::uint32_t>(alive.size());
    const std::uint32_t slot = static_cast<std::uint32_t>(slotPosition.size());
    ax.push_back(box.a.x);
    ay.push_back(box.a.y);
    az.push_back(box.a.z);
    gx.push_back(box.g.x);
    gy.push_back(box.g.y);
    gz.push_back(box.g.z);
    volume.push_back(volumeOf(box.a.x, box.a.y, box.a.z, box.g.x, box.g.y, box.g.z));
    nearestDist.push_back(0.0f);
    nearestPos.push_back(-1);
    alive.push_back(-1);
    slotAt.push_back(slot);
    pointedBy.emplace_back();
    slotPosition.push_back(p);
    ++live;
    calculate(p);
    if (live > 1 && (nearestDist[p] < minDist || best == none)) {
        best = p;
        minDist = nearestDist[p];
    }
    return slot;
}

std::uint32_t boxPairing_t::frontPosition() const {
    std::uint32_t p = static_cast<std::uint32_t>(alive.size());
    while (p > 0) {
        --p;
        if (alive[p]) return p;
    }
    return none;
}

std::uint32_t boxPairing_t::nextPosition(std::uint32_t p) const {
    while (p > 0) {
        --p;
        if (alive[p]) return p;
    }
    return none;
}

std::uint32_t boxPairing_t::front() const {
    const std::uint32_t p = frontPosition();
    return p == none ? none : slotAt[p];
}

void boxPairing_t::distancesFrom(std::uint32_t i) {
    // bound_distance(box i, box j) for every position j, box i first.
    const std::size_t n = alive.size();
    distances.resize(n);
    std::size_t j = 0;
    const float l[7] = {ax[i], ay[i], az[i], gx[i], gy[i], gz[i], volume[i]};
#if defined(VEXLAR_HAVE_AVX_KERNELS)
    if (avxAvailable) {
        const float* const corners[7] = {ax.data(), ay.data(), az.data(),    gx.data(),
                                         gy.data(), gz.data(), volume.data()};
        j = n & ~std::size_t(7);
        boxDistancesAvx(l, corners, j, distances.data());
    }
#endif
#if defined(__SSE2__)
    typedef sseLanes_t L;
    const boxLanes_t<L> lb = {L::set1(l[0]), L::set1(l[1]), L::set1(l[2]), L::set1(l[3]),
                              L::set1(l[4]), L::set1(l[5]), L::set1(l[6])};
    for (; j + 4 <= n; j += 4) {
        const boxLanes_t<L> r = {_mm_loadu_ps(&ax[j]),    _mm_loadu_ps(&ay[j]), _mm_loadu_ps(&az[j]),
                                 _mm_loadu_ps(&gx[j]),    _mm_loadu_ps(&gy[j]), _mm_loadu_ps(&gz[j]),
                                 _mm_loadu_ps(&volume[j])};
        _mm_storeu_ps(&distances[j], boxDistanceLanes<L>(lb, r));
    }
#endif
    for (; j < n; ++j) distances[j] = pairDistance(i, static_cast<std::uint32_t>(j));
}

float boxPairing_t::pairDistance(std::uint32_t i, std::uint32_t j) const {
    const float ux = minOf(ax[i], ax[j]), uy = minOf(ay[i], ay[j]), uz = minOf(az[i], az[j]);
    const float vx = maxOf(gx[i], gx[j]), vy = maxOf(gy[i], gy[j]), vz = maxOf(gz[i], gz[j]);
    const float vu = volumeOf(ux, uy, uz, vx, vy, vz);
    const float ix = maxOf(ax[i], ax[j]), iy = maxOf(ay[i], ay[j]), iz = maxOf(az[i], az[j]);
    const float jx = minOf(gx[i], gx[j]), jy = minOf(gy[i], gy[j]), jz = minOf(gz[i], gz[j]);
    const float vi = (jx > ix && jy > iy && jz > iz) ? (jx - ix) * (jy - iy) * (jz - iz) : 0.0f;
    const float vl = volume[i], vr = volume[j];
    float waste = vu - vl - vr + vi;
    if (waste < 0) waste = 0;
    return waste + vu + std::fabs(vl - vr);
}

void boxPairing_t::scan(std::uint32_t i) {
    distancesFrom(i);
    // Front to back is from the highest position down. One item j, exactly
    // as treeBuilder_t::calculate visits it.
    auto visit = [this, i](std::uint32_t j) {
        if (!alive[j] || j == i) return;
        const float d = distances[j];
        if (nearestPos[j] < 0) {
            nearestPos[j] = static_cast<std::int32_t>(i);
            nearestDist[j] = d;
            pushFront(pointedBy[i], j);
        }
        bool adopt;
        if (nearestPos[i] < 0) {
            adopt = true;
        } else {
            const int votes = (d < nearestDist[i]) + (d < nearestDist[j]) +
                              (nearestDist[static_cast<std::uint32_t>(nearestPos[i])] < nearestDist[i]);
            adopt = votes >= 2;
        }
        if (adopt) {
            nearestPos[i] = static_cast<std::int32_t>(j);
            nearestDist[i] = d;
        }
    };
    std::size_t p = alive.size();
    // Until i has a partner, every item counts.
    while (p > 0 && nearestPos[i] < 0) visit(static_cast<std::uint32_t>(--p));
        // An item changes nothing when it has a partner and its distance is
        // neither below i's partner distance nor below its own: then no vote
        // can reach two, and it can be skipped. The items that may matter are
        // masked with i's partner distance t0 and visited in order; a visit
        // lowers i's distance (the mask still covers every item that matters)
        // or raises it, after which the items still ahead are masked again.
        // A visit changes only i and the item visited, so the other masks stay
        // right.
#if defined(VEXLAR_HAVE_AVX_KERNELS)
    if (avxAvailable) {
        const std::size_t runs = p / 8;
        runBits.resize(runs);
        while (p > runs * 8) visit(static_cast<std::uint32_t>(--p));
        // Blocks of eight runs, each masked with i's distance when the block
        // starts.
        const std::size_t block = 8;
        for (std::size_t top = runs; top > 0;) {
            const std::size_t first = top > block ? top - block : 0;
            float t0 = nearestDist[i];
            relevantLanesAvx(distances.data() + 8 * first, nearestDist.data() + 8 * first,
                             nearestPos.data() + 8 * first, alive.data() + 8 * first, t0, 8 * (top - first),
                             runBits.data() + first);
            for (std::size_t c = top; c > first; --c) {
                const std::size_t q = 8 * (c - 1);
                const unsigned self = (i >= q && i < q + 8) ? 1u << (i - q) : 0u;
                unsigned bits = runBits[c - 1] & ~self;
                while (bits != 0) {
                    // Highest position first.
                    const unsigned k = 31u - static_cast<unsigned>(__builtin_clz(bits));
                    bits &= ~(1u << k);
                    visit(static_cast<std::uint32_t>(q + k));
                    if (!(nearestDist[i] <= t0)) {
                        // Raised: the items still ahead in the block are
                        // masked again.
                        t0 = nearestDist[i];
                        relevantLanesAvx(distances.data() + 8 * first, nearestDist.data() + 8 * first,
                                         nearestPos.data() + 8 * first, alive.data() + 8 * first, t0,
                                         8 * (c - first), runBits.data() + first);
                        bits = runBits[c - 1] & ~self & ((1u << k) - 1u);
                    }
                }
            }
            top = first;
        }
        return;
    }
#endif
#if defined(__SSE2__)
    typedef sseLanes_t L;
    const __m128i unpaired = _mm_set1_epi32(-1);
    while (p >= 4) {
        const std::size_t q = p - 4;
        const __m128 d = _mm_loadu_ps(&distances[q]);
        const __m128 mine = L::set1(nearestDist[i]);
        const __m128 theirs = _mm_loadu_ps(&nearestDist[q]);
        const __m128i partner = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&nearestPos[q]));
        const __m128i waiting = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&alive[q]));
        const __m128 matters = L::bitOr(L::bitOr(L::lt(d, mine), L::lt(d, theirs)),
                                        _mm_castsi128_ps(_mm_cmpeq_epi32(partner, unpaired)));
        int bits = L::bits(L::bitAnd(matters, _mm_castsi128_ps(waiting)));
        if (i >= q && i < p) bits &= ~(1 << (i - q));
        if (bits != 0) {
            for (std::size_t k = p; k > q; --k) visit(static_cast<std::uint32_t>(k - 1));
        }
        p = q;
    }
#endif
    while (p > 0) visit(static_cast<std::uint32_t>(--p));
}

void boxPairing_t::calculate(std::uint32_t i) {
    if (live < 2) return;
    if (live == 2) {
        const std::uint32_t a = frontPosition(), b = nextPosition(a);
        nearestPos[a] = static_cast<std::int32_t>(b);
        nearestPos[b] = static_cast<std::int32_t>(a);
        pushFront(pointedBy[a], b);
        pushFront(pointedBy[b], a);
        const float d = pairDistance(a, b);
        nearestDist[a] = nearestDist[b] = d;
        minDist = d;
        best = a;
        return;
    }
    const std::int32_t old = nearestPos[i];
    scan(i);
    const std::uint32_t k = static_cast<std::uint32_t>(nearestPos[i]);
    if (nearestDist[i] < nearestDist[k]) {
        if (nearestPos[k] >= 0) removeAll(pointedBy[static_cast<std::uint32_t>(nearestPos[k])], k);
        nearestPos[k] = static_cast<std::int32_t>(i);
        nearestDist[k] = nearestDist[i];
        pushFront(pointedBy[i], k);
    }
    if (old >= 0) removeAll(pointedBy[static_cast<std::uint32_t>(old)], i);
    pushFront(pointedBy[k], i);
}

bool boxPairing_t::join(std::uint32_t& left, std::uint32_t& right) {
    if (live < 2) return false;
    const std::uint32_t a = best;
    const std::uint32_t b = static_cast<std::uint32_t>(nearestPos[a]);
    left = slotAt[a];
    right = slotAt[b];
    if (nearestPos[b] >= 0) removeAll(pointedBy[static_cast<std::uint32_t>(nearestPos[b])], b);
    // The lists are stored back to front; `affected` is built front to back.
    std::vector<std::uint32_t> affected(pointedBy[a].rbegin(), pointedBy[a].rend());
    removeAll(pointedBy[b], a);
    affected.insert(affected.end(), pointedBy[b].rbegin(), pointedBy[b].rend());
    removeAll(affected, a);
    removeAll(affected, b);
    for (std::uint32_t gone : {b, a}) {
        alive[gone] = 0;
        nearestPos[gone] = -1;
        std::vector<std::uint32_t>().swap(pointedBy[gone]);
    }
    live -= 2;
    best = none;
    if (live == 0) return true;
    for (std::uint32_t k : affected) nearestPos[k] = -1;
    for (std::uint32_t k : affected) calculate(k);
    // Front to back: the first item, then each strictly closer one.
    for (std::size_t k = alive.size(); k > 0; --k) {
        const std::uint32_t q = static_cast<std::uint32_t>(k - 1);
        if (alive[q] && (nearestDist[q] < minDist || best == none)) {
            best = q;
            minDist = nearestDist[q];
        }
    }
    return true;
}

void boxPairing_t::compact() {
    const std::size_t n = alive.size();
    std::vector<std::int32_t> moved(n, -1);
    std::size_t to = 0;
    for (std::size_t p = 0; p < n; ++p) {
        if (!alive[p]) continue;
        moved[p] = static_cast<std::int32_t>(to);
        ax[to] = ax[p];
        ay[to] = ay[p];
        az[to] = az[p];
        gx[to] = gx[p];
        gy[to] = gy[p];
        gz[to] = gz[p];
        volume[to] = volume[p];
        nearestDist[to] = nearestDist[p];
        nearestPos[to] = nearestPos[p];
        alive[to] = alive[p];
        slotAt[to] = slotAt[p];
        if (to != p) pointedBy[to].swap(pointedBy[p]);
        ++to;
    }
    for (podArray_t<float>* a : {&ax, &ay, &az, &gx, &gy, &gz, &volume, &nearestDist}) a->resize(to);
    nearestPos.resize(to);
    alive.resize(to);
    slotAt.resize(to);
    pointedBy.resize(to);
    for (std::size_t p = 0; p < to; ++p) {
        if (nearestPos[p] >= 0) nearestPos[p] = moved[static_cast<std::size_t>(nearestPos[p])];
        for (std::uint32_t& e : pointedBy[p]) e = static_cast<std::uint32_t>(moved[e]);
        slotPosition[slotAt[p]] = static_cast<std::uint32_t>(p);
    }
    if (best != none) best = static_cast<std::uint32_t>(moved[best]);
}

} // namespace vexlar

// Photon map: the gather rules (K = 0, radius doubling, shrinking, missing
// directions), a brute-force k-nearest reference and the running photon.
#include "vexlarcore/photon.h"
#include "vexlarcore/sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace vexlar;

namespace {

// A photon arriving straight along +z (theta 0), so N = (0, 0, 1) accepts it
// for any minCos below 1.
storedPhoton_t upPhoton(float x, float y, float z) {
    storedPhoton_t p;
    p.pos = point3d_t(x, y, z);
    p.theta = 0;
    p.phi = 0;
    return p;
}

const vector3d_t up(0, 0, 1);
const point3d_t origin(0, 0, 0);

// Fills `map` with upward photons at the given points and builds its tree.
void fill(globalPhotonMap_t& map, const std::vector<point3d_t>& at) {
    for (const point3d_t& p : at) map.store(upPhoton(p.x, p.y, p.z));
    map.buildTree();
}

// `n` upward photons on the x axis at step, 2 step, ..., n step.
std::vector<point3d_t> onXAxis(int n, float step) {
    std::vector<point3d_t> v;
    for (int i = 1; i <= n; ++i) v.push_back(point3d_t(step * static_cast<float>(i), 0, 0));
    return v;
}

std::vector<float> sortedDistances(const std::vector<foundPhoton_t>& f) {
    std::vector<float> d;
    for (const foundPhoton_t& x : f) d.push_back(x.dis);
    std::sort(d.begin(), d.end());
    return d;
}

// The gather rules applied to a plain list of all photons.
void bruteGather(const std::vector<storedPhoton_t>& photons, float maxRadius, const point3d_t& P,
                 const vector3d_t& N, std::vector<foundPhoton_t>& found, unsigned K, float& radius,
                 float minCos) {
    if (K != 0 && !(radius > maxRadius)) {
        unsigned n;
        for (;;) {
            std::vector<foundPhoton_t> all;
            for (const storedPhoton_t& p : photons) {
                vector3d_t v = p.pos - P;
                float d = static_cast<float>(std::sqrt(static_cast<double>(v * v)));
                if (d <= radius && N * dirconverter.convert(p.theta, p.phi) > minCos)
                    all.push_back(foundPhoton_t(&p, d));
            }
            n = static_cast<unsigned>(all.size());
            std::stable_sort(all.begin(), all.end(),
                             [](const foundPhoton_t& a, const foundPhoton_t& b) { return a.dis < b.dis; });
            if (all.size() > K) all.resize(K);
            found = all;
            if (n >= K) break;
            radius = radius + radius;
            if (radius > maxRadius) break;
        }
        if (n > K && static_cast<float>(K) / static_cast<float>(n) < 0.49f) radius *= 0.95f;
    }
    if (radius > maxRadius) radius = maxRadius;
}

} // namespace

TEST(PhotonMap, KZeroTouchesNothingAndClampsTheRadius) {
    globalPhotonMap_t map(2.0f);
    fill(map, {origin});
    std::vector<foundPhoton_t> found(3, foundPhoton_t(nullptr, 7.0f));
    float radius = 5.0f;
    map.gather(origin, up, found, 0, radius, 0.0f);
    EXPECT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].dis, 7.0f);
    EXPECT_EQ(radius, 2.0f);
    radius = 1.0f;
    map.gather(origin, up, found, 0, radius, 0.0f);
    EXPECT_EQ(radius, 1.0f);

    // A radius above the maximum searches nothing, K or not.
    found.assign(1, foundPhoton_t(nullptr, 9.0f));
    radius = 2.5f;
    map.gather(origin, up, found, 4, radius, 0.0f);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].photon, nullptr);
    EXPECT_EQ(radius, 2.0f);
}

TEST(PhotonMap, ExactlyKCandidatesTakeOnePass) {
    globalPhotonMap_t map(10.0f);
    std::vector<point3d_t> at = onXAxis(3, 0.1f);
    at.push_back(origin);
    at.push_back(point3d_t(3, 0, 0));
    fill(map, at);
    std::vector<foundPhoton_t> found;
    float radius = 0.5f;
    map.gather(origin, up, found, 4, radius, 0.0f);
    EXPECT_EQ(radius, 0.5f);
    ASSERT_EQ(found.size(), 4u);
    EXPECT_TRUE(std::is_heap(found.begin(), found.end(), compareFound_f()));
    EXPECT_EQ(found.front().dis, sortedDistances(found).back());
}

TEST(PhotonMap, ThreeTimesKCandidatesShrinkTheRadius) {
    globalPhotonMap_t map(10.0f);
    fill(map, onXAxis(12, 0.05f));
    std::vector<foundPhoton_t> found;
    float radius = 1.0f;
    map.gather(origin, up, found, 4, radius, 0.0f);
    EXPECT_EQ(radius, 0.95f);
    ASSERT_EQ(found.size(), 4u);
    std::vector<const storedPhoton_t*> ptrs;
    for (const foundPhoton_t& f : found) ptrs.push_back(f.photon);
    std::sort(ptrs.begin(), ptrs.end());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ptrs[i], &map.photons[i]); // the four nearest

    // The shrink is a single-precision product: 0.6f * 0.95f = 0.569999993,
    // where a double product would round to 0.570000052.
    globalPhotonMap_t close(10.0f);
    fill(close, onXAxis(12, 0.04f));
    radius = 0.6f;
    close.gather(origin, up, found, 4, radius, 0.0f);
    EXPECT_EQ(radius, 0.6f * 0.95f);
    EXPECT_NE(radius, static_cast<float>(0.6f * 0.95));

    // K / n = 4 / 8 = 0.5 is not below 0.49: no shrink.
    globalPhotonMap_t half(10.0f);
    fill(half, onXAxis(8, 0.05f));
    radius = 1.0f;
    half.gather(origin, up, found, 4, radius, 0.0f);
    EXPECT_EQ(radius, 1.0f);
}

TEST(PhotonMap, RadiusDoublesUntilItPassesTheMaximum) {
    globalPhotonMap_t map(5.0f);
    fill(map, {point3d_t(100, 0, 0)});
    std::vector<foundPhoton_t> found(2);
    float radius = 0.25f;
    map.gather(origin, up, found, 3, radius, 0.0f);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(radius, 5.0f);

    // Two photons at 1.5: passes at 0.25, 0.5, 1 find none; at 2 both are
    // found and the search keeps doubling (fewer than K) past the maximum.
    // With K = 2 the pass at radius 2 is enough.
    globalPhotonMap_t near(3.0f);
    fill(near, {point3d_t(1.5f, 0, 0), point3d_t(0, 1.5f, 0)});
    for (unsigned K : {3u, 2u}) {
        radius = 0.25f;
        near.gather(origin, up, found, K, radius, 0.0f);
        EXPECT_EQ(found.size(), 2u);
        EXPECT_EQ(radius, K == 3 ? 3.0f : 2.0f);
    }
}

TEST(PhotonMap, DirectionsAreFilteredByTheCosine) {
    globalPhotonMap_t map(10.0f);
    storedPhoton_t none = upPhoton(0.1f, 0, 0);
    none.theta = 255;
    map.store(none);
    storedPhoton_t down = upPhoton(0.2f, 0, 0);
    down.theta = 254; // almost -z
    map.store(down);
    map.store(upPhoton(0.3f, 0, 0));
    map.buildTree();
    std::vector<foundPhoton_t> found;
    float radius = 1.0f;
    map.gather(point3d_t(0, 0, 0), up, found, 1, radius, 0.0f);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].photon, &map.photons[2]);
    // A negative threshold admits the photon without direction (0 > -0.5).
    radius = 1.0f;
    map.gather(point3d_t(0, 0, 0), up, found, 1, radius, -0.5f);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].photon, &map.photons[0]);
    // The comparison is strict: cos = 1 with minCos = 1 is rejected.
    radius = 1.0f;
    map.gather(point3d_t(0, 0, 0), up, found, 1, radius, 1.0f);
    EXPECT_TRUE(found.empty());
}

TEST(PhotonMap, EqualDistancesKeepTheNewcomer) {
    globalPhotonMap_t map(10.0f);
    fill(map, {point3d_t(0.5f, 0, 0), point3d_t(-0.5f, 0, 0)});
    std::vector<foundPhoton_t> found;
    float radius = 1.0f;
    map.gather(origin, up, found, 1, radius, 0.0f);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].dis, 0.5f);
    // Whichever the tree yields second replaces the first.
    std::vector<const storedPhoton_t*> order;
    searchCircle_t c(origin, 1.0f);
    for (gObjectIterator_t<const storedPhoton_t*, searchCircle_t, circleCross_f> it(map.tree, c);
         !it.finished; ++it)
        order.push_back(*it);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(found[0].photon, order[1]);
}

TEST(PhotonMap, GatherWithoutATreeFindsNothing) {
    globalPhotonMap_t map(4.0f);
    map.store(upPhoton(0, 0, 0));
    std::vector<foundPhoton_t> found(1);
    float radius = 1.0f;
    map.gather(origin, up, found, 1, radius, 0.0f);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(radius, 4.0f);
    map.buildTree();
    // Storing drops the tree until it is rebuilt.
    for (int i = 0; i < 100; ++i) map.store(upPhoton(5, 5, 5));
    EXPECT_EQ(map.tree, nullptr);
    radius = 1.0f;
    map.gather(origin, up, found, 1, radius, 0.0f);
    EXPECT_TRUE(found.empty());
    map.buildTree();
    radius = 1.0f;
    map.gather(origin, up, found, 1, radius, 0.0f);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].photon, &map.photons[0]);
}

TEST(PhotonMap, RadiiThatCannotGrowEndTheSearch) {
    globalPhotonMap_t map(4.0f);
    fill(map, {origin, point3d_t(1, 0, 0)});
    std::vector<foundPhoton_t> found;
    float radius = 0.0f;
    map.gather(origin, up, found, 2, radius, 0.0f);
    ASSERT_EQ(found.size(), 1u); // the photon at distance 0
    EXPECT_EQ(radius, 0.0f);
    radius = -1.0f;
    map.gather(origin, up, found, 2, radius, 0.0f);
    EXPECT_TRUE(found.empty());
    radius = NAN;
    map.gather(origin, up, found, 2, radius, 0.0f);
    EXPECT_EQ(radius, 4.0f);

    globalPhotonMap_t unbounded(INFINITY);
    fill(unbounded, {origin});
    radius = 1.0f;
    unbounded.gather(origin, up, found, 5, radius, 0.0f);
    EXPECT_EQ(found.size(), 1u);
}

TEST(PhotonMap, MatchesBruteForceOnRandomClouds) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int cloud = 0; cloud < 6; ++cloud) {
        globalPhotonMap_t map(0.5f + static_cast<float>(cloud) * 0.3f);
        const int n = 200 + static_cast<int>(rng() % 1500);
        for (int i = 0; i < n; ++i) {
            storedPhoton_t p;
            p.pos = point3d_t(u(rng), u(rng), cloud % 2 ? u(rng) * 0.05f : u(rng));
            p.theta = static_cast<unsigned char>(rng() % 256);
            p.phi = static_cast<unsigned char>(rng() % 256);
            map.store(p);
        }
        map.buildTree();
        float radius = 0.05f, refRadius = 0.05f;
        for (int q = 0; q < 60; ++q) {
            point3d_t P(u(rng), u(rng), u(rng) * 0.2f);
            vector3d_t N(u(rng), u(rng), u(rng));
            N.normalize();
            const unsigned K = 1 + rng() % 50;
            const float minCos = q % 3 == 0 ? -1.5f : u(rng) * 0.5f;
            std::vector<foundPhoton_t> got, want;
            map.gather(P, N, got, K, radius, minCos);
            bruteGather(map.photons, map.maxRadius, P, N, want, K, refRadius, minCos);
            ASSERT_EQ(radius, refRadius) << "cloud " << cloud << " query " << q;
            ASSERT_EQ(got.size(), want.size()) << "cloud " << cloud << " query " << q;
            ASSERT_TRUE(std::is_heap(got.begin(), got.end(), compareFound_f()));
            ASSERT_EQ(sortedDistances(got), sortedDistances(want));
            for (const foundPhoton_t& f : got) {
                vector3d_t d = f.photon->pos - P;
                EXPECT_EQ(f.dis, static_cast<float>(std::sqrt(static_cast<double>(d * d))));
                EXPECT_GT(N * f.photon->direction(), minCos);
            }
        }
    }
}

TEST(PhotonMap, BuilderFunctions) {
    std::vector<const storedPhoton_t*> none;
    bound_t b = global_photon_calc_bound(none);
    EXPECT_FALSE(b.null);
    EXPECT_EQ(b.a.x, 0.0f);
    EXPECT_EQ(b.g.z, 0.0f);
    storedPhoton_t p1 = upPhoton(1, -2, 3), p2 = upPhoton(-1, 5, 0);
    std::vector<const storedPhoton_t*> two = {&p1, &p2};
    b = global_photon_calc_bound(two);
    EXPECT_EQ(b.a.x, -1.0f);
    EXPECT_EQ(b.a.y, -2.0f);
    EXPECT_EQ(b.a.z, 0.0f);
    EXPECT_EQ(b.g.x, 1.0f);
    EXPECT_EQ(b.g.y, 5.0f);
    EXPECT_EQ(b.g.z, 3.0f);
    const storedPhoton_t* q = &p1;
    EXPECT_TRUE(global_photon_is_in_bound(q, b)); // on the faces: inclusive
    bound_t small(point3d_t(0, 0, 0), point3d_t(1, 1, 1));
    EXPECT_FALSE(global_photon_is_in_bound(q, small));
    EXPECT_EQ(global_photon_get_pos(q).y, -2.0f);
}

TEST(PhotonMap, StoredPhotonEncodesItsDirection) {
    storedPhoton_t p(point3d_t(1, 2, 3), color_t(0.5f, 0.25f, 1.0f), vector3d_t(0, 0, 2));
    EXPECT_EQ(p.theta, 0);
    vector3d_t d = p.direction();
    EXPECT_EQ(d.z, 1.0f);
    color_t c = p.color();
    EXPECT_NEAR(c.R, 0.5f, 0.01f);
    storedPhoton_t none(point3d_t(0, 0, 0), color_t(1, 1, 1), vector3d_t(0, 0, 0));
    EXPECT_EQ(none.theta, 255);
    EXPECT_TRUE(none.direction().null());
}

TEST(RunningPhoton, StartsANewSegmentOnlyAfterALongMove) {
    runningPhoton_t r(point3d_t(0, 0, 0));
    r.position(point3d_t(3, 4, 0), 5.0f); // exactly dist: segment kept
    EXPECT_EQ(r.lastPos.x, 0.0f);
    EXPECT_EQ(r.pos.x, 3.0f);
    r.position(point3d_t(3, 4, 5.5f), 5.0f);
    EXPECT_EQ(r.lastPos.x, 3.0f);
    EXPECT_EQ(r.lastPos.z, 0.0f);
    EXPECT_EQ(r.pos.z, 5.5f);
}

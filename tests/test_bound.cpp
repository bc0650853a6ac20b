#include "vexlarcore/bound.h"

#include <gtest/gtest.h>

#include <string>

using namespace vexlar;

namespace {

const bound_t unitBox(point3d_t(0, 0, 0), point3d_t(1, 1, 1));

void expectCorners(const bound_t& b, point3d_t a, point3d_t g) {
    EXPECT_TRUE(b.a.x == a.x && b.a.y == a.y && b.a.z == a.z) << b.a;
    EXPECT_TRUE(b.g.x == g.x && b.g.y == g.y && b.g.z == g.z) << b.g;
}

// Crossing with the entry and exit parameters; -7 where untouched.
struct hit_t {
    bool crossed;
    float enter, leave;
};
hit_t crossing(const bound_t& b, const point3d_t& from, const vector3d_t& ray, float dist = 10) {
    hit_t h{false, -7, -7};
    h.crossed = b.cross(from, ray, h.enter, h.leave, dist);
    return h;
}
void expectHit(const hit_t& h, float enter, float leave) {
    EXPECT_TRUE(h.crossed);
    EXPECT_EQ(h.enter, enter);
    EXPECT_EQ(h.leave, leave);
}

} // namespace

TEST(BoundTest, ConstructionSetCopyAndNull) {
    bound_t b;
    EXPECT_TRUE(b.null);
    expectCorners(b, point3d_t(0, 0, 0), point3d_t(0, 0, 0));
    b.set(point3d_t(1, 2, 3), point3d_t(7, 8, 9));
    EXPECT_FALSE(b.null);
    expectCorners(b, point3d_t(1, 2, 3), point3d_t(7, 8, 9));
    bound_t c(bound_t(point3d_t(-1, -2, -3), point3d_t(4, 5, 6)));
    EXPECT_FALSE(c.null);
    expectCorners(c, point3d_t(-1, -2, -3), point3d_t(4, 5, 6));
    EXPECT_TRUE(bound_t(bound_t{}).null);
}

TEST(BoundTest, UnionTakesComponentExtremesAndIsNotNull) {
    bound_t u(bound_t(point3d_t(0, 5, -1), point3d_t(1, 6, 3)),
              bound_t(point3d_t(-2, 7, 0), point3d_t(0.5f, 9, 2)));
    EXPECT_FALSE(u.null);
    expectCorners(u, point3d_t(-2, 5, -1), point3d_t(1, 9, 3));
    // Null inputs still give a non-null union of their (zero) corners.
    EXPECT_FALSE(bound_t(bound_t{}, bound_t{}).null);
}

TEST(BoundTest, VolumeMultipliesYThenXThenZ) {
    // (0.3 * 0.1) * 0.7 in single precision; the other groupings round to
    // 0x1.581064p-6.
    EXPECT_EQ(bound_t(point3d_t(0, 0, 0), point3d_t(0.1f, 0.3f, 0.7f)).vol(), 0x1.581062p-6f);
    EXPECT_EQ(bound_t(point3d_t(1, 2, 3), point3d_t(3, 5, 7)).vol(), 24.0f);
    EXPECT_EQ(bound_t(point3d_t(1, 1, 1), point3d_t(1, 5, 7)).vol(), 0.0f);
}

TEST(BoundTest, VolumeOfUnsortedBoxWarnsAndIsNegative) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(bound_t(point3d_t(2, 0, 0), point3d_t(1, 1, 1)).vol(), -1.0f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "warning usorted bounding points\n");
    // Two unsorted axes give a positive product: no warning.
    testing::internal::CaptureStdout();
    EXPECT_EQ(bound_t(point3d_t(2, 2, 0), point3d_t(0, 0, 1)).vol(), 4.0f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(BoundTest, IntersectVolume) {
    bound_t r(point3d_t(0.5f, 0.5f, 0.5f), point3d_t(2, 2, 2));
    EXPECT_EQ(b_intersect(unitBox, r), 0.125f);
    EXPECT_EQ(b_intersect(r, unitBox), 0.125f);
    // Contained box: its own volume.
    EXPECT_EQ(b_intersect(unitBox, bound_t(point3d_t(0.25f, 0.25f, 0.25f), point3d_t(0.75f, 0.75f, 0.5f))),
              0.0625f);
    // Touching on a face, an edge, a corner; apart; overlapping on two axes
    // only: nothing.
    for (const bound_t& o :
         {bound_t(point3d_t(1, 0, 0), point3d_t(2, 1, 1)), bound_t(point3d_t(1, 1, 0), point3d_t(2, 2, 1)),
          bound_t(point3d_t(1, 1, 1), point3d_t(2, 2, 2)), bound_t(point3d_t(3, 0, 0), point3d_t(4, 1, 1)),
          bound_t(point3d_t(0.5f, 0.5f, 2), point3d_t(2, 2, 3))})
        EXPECT_EQ(b_intersect(unitBox, o), 0.0f) << o.a;
}

TEST(BoundTest, DistanceCountsWasteUnionAndImbalance) {
    bound_t b(point3d_t(1, 2, 3), point3d_t(3, 5, 7));
    EXPECT_EQ(bound_distance(b, b), 24.0f); // itself: just its volume
    // Unit cubes side by side: union 2, no waste, no imbalance.
    EXPECT_EQ(bound_distance(unitBox, bound_t(point3d_t(1, 0, 0), point3d_t(2, 1, 1))), 2.0f);
    // A gap of 1: union 3, waste 1.
    EXPECT_EQ(bound_distance(unitBox, bound_t(point3d_t(2, 0, 0), point3d_t(3, 1, 1))), 4.0f);
    // Unit cube and a 2x1x1 box overlapping by half a cube: union 2.5,
    // waste 2.5 - 1 - 2 + 0.5 = 0, imbalance 1.
    bound_t big(point3d_t(0.5f, 0, 0), point3d_t(2.5f, 1, 1));
    EXPECT_EQ(bound_distance(unitBox, big), 3.5f);
    EXPECT_EQ(bound_distance(big, unitBox), 3.5f);
    // A box unsorted on two axes has a positive volume (4) larger than the
    // union it forms with the unit cube (1): the negative waste counts as 0,
    // leaving 1 + |4 - 1|.
    EXPECT_EQ(bound_distance(bound_t(point3d_t(2, 2, 0), point3d_t(0, 0, 1)), unitBox), 4.0f);
}

TEST(BoundTest, DistanceWarnsTwicePerBrokenBox) {
    testing::internal::CaptureStdout();
    bound_distance(bound_t(point3d_t(0.5f, 0, 0), point3d_t(0.25f, 1, 1)), unitBox);
    std::string out = testing::internal::GetCapturedStdout();
    const std::string warning = "warning usorted bounding points\n";
    size_t first = out.find(warning), second = out.find(warning, first + 1);
    EXPECT_NE(second, std::string::npos) << out;
    EXPECT_EQ(out.find(warning, second + 1), std::string::npos) << out;
}

TEST(BoundTest, CrossFromOutsideAndInside) {
    point3d_t from(-1, 0.5f, 0.5f);
    vector3d_t ray(1, 0, 0);
    EXPECT_TRUE(unitBox.cross(from, ray));
    EXPECT_TRUE(unitBox.cross(from, ray, 10.0f));
    float where = -7;
    EXPECT_TRUE(unitBox.cross(from, ray, where, 10.0f));
    EXPECT_EQ(where, 1.0f);
    expectHit(crossing(unitBox, from, ray), 1, 2);
    // From inside the entry is 0.
    expectHit(crossing(unitBox, point3d_t(0.5f, 0.5f, 0.5f), ray), 0, 0.5f);
    EXPECT_TRUE(unitBox.cross(point3d_t(0.5f, 0.25f, 0.5f), vector3d_t(0, -1, 0), where, 10.0f));
    EXPECT_EQ(where, 0.0f);
    // In multiples of the ray; a negative direction swaps the slab bounds.
    expectHit(crossing(unitBox, from, vector3d_t(2, 0, 0)), 0.5f, 1);
    expectHit(crossing(unitBox, point3d_t(3, 0.5f, 0.5f), -ray), 2, 3);
}

TEST(BoundTest, CrossDistanceLimitIsStrict) {
    point3d_t from(-1, 0.5f, 0.5f);
    vector3d_t ray(1, 0, 0);
    float where = -7;
    EXPECT_FALSE(unitBox.cross(from, ray, 0.5f));
    EXPECT_FALSE(unitBox.cross(from, ray, where, 0.5f));
    EXPECT_EQ(where, -7.0f); // untouched on failure
    EXPECT_TRUE(unitBox.cross(from, ray, 1.0f));
    // The same strictness on the y slab (early test) and the z slab (only the
    // final test).
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, -1, 0.5f), vector3d_t(0, 1, 0), 0.999f));
    EXPECT_TRUE(unitBox.cross(point3d_t(0.5f, -1, 0.5f), vector3d_t(0, 1, 0), 1.0f));
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 0.5f, -1), vector3d_t(0, 0, 1), 0.999f));
    EXPECT_TRUE(unitBox.cross(point3d_t(0.5f, 0.5f, -1), vector3d_t(0, 0, 1), where, 1.0f));
    EXPECT_EQ(where, 1.0f);
    // An entry beyond the limit on the z slab only, after x and y passed:
    // x and y give [1, 2], z gives [1.5, 2.5].
    EXPECT_FALSE(unitBox.cross(point3d_t(-1, -1, -1.5f), vector3d_t(1, 1, 1), 1.25f));
    EXPECT_TRUE(unitBox.cross(point3d_t(-1, -1, -1.5f), vector3d_t(1, 1, 1), where, 1.5f));
    EXPECT_EQ(where, 1.5f);
    // Entries on every axis but the ranges do not overlap.
    EXPECT_FALSE(unitBox.cross(point3d_t(-1, -1, -3), vector3d_t(1, 1, 1), 10.0f));
    // The unlimited form ignores distance altogether.
    EXPECT_TRUE(unitBox.cross(point3d_t(-1000, 0.5f, 0.5f), ray));
}

TEST(BoundTest, CrossRejectsBoxesBehindAndMisses) {
    // Box behind the origin, on each axis.
    EXPECT_FALSE(unitBox.cross(point3d_t(2, 0.5f, 0.5f), vector3d_t(1, 0, 0)));
    EXPECT_FALSE(crossing(unitBox, point3d_t(2, 0.5f, 0.5f), vector3d_t(1, 0, 0)).crossed);
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 2, 0.5f), vector3d_t(0, 1, 0)));
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 0.5f, 2), vector3d_t(0, 0, 1)));
    // Diagonal ray passing beside the box: x gives [1, 2], y gives [3, 4].
    EXPECT_FALSE(unitBox.cross(point3d_t(-1, 4, 0.5f), vector3d_t(1, -1, 0)));
    // The same ray closer in: y gives [1.5, 2.5], overlap [1.5, 2].
    expectHit(crossing(unitBox, point3d_t(-1, 2.5f, 0.5f), vector3d_t(1, -1, 0)), 1.5f, 2);
}

TEST(BoundTest, ZeroComponentsSkipTheirSlabAndZeroRayNeverCrosses) {
    // Parallel to the y slab and outside it: still reported as crossing.
    EXPECT_TRUE(unitBox.cross(point3d_t(-1, 5, 0.5f), vector3d_t(1, 0, 0)));
    expectHit(crossing(unitBox, point3d_t(-1, 5, 0.5f), vector3d_t(1, 0, 0)), 1, 2);
    // Only z moving, far outside in x and y.
    expectHit(crossing(unitBox, point3d_t(50, -50, -1), vector3d_t(0, 0, 1)), 1, 2);
    // Only y moving and starting inside that slab.
    expectHit(crossing(unitBox, point3d_t(9, 0.25f, 9), vector3d_t(0, 2, 0)), 0, 0.375f);

    const point3d_t mid(0.5f, 0.5f, 0.5f);
    const vector3d_t zero(0, 0, 0);
    EXPECT_FALSE(unitBox.cross(mid, zero));
    EXPECT_FALSE(unitBox.cross(mid, zero, 10.0f));
    hit_t h = crossing(unitBox, mid, zero);
    EXPECT_FALSE(h.crossed);
    EXPECT_TRUE(h.enter == -7.0f && h.leave == -7.0f);
}

TEST(BoundTest, OnlyTheUnlimitedFormCounts) {
    point3d_t from(-1, 0.5f, 0.5f);
    vector3d_t ray(1, 0, 0);
    float w;
    std::uint32_t before = bcount;
    unitBox.cross(from, ray);
    unitBox.cross(point3d_t(5, 5, 5), ray); // misses count too
    EXPECT_EQ(bcount, before + 2);
    unitBox.cross(from, ray, 10.0f);
    unitBox.cross(from, ray, w, 10.0f);
    crossing(unitBox, from, ray);
    EXPECT_EQ(bcount, before + 2);
}

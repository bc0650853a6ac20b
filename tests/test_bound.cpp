#include "vexlarcore/bound.h"

#include <gtest/gtest.h>

#include <string>

using namespace vexlar;

namespace {

const bound_t unitBox(point3d_t(0, 0, 0), point3d_t(1, 1, 1));

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) {
        ++n;
    }
    return n;
}

void expectCorners(const bound_t& b, point3d_t a, point3d_t g) {
    EXPECT_EQ(b.a.x, a.x);
    EXPECT_EQ(b.a.y, a.y);
    EXPECT_EQ(b.a.z, a.z);
    EXPECT_EQ(b.g.x, g.x);
    EXPECT_EQ(b.g.y, g.y);
    EXPECT_EQ(b.g.z, g.z);
}

} // namespace

TEST(BoundTest, DefaultIsNullAtOrigin) {
    bound_t b;
    EXPECT_TRUE(b.null);
    expectCorners(b, point3d_t(0, 0, 0), point3d_t(0, 0, 0));
}

TEST(BoundTest, CornerConstructorSetAndCopy) {
    bound_t b(point3d_t(-1, -2, -3), point3d_t(4, 5, 6));
    EXPECT_FALSE(b.null);
    bound_t n;
    n.set(point3d_t(1, 2, 3), point3d_t(7, 8, 9));
    EXPECT_FALSE(n.null);
    expectCorners(n, point3d_t(1, 2, 3), point3d_t(7, 8, 9));
    bound_t c(b);
    EXPECT_FALSE(c.null);
    expectCorners(c, point3d_t(-1, -2, -3), point3d_t(4, 5, 6));
    bound_t d(bound_t{});
    EXPECT_TRUE(d.null);
}

TEST(BoundTest, UnionTakesComponentExtremesAndIsNotNull) {
    bound_t l(point3d_t(0, 5, -1), point3d_t(1, 6, 3));
    bound_t r(point3d_t(-2, 7, 0), point3d_t(0.5f, 9, 2));
    bound_t u(l, r);
    EXPECT_FALSE(u.null);
    expectCorners(u, point3d_t(-2, 5, -1), point3d_t(1, 9, 3));
    // Null inputs still give a non-null union of their (zero) corners.
    bound_t nn(bound_t{}, bound_t{});
    EXPECT_FALSE(nn.null);
}

TEST(BoundTest, VolumeMultipliesYThenXThenZ) {
    bound_t b(point3d_t(0, 0, 0), point3d_t(0.1f, 0.3f, 0.7f));
    // (0.3 * 0.1) * 0.7 in single precision; the other groupings round to
    // 0x1.581064p-6.
    EXPECT_EQ(b.vol(), 0x1.581062p-6f);
    EXPECT_EQ(bound_t(point3d_t(1, 2, 3), point3d_t(3, 5, 7)).vol(), 24.0f);
    EXPECT_EQ(bound_t(point3d_t(1, 1, 1), point3d_t(1, 5, 7)).vol(), 0.0f);
}

TEST(BoundTest, VolumeOfUnsortedBoxWarnsAndIsNegative) {
    bound_t b(point3d_t(2, 0, 0), point3d_t(1, 1, 1));
    testing::internal::CaptureStdout();
    float v = b.vol();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(v, -1.0f);
    EXPECT_EQ(out, "warning usorted bounding points\n");
    // Two unsorted axes give a positive product: no warning.
    bound_t two(point3d_t(2, 2, 0), point3d_t(0, 0, 1));
    testing::internal::CaptureStdout();
    EXPECT_EQ(two.vol(), 4.0f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(BoundTest, IntersectVolume) {
    bound_t r(point3d_t(0.5f, 0.5f, 0.5f), point3d_t(2, 2, 2));
    EXPECT_EQ(b_intersect(unitBox, r), 0.125f);
    EXPECT_EQ(b_intersect(r, unitBox), 0.125f);
    // Contained box: its own volume.
    bound_t in(point3d_t(0.25f, 0.25f, 0.25f), point3d_t(0.75f, 0.75f, 0.5f));
    EXPECT_EQ(b_intersect(unitBox, in), 0.0625f);
    // Touching on a face, an edge, a corner, and apart: nothing.
    EXPECT_EQ(b_intersect(unitBox, bound_t(point3d_t(1, 0, 0), point3d_t(2, 1, 1))), 0.0f);
    EXPECT_EQ(b_intersect(unitBox, bound_t(point3d_t(1, 1, 0), point3d_t(2, 2, 1))), 0.0f);
    EXPECT_EQ(b_intersect(unitBox, bound_t(point3d_t(1, 1, 1), point3d_t(2, 2, 2))), 0.0f);
    EXPECT_EQ(b_intersect(unitBox, bound_t(point3d_t(3, 0, 0), point3d_t(4, 1, 1))), 0.0f);
    // Overlap on two axes only.
    EXPECT_EQ(b_intersect(unitBox, bound_t(point3d_t(0.5f, 0.5f, 2), point3d_t(2, 2, 3))), 0.0f);
}

TEST(BoundTest, DistanceOfBoxWithItselfIsItsVolume) {
    bound_t b(point3d_t(1, 2, 3), point3d_t(3, 5, 7));
    EXPECT_EQ(bound_distance(b, b), 24.0f);
}

TEST(BoundTest, DistanceCountsWasteUnionAndImbalance) {
    // Unit cubes side by side: union 2, no waste, no imbalance.
    bound_t r(point3d_t(1, 0, 0), point3d_t(2, 1, 1));
    EXPECT_EQ(bound_distance(unitBox, r), 2.0f);
    // A gap of 1: union 3, waste 1.
    bound_t far(point3d_t(2, 0, 0), point3d_t(3, 1, 1));
    EXPECT_EQ(bound_distance(unitBox, far), 4.0f);
    // Unit cube and a 2x1x1 box overlapping by half a cube: union 2.5,
    // waste 2.5 - 1 - 2 + 0.5 = 0, imbalance 1.
    bound_t big(point3d_t(0.5f, 0, 0), point3d_t(2.5f, 1, 1));
    EXPECT_EQ(bound_distance(unitBox, big), 3.5f);
    EXPECT_EQ(bound_distance(big, unitBox), 3.5f);
}

TEST(BoundTest, DistanceClampsNegativeWasteToZero) {
    // A box unsorted on two axes has a positive volume (4) larger than the
    // union it forms with the unit cube (1): waste 1 - 4 - 1 + 0 < 0 counts
    // as 0, leaving 1 + |4 - 1|.
    bound_t odd(point3d_t(2, 2, 0), point3d_t(0, 0, 1));
    EXPECT_EQ(bound_distance(odd, unitBox), 4.0f);
}

TEST(BoundTest, DistanceWarnsTwicePerBrokenBox) {
    bound_t broken(point3d_t(0.5f, 0, 0), point3d_t(0.25f, 1, 1));
    testing::internal::CaptureStdout();
    bound_distance(broken, unitBox);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOf(out, "warning usorted bounding points\n"), 2);
}

TEST(BoundTest, CrossFromOutside) {
    point3d_t from(-1, 0.5f, 0.5f);
    vector3d_t ray(1, 0, 0);
    EXPECT_TRUE(unitBox.cross(from, ray));
    EXPECT_TRUE(unitBox.cross(from, ray, 10.0f));
    float where = -7;
    EXPECT_TRUE(unitBox.cross(from, ray, where, 10.0f));
    EXPECT_EQ(where, 1.0f);
    float enter = -7, leave = -7;
    EXPECT_TRUE(unitBox.cross(from, ray, enter, leave, 10.0f));
    EXPECT_EQ(enter, 1.0f);
    EXPECT_EQ(leave, 2.0f);
}

TEST(BoundTest, CrossFromInsideEntersAtZero) {
    float enter = -7, leave = -7;
    EXPECT_TRUE(unitBox.cross(point3d_t(0.5f, 0.5f, 0.5f), vector3d_t(1, 0, 0), enter, leave, 10.0f));
    EXPECT_EQ(enter, 0.0f);
    EXPECT_EQ(leave, 0.5f);
    float where = -7;
    EXPECT_TRUE(unitBox.cross(point3d_t(0.5f, 0.25f, 0.5f), vector3d_t(0, -1, 0), where, 10.0f));
    EXPECT_EQ(where, 0.0f);
}

TEST(BoundTest, CrossDistanceLimitIsStrict) {
    point3d_t from(-1, 0.5f, 0.5f);
    vector3d_t ray(1, 0, 0);
    float where = -7;
    EXPECT_FALSE(unitBox.cross(from, ray, 0.5f));
    EXPECT_FALSE(unitBox.cross(from, ray, where, 0.5f));
    EXPECT_EQ(where, -7.0f); // untouched on failure
    EXPECT_TRUE(unitBox.cross(from, ray, 1.0f));
    EXPECT_TRUE(unitBox.cross(from, ray, where, 1.0f));
    EXPECT_EQ(where, 1.0f);
    // The same strictness on the y slab (early test) and the z slab (only the
    // final test).
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, -1, 0.5f), vector3d_t(0, 1, 0), 0.999f));
    EXPECT_TRUE(unitBox.cross(point3d_t(0.5f, -1, 0.5f), vector3d_t(0, 1, 0), 1.0f));
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 0.5f, -1), vector3d_t(0, 0, 1), 0.999f));
    EXPECT_TRUE(unitBox.cross(point3d_t(0.5f, 0.5f, -1), vector3d_t(0, 0, 1), where, 1.0f));
    EXPECT_EQ(where, 1.0f);
    // An entry beyond the limit on the z slab only, after x and y passed.
    // x and y give [1, 2], z gives [1.5, 2.5].
    EXPECT_FALSE(unitBox.cross(point3d_t(-1, -1, -1.5f), vector3d_t(1, 1, 1), 1.25f));
    EXPECT_TRUE(unitBox.cross(point3d_t(-1, -1, -1.5f), vector3d_t(1, 1, 1), where, 1.5f));
    EXPECT_EQ(where, 1.5f);
    // Entries on every axis but the ranges do not overlap.
    EXPECT_FALSE(unitBox.cross(point3d_t(-1, -1, -3), vector3d_t(1, 1, 1), 10.0f));
    // The unlimited form ignores distance altogether.
    EXPECT_TRUE(unitBox.cross(point3d_t(-1000, 0.5f, 0.5f), ray));
}

TEST(BoundTest, CrossParameterIsInMultiplesOfTheRay) {
    float enter, leave;
    EXPECT_TRUE(unitBox.cross(point3d_t(-1, 0.5f, 0.5f), vector3d_t(2, 0, 0), enter, leave, 10.0f));
    EXPECT_EQ(enter, 0.5f);
    EXPECT_EQ(leave, 1.0f);
    // Negative direction: the slab bounds are swapped.
    EXPECT_TRUE(unitBox.cross(point3d_t(3, 0.5f, 0.5f), vector3d_t(-1, 0, 0), enter, leave, 10.0f));
    EXPECT_EQ(enter, 2.0f);
    EXPECT_EQ(leave, 3.0f);
}

TEST(BoundTest, CrossRejectsBoxesBehindAndMisses) {
    float enter = -7, leave = -7;
    // Box behind the origin.
    EXPECT_FALSE(unitBox.cross(point3d_t(2, 0.5f, 0.5f), vector3d_t(1, 0, 0)));
    EXPECT_FALSE(unitBox.cross(point3d_t(2, 0.5f, 0.5f), vector3d_t(1, 0, 0), enter, leave, 10.0f));
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 2, 0.5f), vector3d_t(0, 1, 0)));
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 0.5f, 2), vector3d_t(0, 0, 1)));
    // Diagonal ray passing beside the box: x gives [1, 2], y gives [3, 4].
    EXPECT_FALSE(unitBox.cross(point3d_t(-1, 4, 0.5f), vector3d_t(1, -1, 0)));
    // The same ray closer in: y gives [1.5, 2.5], overlap [1.5, 2].
    EXPECT_TRUE(unitBox.cross(point3d_t(-1, 2.5f, 0.5f), vector3d_t(1, -1, 0), enter, leave, 10.0f));
    EXPECT_EQ(enter, 1.5f);
    EXPECT_EQ(leave, 2.0f);
}

TEST(BoundTest, ZeroComponentsSkipTheirSlab) {
    // Parallel to the y slab and outside it: still reported as crossing.
    EXPECT_TRUE(unitBox.cross(point3d_t(-1, 5, 0.5f), vector3d_t(1, 0, 0)));
    float enter, leave;
    EXPECT_TRUE(unitBox.cross(point3d_t(-1, 5, 0.5f), vector3d_t(1, 0, 0), enter, leave, 10.0f));
    EXPECT_EQ(enter, 1.0f);
    EXPECT_EQ(leave, 2.0f);
    // Only z moving, far outside in x and y.
    EXPECT_TRUE(unitBox.cross(point3d_t(50, -50, -1), vector3d_t(0, 0, 1), enter, leave, 10.0f));
    EXPECT_EQ(enter, 1.0f);
    EXPECT_EQ(leave, 2.0f);
    // Only y moving and starting inside that slab.
    EXPECT_TRUE(unitBox.cross(point3d_t(9, 0.25f, 9), vector3d_t(0, 2, 0), enter, leave, 10.0f));
    EXPECT_EQ(enter, 0.0f);
    EXPECT_EQ(leave, 0.375f);
}

TEST(BoundTest, ZeroRayNeverCrosses) {
    vector3d_t zero(0, 0, 0);
    float enter = -7, leave = -7;
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 0.5f, 0.5f), zero));
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 0.5f, 0.5f), zero, 10.0f));
    EXPECT_FALSE(unitBox.cross(point3d_t(0.5f, 0.5f, 0.5f), zero, enter, leave, 10.0f));
    EXPECT_EQ(enter, -7.0f);
    EXPECT_EQ(leave, -7.0f);
}

TEST(BoundTest, OnlyTheUnlimitedFormCounts) {
    point3d_t from(-1, 0.5f, 0.5f);
    vector3d_t ray(1, 0, 0);
    float w, l;
    std::uint32_t before = bcount;
    unitBox.cross(from, ray);
    unitBox.cross(point3d_t(5, 5, 5), ray); // misses count too
    EXPECT_EQ(bcount, before + 2);
    unitBox.cross(from, ray, 10.0f);
    unitBox.cross(from, ray, w, 10.0f);
    unitBox.cross(from, ray, w, l, 10.0f);
    EXPECT_EQ(bcount, before + 2);
}

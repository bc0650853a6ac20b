// Bounding boxes: union, volume, overlap and pairing cost, and the slab tests
// with their entry and exit parameters and strict limits.
#include "vexlarcore/bound.h"

#include "test_support.h"

#include <tuple>

using namespace vexlar;
using support::captured;

namespace {

const bound_t unitBox(point3d_t(0, 0, 0), point3d_t(1, 1, 1));

bound_t box(float ax, float ay, float az, float gx, float gy, float gz) {
    return bound_t(point3d_t(ax, ay, az), point3d_t(gx, gy, gz));
}

// Crossed, entry and exit; -7 where untouched.
typedef std::tuple<bool, float, float> hit_t;
hit_t crossing(const point3d_t& from, const vector3d_t& ray, float dist = 10) {
    float enter = -7, leave = -7;
    const bool crossed = unitBox.cross(from, ray, enter, leave, dist);
    return hit_t(crossed, enter, leave);
}

} // namespace

TEST(bound, UnionVolumeOverlapAndCost) {
    bound_t u(box(0, 5, -1, 1, 6, 3), box(-2, 7, 0, 0.5f, 9, 2));
    EXPECT_FALSE(u.null);
    EXPECT_TRUE(u.a.x == -2 && u.a.y == 5 && u.a.z == -1 && u.g.x == 1 && u.g.y == 9 && u.g.z == 3);
    EXPECT_FALSE(bound_t(bound_t{}, bound_t{}).null);
    // (0.3 * 0.1) * 0.7 in that order; other groupings round to 0x1.581064p-6.
    EXPECT_EQ(box(0, 0, 0, 0.1f, 0.3f, 0.7f).vol(), 0x1.581062p-6f);
    captured([] { EXPECT_EQ(box(2, 0, 0, 1, 1, 1).vol(), -1.0f); }); // warns, as the cost below shows
    EXPECT_EQ(b_intersect(unitBox, box(0.5f, 0.5f, 0.5f, 2, 2, 2)), 0.125f);
    EXPECT_EQ(b_intersect(unitBox, box(0.25f, 0.25f, 0.25f, 0.75f, 0.75f, 0.5f)), 0.0625f);
    for (const bound_t& o : {box(1, 0, 0, 2, 1, 1), box(1, 1, 1, 2, 2, 2), box(3, 0, 0, 4, 1, 1),
                             box(0.5f, 0.5f, 2, 2, 2, 3)}) // touching or apart: nothing
        EXPECT_EQ(b_intersect(unitBox, o), 0.0f) << o.a;
    const struct {
        bound_t l, r;
        float cost;
    } costs[] = {
        {box(1, 2, 3, 3, 5, 7), box(1, 2, 3, 3, 5, 7), 24}, // itself: its volume
        {unitBox, box(1, 0, 0, 2, 1, 1), 2},                // side by side: the union
        {unitBox, box(2, 0, 0, 3, 1, 1), 4},                // a gap: union 3 plus waste 1
        {unitBox, box(0.5f, 0, 0, 2.5f, 1, 1), 3.5f},       // union 2.5 plus imbalance 1
        {box(0.5f, 0, 0, 2.5f, 1, 1), unitBox, 3.5f},       //
        {box(2, 2, 0, 0, 0, 1), unitBox, 4},                // negative waste counts as 0
    };
    for (const auto& c : costs) EXPECT_EQ(bound_distance(c.l, c.r), c.cost) << c.l.a << c.r.a;
    EXPECT_EQ(captured([] { bound_distance(box(0.5f, 0, 0, 0.25f, 1, 1), unitBox); }),
              "warning usorted bounding points\nwarning usorted bounding points\n"); // a warning per volume
}

TEST(bound, SlabTestsReportEntryAndExit) {
    const point3d_t left(-1, 0.5f, 0.5f);
    const vector3d_t x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    const struct {
        point3d_t from;
        vector3d_t ray;
        float dist;
        hit_t want;
    } cases[] = {
        {left, x, 10, {true, 1, 2}},
        {point3d_t(0.5f, 0.5f, 0.5f), x, 10, {true, 0, 0.5f}}, // inside: entry 0
        {left, vector3d_t(2, 0, 0), 10, {true, 0.5f, 1}},      // in multiples of the ray
        {point3d_t(3, 0.5f, 0.5f), -x, 10, {true, 2, 3}},
        {left, x, 0.5f, {false, -7, -7}}, // entry beyond the limit
        {left, x, 1.0f, {true, 1, 2}},    // entry at the limit crosses
        {point3d_t(0.5f, -1, 0.5f), y, 0.999f, {false, -7, -7}},
        {point3d_t(0.5f, 0.5f, -1), z, 0.999f, {false, -7, -7}}, // z has only the final test
        {point3d_t(0.5f, 0.5f, -1), z, 1.0f, {true, 1, 2}},
        {point3d_t(-1, -1, -1.5f), vector3d_t(1, 1, 1), 1.25f, {false, -7, -7}}, // late on z only
        {point3d_t(-1, -1, -1.5f), vector3d_t(1, 1, 1), 1.5f, {true, 1.5f, 2}},
        {point3d_t(-1, -1, -3), vector3d_t(1, 1, 1), 10, {false, -7, -7}}, // ranges do not overlap
        {point3d_t(2, 0.5f, 0.5f), x, 10, {false, -7, -7}},                // behind
        {point3d_t(0.5f, 2, 0.5f), y, 10, {false, -7, -7}},
        {point3d_t(0.5f, 0.5f, 2), z, 10, {false, -7, -7}},
        {point3d_t(-1, 4, 0.5f), vector3d_t(1, -1, 0), 10, {false, -7, -7}}, // beside
        {point3d_t(-1, 2.5f, 0.5f), vector3d_t(1, -1, 0), 10, {true, 1.5f, 2}},
        {point3d_t(-1, 5, 0.5f), x, 10, {true, 1, 2}}, // zero components skip their slab
        {point3d_t(9, 0.25f, 9), vector3d_t(0, 2, 0), 10, {true, 0, 0.375f}},
        {point3d_t(0.5f, 0.5f, 0.5f), vector3d_t(0, 0, 0), 10, {false, -7, -7}}, // a zero ray never crosses
    };
    for (const auto& c : cases) {
        EXPECT_EQ(crossing(c.from, c.ray, c.dist), c.want) << c.from << " " << c.ray << " " << c.dist;
        EXPECT_EQ(unitBox.cross(c.from, c.ray, c.dist), std::get<0>(c.want)) << c.from << " " << c.ray;
        float where = -7;
        EXPECT_EQ(unitBox.cross(c.from, c.ray, where, c.dist), std::get<0>(c.want));
        EXPECT_EQ(where, std::get<1>(c.want));
    }
    // The unlimited form ignores distance and is the only one counted.
    const std::uint32_t before = bcount;
    EXPECT_TRUE(unitBox.cross(point3d_t(-1000, 0.5f, 0.5f), x));
    EXPECT_FALSE(unitBox.cross(point3d_t(5, 5, 5), x));
    unitBox.cross(left, x, 10.0f);
    crossing(left, x);
    EXPECT_EQ(bcount, before + 2);
}

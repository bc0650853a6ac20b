// Block splitting, the resampling test and delivery of finished blocks.
#include "vexlarcore/output.h"
#include "vexlarcore/renderarea.h"
#include "vexlarcore/renderstate.h"

#include "scene_fixtures.h"
#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

using namespace vexlar;
using fixtures::recordingOutput_t;

namespace {

typedef blockSpliter_t::region_t region_t;

std::vector<region_t> drain(blockSpliter_t& s) {
    std::vector<region_t> out;
    renderArea_t a;
    while (!s.empty()) {
        s.getArea(a);
        out.push_back({a.X, a.Y, a.W, a.H, a.realX, a.realY, a.realW, a.realH});
    }
    return out;
}

renderArea_t makeArea(int W, int H, const colorA_t& fill) {
    renderArea_t a;
    a.X = a.realX = a.Y = a.realY = 0;
    a.W = a.realW = W;
    a.H = a.realH = H;
    a.image.assign(W * H, fill);
    a.depth.assign(W * H, 0.0f);
    a.resample.assign(W * H, false);
    return a;
}

// The area of the block at (realX, realY) of a 128 x 128 image.
renderArea_t blockAt(int realX, int realY) {
    blockSpliter_t s(128, 128, 64);
    renderArea_t a;
    do s.getArea(a);
    while (!(a.realX == realX && a.realY == realY));
    return a;
}

} // namespace

TEST(blockSpliter, BlocksTileTheImageWithOneBorderPixel) {
    const struct {
        int w, h;
        std::vector<int> sizes;
    } cases[] = {{1, 1, {1, 2, 64}},          {128, 128, {64}},     {63, 65, {1, 2, 7, 64, 65, 100}},
                 {640, 480, {13, 479, 1000}}, {1000, 7, {6, 7, 8}}, {2, 3, {1, 2}}};
    for (const auto& c : cases)
        for (int bs : c.sizes) {
            SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h << " block " << bs);
            blockSpliter_t s(c.w, c.h, bs);
            EXPECT_EQ(s.regions.size(), static_cast<size_t>((c.w + bs - 1) / bs) * ((c.h + bs - 1) / bs));
            std::vector<int> cover(static_cast<size_t>(c.w) * c.h, 0);
            for (const region_t& r : drain(s)) {
                ASSERT_TRUE(r.realX % bs == 0 && r.realY % bs == 0);
                ASSERT_EQ(r.realW, std::min(bs, c.w - r.realX));
                ASSERT_EQ(r.realH, std::min(bs, c.h - r.realY));
                // Near border unless at the image edge; far border where two pixels remain.
                ASSERT_EQ(r.X, r.realX > 0 ? r.realX - 1 : 0);
                ASSERT_EQ(r.Y, r.realY > 0 ? r.realY - 1 : 0);
                ASSERT_EQ(r.X + r.W, r.realX + r.realW + (r.realX + r.realW < c.w - 1 ? 1 : 0));
                ASSERT_EQ(r.Y + r.H, r.realY + r.realH + (r.realY + r.realH < c.h - 1 ? 1 : 0));
                for (int y = r.realY; y < r.realY + r.realH; ++y)
                    for (int x = r.realX; x < r.realX + r.realW; ++x)
                        ++cover[static_cast<size_t>(y) * c.w + x];
            }
            for (int n : cover) ASSERT_EQ(n, 1);
        }
}

TEST(blockSpliter, OrderFollowsRandAndBadSizesDrawNothing) {
    const int n = 20; // 300 x 200 in blocks of 64: 5 x 4
    std::srand(777);
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    for (int i = 0; i < n; ++i) std::swap(order[i], order[std::rand() % n]);
    const int afterwards = std::rand();
    std::vector<int> blockAt(n);
    for (int k = 0; k < n; ++k) blockAt[order[k]] = k;
    std::srand(777);
    blockSpliter_t s(300, 200, 64);
    EXPECT_EQ(std::rand(), afterwards); // exactly n numbers drawn
    std::vector<region_t> v = drain(s);
    ASSERT_EQ(v.size(), static_cast<size_t>(n));
    for (int t = 0; t < n; ++t) { // handed out from the last position down
        const int k = blockAt[n - 1 - t];
        EXPECT_TRUE(v[t].realX == (k % 5) * 64 && v[t].realY == (k / 5) * 64) << t;
    }
    for (auto sz : {std::vector<int>{0, 10, 64}, {10, -1, 64}, {10, 10, 0}}) {
        std::srand(5);
        const int first = std::rand();
        std::srand(5);
        blockSpliter_t e(sz[0], sz[1], sz[2]);
        EXPECT_TRUE(e.empty() && std::rand() == first);
        renderArea_t a;
        a.X = 3;
        e.getArea(a); // leaves the area alone
        EXPECT_TRUE(a.X == 3 && a.image.empty());
    }
}

TEST(renderArea, ResampleFlagsTheNeighboursOfADifferentPixelInclusively) {
    renderArea_t flat = makeArea(5, 3, colorA_t(0.2f, 0.2f, 0.2f, 1.0f));
    flat.image[7].A = 0.0f; // alpha does not count
    EXPECT_FALSE(flat.checkResample(1e-6f));
    const int W = 7, H = 5;
    for (int oy = 0; oy < H; ++oy)
        for (int ox = 0; ox < W; ++ox) {
            renderArea_t a = makeArea(W, H, colorA_t(0.5f, 0.5f, 0.5f, 1.0f));
            a.image[oy * W + ox] = colorA_t(0.5f, 0.9f, 0.5f, 1.0f);
            EXPECT_TRUE(a.checkResample(0.1f));
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x)
                    EXPECT_EQ(a.resample[y * W + x], std::abs(x - ox) <= 1 && std::abs(y - oy) <= 1)
                        << ox << "," << oy << " at " << x << "," << y;
        }
    // The weighted difference is summed in double and compared inclusively;
    // a single-precision sum gives 0.320000023 here.
    const float expected = static_cast<float>(0.299 * 0.1f + 0.587 * 0.3f + 0.114 * 1.0f);
    EXPECT_EQ(expected, 0.319999993f);
    renderArea_t a = makeArea(2, 1, colorA_t(0.0f, 0.0f, 0.0f, 1.0f));
    a.image[1] = colorA_t(0.1f, 0.3f, 1.0f, 1.0f);
    EXPECT_TRUE(a.checkResample(expected));
    EXPECT_FALSE(a.checkResample(std::nextafter(expected, 1.0f)));
}

TEST(renderArea, OutDeliversTheBlockProperColumnByColumn) {
    renderArea_t a = blockAt(64, 64); // bordered on its left and top
    ASSERT_TRUE(a.X == 63 && a.Y == 63);
    for (int y = a.Y; y < a.Y + a.H; ++y)
        for (int x = a.X; x < a.X + a.W; ++x) {
            const int p = (y - a.Y) * a.W + (x - a.X);
            a.image[p] = colorA_t(static_cast<float>(x), static_cast<float>(y), 0.5f, 0.25f);
            a.depth[p] = static_cast<float>(x * 1000 + y);
        }
    recordingOutput_t o;
    EXPECT_TRUE(a.out(o));
    ASSERT_EQ(o.calls.size(), 64u * 64u);
    size_t n = 0;
    for (int x = 64; x < 128; ++x)
        for (int y = 64; y < 128; ++y, ++n) {
            const fixtures::pixel_t& c = o.calls[n];
            ASSERT_TRUE(c.x == x && c.y == y && c.c.R == x && c.c.G == y && c.alpha == 0.25f &&
                        c.depth == x * 1000 + y)
                << n;
        }
    renderArea_t b = blockAt(64, 0);
    for (int refuse : {2, 65, 1}) { // block column 0 row 1; column 1 row 0; the first pixel
        recordingOutput_t r;
        r.failAt = refuse;
        EXPECT_FALSE(b.out(r));
        EXPECT_EQ(r.calls.size(), static_cast<size_t>(refuse));
    }
}

// Shaders and lights read these fields before anything has set them.
TEST(renderState, FreshStateHasItsStartingValues) {
    const renderState_t s;
    EXPECT_EQ(std::make_tuple(s.rayLevel, s.sampleIndex, s.reservedCount, s.pixelNumber, s.traceCount),
              std::make_tuple(0, 0, 1, 0, 0));
    EXPECT_EQ(std::make_tuple(s.hitDistance, s.contribution, s.traveled, s.screenPos.x),
              std::make_tuple(0.f, 1.f, 0.f, 0.f));
    EXPECT_EQ(s.skipElement, nullptr);
    EXPECT_TRUE(s.context.valueRecords.empty() && s.context.objectRecords.empty());
}

#include "vexlarcore/output.h"
#include "vexlarcore/renderarea.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace vexlar;

namespace {

typedef blockSpliter_t::region_t region_t;

/// Drains a splitter through getArea, returning the blocks in handing-out
/// order.
std::vector<region_t> drain(blockSpliter_t& s) {
    std::vector<region_t> out;
    renderArea_t a;
    while (!s.empty()) {
        s.getArea(a);
        out.push_back({a.X, a.Y, a.W, a.H, a.realX, a.realY, a.realW, a.realH});
    }
    return out;
}

const region_t* findBlock(const std::vector<region_t>& v, int realX, int realY) {
    for (const region_t& r : v)
        if (r.realX == realX && r.realY == realY) return &r;
    return nullptr;
}

/// Checks X, Y, W, H, realX, realY, realW, realH of `r`.
void expectRegion(const region_t* r, std::vector<int> want) {
    ASSERT_NE(r, nullptr);
    EXPECT_EQ((std::vector<int>{r->X, r->Y, r->W, r->H, r->realX, r->realY, r->realW, r->realH}), want);
}

/// A W x H area at the image origin, filled with one colour.
renderArea_t makeArea(int W, int H, const colorA_t& fill) {
    renderArea_t a;
    a.X = a.realX = 0;
    a.Y = a.realY = 0;
    a.W = a.realW = W;
    a.H = a.realH = H;
    a.image.assign(W * H, fill);
    a.depth.assign(W * H, 0.0f);
    a.resample.assign(W * H, false);
    return a;
}

struct pixelCall_t {
    int x, y;
    color_t c;
    float alpha, depth;
};

/// Records every pixel; refuses the pixel at (refuseX, refuseY).
class recordingOutput_t : public colorOutput_t {
public:
    bool putPixel(int x, int y, const color_t& c, float alpha, float depth) override {
        calls.push_back({x, y, c, alpha, depth});
        return !(x == refuseX && y == refuseY);
    }
    bool flush() override { return true; }
    std::vector<pixelCall_t> calls;
    int refuseX = -1, refuseY = -1;
};

} // namespace

TEST(BlockSpliter, OnePixelLastBlockGetsNoFarBorderFromItsNeighbour) {
    blockSpliter_t s(65, 65, 64);
    std::vector<region_t> v = drain(s);
    ASSERT_EQ(v.size(), 4u);
    // 0 + 64 is not less than 65 - 1: no right or bottom border.
    expectRegion(findBlock(v, 0, 0), {0, 0, 64, 64, 0, 0, 64, 64});
    expectRegion(findBlock(v, 64, 0), {63, 0, 2, 64, 64, 0, 1, 64});
    expectRegion(findBlock(v, 0, 64), {0, 63, 64, 2, 0, 64, 64, 1});
    expectRegion(findBlock(v, 64, 64), {63, 63, 2, 2, 64, 64, 1, 1});
}

TEST(BlockSpliter, BlocksTileTheImageAndBordersStayInside) {
    struct sizeCase_t {
        int w, h;
        std::vector<int> blockSizes;
    };
    const sizeCase_t cases[] = {
        {1, 1, {1, 2, 64}},
        {10, 10, {64}},
        {128, 128, {64}},
        {63, 65, {1, 2, 7, 64, 65, 100}},
        {640, 480, {13, 64, 479, 1000}},
        {1000, 7, {6, 7, 8, 64}},
        {2, 3, {1, 2}},
    };
    for (const sizeCase_t& sc : cases) {
        for (int bs : sc.blockSizes) {
            SCOPED_TRACE(::testing::Message() << sc.w << " x " << sc.h << " block " << bs);
            blockSpliter_t s(sc.w, sc.h, bs);
            const size_t expected = static_cast<size_t>((sc.w + bs - 1) / bs) * ((sc.h + bs - 1) / bs);
            EXPECT_EQ(s.regions.size(), expected);
            std::vector<int> cover(static_cast<size_t>(sc.w) * sc.h, 0);
            for (const region_t& r : drain(s)) {
                // Block proper: on the grid, full size except at the far edges.
                ASSERT_EQ(r.realX % bs, 0);
                ASSERT_EQ(r.realY % bs, 0);
                ASSERT_EQ(r.realW, std::min(bs, sc.w - r.realX));
                ASSERT_EQ(r.realH, std::min(bs, sc.h - r.realY));
                // At most one border pixel per side: near side where the
                // block is not at the image edge, far side where at least two
                // pixels remain.
                ASSERT_EQ(r.X, r.realX > 0 ? r.realX - 1 : 0);
                ASSERT_EQ(r.Y, r.realY > 0 ? r.realY - 1 : 0);
                const int farX = (r.realX + r.realW < sc.w - 1) ? 1 : 0;
                const int farY = (r.realY + r.realH < sc.h - 1) ? 1 : 0;
                ASSERT_EQ(r.X + r.W, r.realX + r.realW + farX);
                ASSERT_EQ(r.Y + r.H, r.realY + r.realH + farY);
                for (int y = r.realY; y < r.realY + r.realH; ++y)
                    for (int x = r.realX; x < r.realX + r.realW; ++x)
                        ++cover[static_cast<size_t>(y) * sc.w + x];
            }
            for (size_t p = 0; p < cover.size(); ++p)
                ASSERT_EQ(cover[p], 1) << "pixel " << p % sc.w << ", " << p / sc.w;
        }
    }
}

TEST(BlockSpliter, OrderFollowsRand) {
    const int w = 300, h = 200, bs = 64; // 5 x 4 blocks
    const int n = 20;

    // Independent reconstruction of the order: position of block k after the
    // swaps, blocks handed out from the last position down.
    std::srand(777);
    std::vector<int> draws(n);
    for (int i = 0; i < n; ++i) draws[i] = std::rand();
    const int afterwards = std::rand();
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    for (int i = 0; i < n; ++i) std::swap(order[i], order[draws[i] % n]);
    std::vector<int> blockAt(n);
    for (int k = 0; k < n; ++k) blockAt[order[k]] = k;

    std::srand(777);
    blockSpliter_t s(w, h, bs);
    // Exactly n numbers were drawn.
    EXPECT_EQ(std::rand(), afterwards);
    std::vector<region_t> v = drain(s);
    ASSERT_EQ(v.size(), static_cast<size_t>(n));
    for (int t = 0; t < n; ++t) {
        const int k = blockAt[n - 1 - t];
        EXPECT_EQ(v[t].realX, (k % 5) * bs) << "block handed out as number " << t;
        EXPECT_EQ(v[t].realY, (k / 5) * bs) << "block handed out as number " << t;
    }
}

TEST(BlockSpliter, InvalidSizesGiveNoBlocksAndDrawNothing) {
    const int sizes[][3] = {{0, 10, 64}, {10, 0, 64}, {-5, 10, 64}, {10, -1, 64}, {10, 10, 0}, {10, 10, -64}};
    for (const auto& sz : sizes) {
        std::srand(5);
        const int first = std::rand();
        std::srand(5);
        blockSpliter_t s(sz[0], sz[1], sz[2]);
        EXPECT_TRUE(s.empty()) << sz[0] << " " << sz[1] << " " << sz[2];
        EXPECT_EQ(std::rand(), first);
        // getArea on an empty splitter leaves the area alone.
        renderArea_t a;
        a.X = 3;
        a.realW = 9;
        s.getArea(a);
        EXPECT_EQ(a.X, 3);
        EXPECT_EQ(a.realW, 9);
        EXPECT_TRUE(a.image.empty());
    }
}

TEST(BlockSpliter, GetAreaResizesInPlaceAndKeepsOldPixels) {
    blockSpliter_t s(10, 10, 64);
    renderArea_t a;
    // Simulate a previous, larger block.
    a.image.assign(400, colorA_t(0.5f, 0.25f, 0.125f, 1.0f));
    a.depth.assign(400, 3.0f);
    a.resample.assign(400, true);
    const size_t capacity = a.image.capacity();
    s.getArea(a);
    ASSERT_EQ(a.image.size(), 100u);
    ASSERT_EQ(a.depth.size(), 100u);
    ASSERT_EQ(a.resample.size(), 100u);
    EXPECT_GE(a.image.capacity(), capacity);
    EXPECT_EQ(a.image[99].A, 1.0f);
    EXPECT_EQ(a.depth[0], 3.0f);
    EXPECT_TRUE(a.resample[50]);

    // Growing fills with transparent black, depth 0 and clear flags.
    blockSpliter_t big(20, 20, 64);
    big.getArea(a);
    ASSERT_EQ(a.image.size(), 400u);
    EXPECT_EQ(a.image[99].R, 0.5f);
    EXPECT_EQ(a.image[100].R, 0.0f);
    EXPECT_EQ(a.image[399].A, 0.0f);
    EXPECT_EQ(a.depth[399], 0.0f);
    EXPECT_FALSE(a.resample[399]);
}

TEST(RenderArea, ThresholdZeroFlagsEveryPixel) {
    renderArea_t a = makeArea(5, 3, colorA_t(0.2f, 0.2f, 0.2f, 1.0f));
    EXPECT_TRUE(a.checkResample(0.0f));
    for (size_t i = 0; i < a.resample.size(); ++i) EXPECT_TRUE(a.resample[i]) << i;

    // A single pixel compares only with itself.
    renderArea_t one = makeArea(1, 1, colorA_t(1.0f));
    EXPECT_TRUE(one.checkResample(0.0f));
    EXPECT_TRUE(one.resample[0]);
    EXPECT_FALSE(one.checkResample(1e-30f));
    EXPECT_FALSE(one.resample[0]);
}

TEST(RenderArea, UniformAreaClearsEveryFlag) {
    renderArea_t a = makeArea(6, 4, colorA_t(0.3f, 0.6f, 0.9f, 1.0f));
    a.resample.assign(24, true);
    // Alpha differences are ignored.
    a.image[7].A = 0.0f;
    a.image[20].A = 0.5f;
    EXPECT_FALSE(a.checkResample(1e-6f));
    for (size_t i = 0; i < a.resample.size(); ++i) EXPECT_FALSE(a.resample[i]) << i;
}

TEST(RenderArea, WeightedDifferenceIsSummedInDoublePrecision) {
    // For these channel differences a single-precision sum would give
    // 0.320000023 instead of 0.319999993.
    const float expected = static_cast<float>(0.299 * 0.1f + 0.587 * 0.3f + 0.114 * 1.0f);
    EXPECT_EQ(expected, 0.319999993f);
    const float above = std::nextafter(expected, 1.0f);

    renderArea_t a = makeArea(2, 1, colorA_t(0.0f, 0.0f, 0.0f, 1.0f));
    a.image[1] = colorA_t(0.1f, 0.3f, 1.0f, 1.0f);
    EXPECT_TRUE(a.checkResample(expected));
    EXPECT_TRUE(a.resample[0] && a.resample[1]);
    EXPECT_FALSE(a.checkResample(above));
    EXPECT_FALSE(a.resample[0] || a.resample[1]);

    // Absolute differences: the darker pixel sees the same difference.
    a.image[0] = colorA_t(0.1f, 0.3f, 1.0f, 1.0f);
    a.image[1] = colorA_t(0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_TRUE(a.checkResample(expected));
    EXPECT_FALSE(a.checkResample(above));

    // One channel at a time: 0.299, 0.587, 0.114.
    const float weights[3] = {0.299f, 0.587f, 0.114f};
    for (int ch = 0; ch < 3; ++ch) {
        renderArea_t b = makeArea(1, 2, colorA_t(0.0f));
        b.image[1] = colorA_t(ch == 0 ? 1.0f : 0.0f, ch == 1 ? 1.0f : 0.0f, ch == 2 ? 1.0f : 0.0f, 0.0f);
        EXPECT_TRUE(b.checkResample(weights[ch])) << ch;
        EXPECT_FALSE(b.checkResample(std::nextafter(weights[ch], 1.0f))) << ch;
    }
}

TEST(RenderArea, FlagsExactlyTheEightNeighbourhoodOfAnOddPixel) {
    const int W = 7, H = 5;
    for (int oy = 0; oy < H; ++oy) {
        for (int ox = 0; ox < W; ++ox) {
            renderArea_t a = makeArea(W, H, colorA_t(0.5f, 0.5f, 0.5f, 1.0f));
            a.image[oy * W + ox] = colorA_t(0.5f, 0.9f, 0.5f, 1.0f);
            EXPECT_TRUE(a.checkResample(0.1f));
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const bool near = std::abs(x - ox) <= 1 && std::abs(y - oy) <= 1;
                    EXPECT_EQ(a.resample[y * W + x], near)
                        << "odd pixel " << ox << "," << oy << " checked " << x << "," << y;
                }
        }
    }
}

TEST(RenderArea, OutDeliversTheBlockProperColumnByColumn) {
    // The bottom-right block of a 128 x 128 image has a border on its left
    // and top: X = Y = 63, block proper at 64, 64.
    blockSpliter_t s(128, 128, 64);
    renderArea_t a;
    do {
        s.getArea(a);
    } while (!(a.realX == 64 && a.realY == 64));
    ASSERT_EQ(a.X, 63);
    ASSERT_EQ(a.Y, 63);
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
            const pixelCall_t& c = o.calls[n];
            ASSERT_EQ(c.x, x) << n;
            ASSERT_EQ(c.y, y) << n;
            EXPECT_EQ(c.c.R, static_cast<float>(x));
            EXPECT_EQ(c.c.G, static_cast<float>(y));
            EXPECT_EQ(c.alpha, 0.25f);
            EXPECT_EQ(c.depth, static_cast<float>(x * 1000 + y));
        }
}

TEST(RenderArea, OutStopsAtTheFirstRefusedPixel) {
    blockSpliter_t s(128, 128, 64);
    renderArea_t a;
    do {
        s.getArea(a);
    } while (!(a.realX == 64 && a.realY == 0));

    // Output calls made before `a.out` gives up at (x, y) and what it returned.
    auto refusing = [&a](int x, int y, bool& ok) {
        recordingOutput_t o;
        o.refuseX = x;
        o.refuseY = y;
        ok = a.out(o);
        return o.calls.size();
    };
    bool ok = true;
    EXPECT_EQ(refusing(64, 1, ok), 2u); // block-local column 0, row 1
    EXPECT_FALSE(ok);
    EXPECT_EQ(refusing(65, 0, ok), 65u); // column 1 comes after the whole first column
    EXPECT_FALSE(ok);
    EXPECT_EQ(refusing(64, 0, ok), 1u); // the very first pixel
    EXPECT_FALSE(ok);
    // A border pixel is never delivered, so refusing it changes nothing.
    EXPECT_EQ(refusing(63, 0, ok), 64u * 64u);
    EXPECT_TRUE(ok);
}

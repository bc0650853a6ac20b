// Pixel buffers and the post filters: addressing and refused assignments,
// depth of field and anti-noise against brute-force models.
#include "vexlarcore/filter.h"

#include "test_support.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>

using namespace vexlar;
using support::captured;

namespace {

void randomImage(cBuffer_t& img, std::mt19937& rng) {
    for (int i = 0; i < img.resx * img.resy * 4; ++i) img.data[i] = static_cast<unsigned char>(rng() & 255);
}
std::vector<unsigned char> bytesOf(const cBuffer_t& img) {
    return std::vector<unsigned char>(img.data, img.data + img.resx * img.resy * 4);
}
color_t colourAt(const std::vector<unsigned char>& b, int w, int x, int y) {
    unsigned char px[4];
    std::copy_n(&b[(static_cast<std::size_t>(y) * w + x) * 4], 4, px);
    color_t c;
    px >> c;
    return c;
}
void putColour(std::vector<unsigned char>& b, int w, int x, int y, const color_t& c) {
    &b[(static_cast<std::size_t>(y) * w + x) * 4] << c;
}
// All zero but for red `v` at (x, y).
void spot(cBuffer_t& img, int x, int y, unsigned char v) {
    std::fill(img.data, img.data + img.resx * img.resy * 4, 0);
    img(x, y)[0] = v;
}
std::string apply(const filter_t& f, cBuffer_t& img, fBuffer_t& depth) {
    fBuffer_t other(1, 1);
    return captured([&] { f.apply(img, depth, other); });
}

// Anti-noise as a scan of the whole image with the diamond test.
std::vector<unsigned char> antiNoiseModel(const std::vector<unsigned char>& in, int w, int h, int R,
                                          float maxDelta) {
    std::vector<unsigned char> out = in;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const color_t centre = colourAt(in, w, x, y);
            color_t sum(0, 0, 0);
            int count = 0;
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i) {
                    const color_t q = colourAt(in, w, i, j);
                    const float d = std::max(
                        {std::fabs(q.R - centre.R), std::fabs(q.G - centre.G), std::fabs(q.B - centre.B)});
                    if (std::abs(i - x) + std::abs(j - y) <= R && d < maxDelta) sum += q, ++count;
                }
            putColour(out, w, x, y, count ? sum * (1.0f / static_cast<float>(count)) : centre);
        }
    return out;
}

} // namespace

TEST(pixelBuffer, RowMajorAndRefusedAssignments) {
    fBuffer_t a(4, 3), b(3, 4), big(10, 10);
    for (int i = 0; i < 12; ++i) a.data[i] = 100.0f + i, b.data[i] = i;
    for (int i = 0; i < 100; ++i) big.data[i] = i;
    EXPECT_EQ(&a(3, 2), a.data + 11);
    cBuffer_t c(3, 2);
    EXPECT_TRUE(c(2, 0) == c.data + 8 && c(1, 1) == c.data + 16);
    Buffer_t<char> flags(6, 2);
    EXPECT_EQ(&flags(2, 1), flags.data + 8);
    // Same count, other shape: refused; a larger destination must not read on.
    EXPECT_EQ(captured([&] { b = a; }), "Error, trying to assign  buffers of a diferent size\n");
    EXPECT_EQ(b.data[11], 11.0f);
    captured([&] { big = b; });
    EXPECT_EQ(big(9, 9), 99.0f);
    fBuffer_t same(4, 3);
    EXPECT_EQ(captured([&] { same = a; }), "");
    EXPECT_EQ(same.data[11], 111.0f);
    float* saved = a.data;
    a.data = nullptr;
    EXPECT_EQ(captured([&] { b = a; }),
              "Error, trying to assign  buffers of a diferent size\nAssigning unallocated buffers\n");
    a.data = saved;
    a.set(7, 4);
    EXPECT_TRUE(a.resx == 7 && a.resy == 4 && a.data != nullptr);
    for (int i = 0; i < 28; ++i) a.data[i] = 0; // the whole new extent is writable
}

TEST(pixelBufferDeathTest, ImpossibleSizesEndTheProcess) {
    EXPECT_EXIT({ fBuffer_t b(-1, 4); }, testing::ExitedWithCode(1), "");
    EXPECT_EXIT({ fBuffer_t b(4, -1); }, testing::ExitedWithCode(1), "");
    EXPECT_EXIT({ cBuffer_t b(INT_MAX, INT_MAX); }, testing::ExitedWithCode(1),
                "Error allocating memory in cBuffer\n");
    EXPECT_EXIT({ Buffer_t<char> b(5, -1); }, testing::ExitedWithCode(1),
                "Error allocating memory in cBuffer\n");
}

TEST(postFilter, MixCircleAveragesTheWindowBehindTheThreshold) {
    cBuffer_t img(3, 3);
    fBuffer_t depth(3, 3);
    for (int i = 0; i < 9; ++i) {
        img.data[4 * i] = static_cast<unsigned char>(10 * i), img.data[4 * i + 1] = 0,
                     img.data[4 * i + 2] = 255;
        depth.data[i] = 30.0f;
    }
    depth(0, 0) = 25.0f;  // more than 1 nearer: left out
    depth(1, 0) = 29.0f;  // exactly at z - threshold: counted
    depth(2, 0) = 100.0f; // farther: counted
    const std::vector<unsigned char> px = bytesOf(img);
    auto at = [&px](int x, int y) { return colourAt(px, 3, x, y); };
    color_t sum(0, 0, 0);
    for (int k = 1; k < 9; ++k) sum += at(k % 3, k / 3);
    EXPECT_EQ(mix_circle(img, depth, 30.0f, 1, 1, 1.0f, 1.0f).R, (sum * (1.0f / 8.0f)).R);
    depth(0, 0) = depth(1, 0) = 30.0f; // clipped at the corner: the 2 x 2 block
    EXPECT_EQ(mix_circle(img, depth, 30.0f, 0, 0, 1.9f, 0.0f).R,
              (at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1)).R * 0.25f);
    depth(2, 2) = 50.0f; // one qualifying pixel as it is; none gives black
    EXPECT_EQ(mix_circle(img, depth, 50.0f, 2, 2, 1.0f, 0.0f).R, at(2, 2).R);
    EXPECT_TRUE(mix_circle(img, depth, 1000.0f, 1, 1, 1.0f, 0.0f).isBlack());
}

TEST(postFilter, DepthOfFieldBlursOutsideTheSharpZone) {
    std::mt19937 rng(2);
    const int w = 8, h = 6;
    cBuffer_t img(w, h);
    fBuffer_t depth(w, h);
    randomImage(img, rng);
    // Left half at 10.5: r = 3 * (0.5 - 1) / 10 < 0, sharp. Right half at 30:
    // r = 3 * (20 - 1) / 10 = 5.7, blurred in all three passes, without the
    // sharp half (nearer than 30 - 0.1 * 10).
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) depth(x, y) = x < w / 2 ? 10.5f : 30.0f;
    std::vector<unsigned char> model = bytesOf(img);
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<unsigned char> next = model;
        for (int y = 0; y < h; ++y)
            for (int x = w / 2; x < w; ++x) {
                color_t sum(0, 0, 0);
                int count = 0;
                for (int j = std::max(y - 1, 0); j <= std::min(y + 1, h - 1); ++j)
                    for (int i = std::max(x - 1, w / 2); i <= std::min(x + 1, w - 1); ++i)
                        sum += colourAt(model, w, i, j), ++count;
                putColour(next, w, x, y, sum * (1.0f / static_cast<float>(count)));
            }
        model = next;
    }
    EXPECT_EQ(
        apply(filterDOF_t(0.0f, 3.0f, 10.0f, 1.0f), img, depth),
        "Applying DOF filter ... \rApplying DOF filter [ 0 / 3 ] ...   \rApplying DOF filter [ 1 / 3 ] ...   "
        "\rApplying DOF filter [ 2 / 3 ] ...   \rApplying DOF filter [ 3 / 3 ] ...   OK\n");
    EXPECT_EQ(bytesOf(img), model); // alpha kept too
    // Mismatched buffers are left alone (the copies refuse).
    cBuffer_t odd(4, 3);
    fBuffer_t other(3, 4);
    for (int i = 0; i < 12; ++i) other.data[i] = 100.0f;
    randomImage(odd, rng);
    const std::vector<unsigned char> oddBefore = bytesOf(odd);
    apply(filterDOF_t(3.0f, 3.0f, 1.0f, 1.0f), odd, other);
    EXPECT_EQ(bytesOf(odd), oddBefore);
}

TEST(postFilter, DepthOfFieldPassesAndTheSinglePrecisionTolerance) {
    // One bright pixel; pass s blurs pixels with r >= s: depth 20 gives
    // r = 2 * 10 / 10 = 2 (two passes), depth 14 gives 0.8 (one).
    cBuffer_t img(3, 3), once(3, 3);
    fBuffer_t depth(3, 3);
    spot(img, 1, 1, 255);
    once = img;
    const filterDOF_t f(0.0f, 2.0f, 10.0f, 0.0f);
    std::fill(depth.data, depth.data + 9, 20.0f);
    apply(f, img, depth);
    std::fill(depth.data, depth.data + 9, 14.0f);
    apply(f, once, depth);
    const float bright = 255 * 0.003921569f;
    float sum = 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) { // 1/9 in the centre, 1/6 on edges, 1/4 in corners
            const int n = (x == 1 ? 3 : 2) * (y == 1 ? 3 : 2);
            const unsigned char want =
                static_cast<unsigned char>(bright * (1.0f / static_cast<float>(n)) * 255.0f);
            EXPECT_EQ(once(x, y)[0], want) << x << ", " << y;
            sum += static_cast<float>(want) * 0.003921569f;
        }
    EXPECT_EQ(img(1, 1)[0], static_cast<unsigned char>(sum * (1.0f / 9.0f) * 255.0f));
    // focus 9: 9 * 0.1f is 0.900000036, the double product 0.899999976. A
    // neighbour exactly at 1 - 9 * 0.1f is blurred in; at the double limit not.
    const float limit = 1.0f - 9.0f * 0.1f;
    ASSERT_LT(limit, 1.0f - static_cast<float>(9.0 * 0.1));
    cBuffer_t pair(2, 1);
    fBuffer_t z(2, 1);
    spot(pair, 1, 0, 200);
    z(0, 0) = 1.0f;
    z(1, 0) = limit;
    apply(filterDOF_t(1.0f, 1.0f, 9.0f, 0.0f), pair, z);
    EXPECT_EQ(pair(0, 0)[0], static_cast<unsigned char>(200 * 0.003921569f * 0.5f * 255.0f));
    // The blur radius in double: at depth 0x40D33333 with focus 3 and scale 2
    // it is just below 1 (one pass); the float quotient would reach 1.
    cBuffer_t dot(3, 3);
    spot(dot, 1, 1, 255);
    std::fill(depth.data, depth.data + 9, support::fromBits(0x40D33333));
    apply(filterDOF_t(2.0f, 1.0f, 3.0f, 2.0f), dot, depth);
    EXPECT_EQ(dot(1, 1)[0], once(1, 1)[0]);
}

TEST(postFilter, AntiNoiseMatchesTheDiamondModel) {
    std::mt19937 rng(6);
    const struct {
        float radius, maxDelta;
        int R;
    } cases[] = {{1.0f, 2.0f, 1}, {-1.5f, 2.0f, 1}, {1.99f, 0.3f, 1}, {2.0f, 0.25f, 2},
                 {3.7f, 1.0f, 3}, {0.0f, 0.1f, 0},  {2.0f, 0.0f, 2},  {2.0f, -1.0f, 2}};
    for (const auto& c : cases) {
        const int w = 7, h = 5;
        cBuffer_t img(w, h);
        fBuffer_t depth(1, 1);
        randomImage(img, rng);
        const std::vector<unsigned char> want = antiNoiseModel(bytesOf(img), w, h, c.R, c.maxDelta);
        const std::string out = apply(filterAntiNoise_t(c.radius, c.maxDelta), img, depth);
        EXPECT_EQ(bytesOf(img), want) << c.radius << " " << c.maxDelta;
        EXPECT_TRUE(support::contains(out, "\rApplying AntiNoise filter [ 5 / 5 ] ...   OK\n")) << out;
    }
    // Neighbours exactly the threshold apart (0.392 on red and green) stay apart.
    cBuffer_t copy(2, 1);
    fBuffer_t depth(1, 1);
    const unsigned char px[8] = {0, 0, 0, 255, 100, 100, 0, 255};
    std::copy(px, px + 8, copy.data);
    apply(filterAntiNoise_t(1.0f, 100 * 0.003921569f), copy, depth);
    EXPECT_TRUE(copy(0, 0)[0] == 0 && copy(1, 0)[0] == 100);
}

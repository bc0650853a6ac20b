// Post filters: depth of field and anti-noise against brute-force models,
// their progress lines, the kept alpha and mismatched buffers.
#include "vexlarcore/filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace vexlar;

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
    unsigned char* p = &b[(static_cast<std::size_t>(y) * w + x) * 4];
    p << c;
}

std::string runDOF(const filterDOF_t& f, cBuffer_t& img, fBuffer_t& depth) {
    fBuffer_t other(1, 1);
    testing::internal::CaptureStdout();
    f.apply(img, depth, other);
    return testing::internal::GetCapturedStdout();
}

std::string runAntiNoise(const filterAntiNoise_t& f, cBuffer_t& img) {
    fBuffer_t depth(1, 1), other(1, 1);
    testing::internal::CaptureStdout();
    f.apply(img, depth, other);
    return testing::internal::GetCapturedStdout();
}

// Anti-noise written as a scan over the whole image with the diamond test.
std::vector<unsigned char> antiNoiseModel(const std::vector<unsigned char>& in, int w, int h, int R,
                                          float maxDelta) {
    std::vector<unsigned char> out = in;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            color_t centre = colourAt(in, w, x, y), sum(0, 0, 0);
            int count = 0;
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i) {
                    if (std::abs(i - x) + std::abs(j - y) > R) continue;
                    color_t q = colourAt(in, w, i, j);
                    float d = std::fabs(q.R - centre.R);
                    d = std::max(d, std::fabs(q.G - centre.G));
                    d = std::max(d, std::fabs(q.B - centre.B));
                    if (d < maxDelta) {
                        sum += q;
                        ++count;
                    }
                }
            putColour(out, w, x, y, sum * (1.0f / static_cast<float>(count)));
        }
    return out;
}

} // namespace

TEST(MixCircle, MeanOfTheWindowBehindTheThreshold) {
    cBuffer_t img(3, 3);
    fBuffer_t depth(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            unsigned char* p = img(x, y);
            p[0] = static_cast<unsigned char>(10 * (y * 3 + x));
            p[1] = 0;
            p[2] = 255;
            p[3] = 7;
            depth(x, y) = 30.0f;
        }
    depth(0, 0) = 25.0f;  // more than 1 nearer: left out
    depth(1, 0) = 29.0f;  // exactly at z - threshold: counted
    depth(2, 0) = 100.0f; // farther: counted
    auto at = [&img](int x, int y) {
        color_t c;
        img(x, y) >> c;
        return c;
    };
    color_t got = mix_circle(img, depth, 30.0f, 1, 1, 1.0f, 1.0f);
    color_t sum(0, 0, 0);
    for (int k = 1; k < 9; ++k) sum += at(k % 3, k / 3);
    EXPECT_EQ(got.R, (sum * (1.0f / 8.0f)).R);
    EXPECT_EQ(got.B, (sum * (1.0f / 8.0f)).B);

    // Clipped at the corner: the 2 x 2 block.
    depth(0, 0) = 30.0f;
    depth(1, 0) = 30.0f;
    got = mix_circle(img, depth, 30.0f, 0, 0, 1.9f, 0.0f);
    EXPECT_EQ(got.R, (at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1)).R * 0.25f);

    // A single qualifying pixel is returned as it is; none gives black.
    depth(2, 2) = 50.0f;
    got = mix_circle(img, depth, 50.0f, 2, 2, 1.0f, 0.0f);
    EXPECT_EQ(got.R, at(2, 2).R);
    EXPECT_EQ(got.B, at(2, 2).B);
    EXPECT_TRUE(mix_circle(img, depth, 1000.0f, 1, 1, 1.0f, 0.0f).isBlack());
    // Radius 0: the pixel alone.
    EXPECT_EQ(mix_circle(img, depth, 0.0f, 1, 1, 0.5f, 0.0f).R, at(1, 1).R);
}

TEST(DepthOfField, BelowOnePassChangesNothing) {
    std::mt19937 rng(1);
    cBuffer_t img(5, 4);
    fBuffer_t depth(5, 4);
    randomImage(img, rng);
    for (int i = 0; i < 20; ++i) depth.data[i] = static_cast<float>(i) * 7.0f;
    std::vector<unsigned char> before = bytesOf(img);
    filterDOF_t f(0.5f, 0.5f, 10.0f, 1.0f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(runDOF(f, img, depth), "Applying DOF filter ... \rApplying DOF filter [ 0 / 0 ] ...   OK\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(bytesOf(img), before);
}

TEST(DepthOfField, SharpZoneStaysAndTheBackgroundBlursEachPass) {
    std::mt19937 rng(2);
    const int w = 8, h = 6;
    cBuffer_t img(w, h);
    fBuffer_t depth(w, h);
    randomImage(img, rng);
    // Left half at 10.5: r = 3 * (0.5 - 1) / 10 < 0, sharp. Right half at
    // 30: r = 3 * (20 - 1) / 10 = 5.7, blurred in all three passes.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) depth(x, y) = x < w / 2 ? 10.5f : 30.0f;
    std::vector<unsigned char> model = bytesOf(img);
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<unsigned char> next = model;
        for (int y = 0; y < h; ++y)
            for (int x = w / 2; x < w; ++x) {
                // Neighbours nearer than 30 - 0.1 * 10 (the sharp half) are left out.
                color_t sum(0, 0, 0);
                int count = 0;
                for (int j = y - 1; j <= y + 1; ++j)
                    for (int i = x - 1; i <= x + 1; ++i)
                        if (i >= w / 2 && i < w && j >= 0 && j < h) {
                            sum += colourAt(model, w, i, j);
                            ++count;
                        }
                putColour(next, w, x, y, sum * (1.0f / static_cast<float>(count)));
            }
        model = next;
    }
    filterDOF_t f(0.0f, 3.0f, 10.0f, 1.0f);
    const std::string out = runDOF(f, img, depth);
    EXPECT_EQ(out, "Applying DOF filter ... "
                   "\rApplying DOF filter [ 0 / 3 ] ...   "
                   "\rApplying DOF filter [ 1 / 3 ] ...   "
                   "\rApplying DOF filter [ 2 / 3 ] ...   "
                   "\rApplying DOF filter [ 3 / 3 ] ...   OK\n");
    std::vector<unsigned char> got = bytesOf(img);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                const std::size_t k = (static_cast<std::size_t>(y) * w + x) * 4 + c;
                ASSERT_EQ(got[k], model[k]) << "pixel (" << x << ", " << y << ") channel " << c;
            }
}

TEST(DepthOfField, BlurPassesGrowWithTheDistance) {
    // One bright pixel; pass s blurs the pixels with r >= s, so r in [0, 1)
    // gives one 3 x 3 blur and r in [1, 2) two.
    const int w = 3, h = 3;
    cBuffer_t img(w, h), once(w, h);
    fBuffer_t depth(w, h);
    for (int i = 0; i < w * h * 4; ++i) img.data[i] = 0;
    img(1, 1)[0] = 255;
    once = img;
    // focus 10, scale 0, farBlur 2: at depth 20 r = 2 * 10 / 10 = 2 (two
    // passes); at depth 14 r = 2 * 4 / 10 = 0.8 (one pass).
    filterDOF_t f(0.0f, 2.0f, 10.0f, 0.0f);
    for (int i = 0; i < w * h; ++i) depth.data[i] = 20.0f;
    runDOF(f, img, depth);
    for (int i = 0; i < w * h; ++i) depth.data[i] = 14.0f;
    runDOF(f, once, depth);

    // After one pass each pixel holds the bright value over its clipped
    // window: 1/9 in the centre, 1/6 on the edges, 1/4 in the corners.
    const float bright = 255 * 0.003921569f;
    unsigned char pass1[3][3];
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            const int n = (x == 1 ? 3 : 2) * (y == 1 ? 3 : 2);
            pass1[y][x] = static_cast<unsigned char>(bright * (1.0f / static_cast<float>(n)) * 255.0f);
            EXPECT_EQ(once(x, y)[0], pass1[y][x]) << x << ", " << y;
        }
    float sum = 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) sum += static_cast<float>(pass1[y][x]) * 0.003921569f;
    EXPECT_EQ(img(1, 1)[0], static_cast<unsigned char>(sum * (1.0f / 9.0f) * 255.0f));
    EXPECT_NE(img(1, 1)[0], once(1, 1)[0]);
}

TEST(DepthOfField, WindowToleranceIsASinglePrecisionProduct) {
    // focus 9: 9 * 0.1f rounds to 0.900000036, while the double product
    // rounded to float is 0.899999976. A neighbour exactly at the single-
    // precision limit 1 - 9 * 0.1f takes part in the blur of its neighbour at
    // depth 1 (r = 1 * 8 / 9, one pass); at the double limit it would not.
    const float focus = 9.0f;
    const float limit = 1.0f - focus * 0.1f;
    ASSERT_LT(limit, 1.0f - static_cast<float>(static_cast<double>(focus) * 0.1));
    cBuffer_t img(2, 1);
    fBuffer_t depth(2, 1);
    for (int i = 0; i < 8; ++i) img.data[i] = 0;
    img(1, 0)[0] = 200;
    img(0, 0)[3] = img(1, 0)[3] = 255;
    depth(0, 0) = 1.0f;
    depth(1, 0) = limit;
    runDOF(filterDOF_t(1.0f, 1.0f, focus, 0.0f), img, depth);
    const float red = 200 * 0.003921569f * 0.5f;
    EXPECT_EQ(img(0, 0)[0], static_cast<unsigned char>(red * 255.0f));
}

TEST(DepthOfField, MismatchedBuffersAreLeftAlone) {
    std::mt19937 rng(4);
    for (auto sizes : {std::make_pair(4, 3), std::make_pair(2, 6)}) {
        cBuffer_t img(sizes.first, sizes.second);
        fBuffer_t depth(3, 4);
        randomImage(img, rng);
        for (int i = 0; i < 12; ++i) depth.data[i] = 100.0f;
        std::vector<unsigned char> before = bytesOf(img);
        testing::internal::CaptureStderr();
        runDOF(filterDOF_t(3.0f, 3.0f, 1.0f, 1.0f), img, depth);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Error, trying to assign buffers of a diferent size\n"
                  "Error, trying to assign buffers of a diferent size\n"
                  "Error, trying to assign buffers of a diferent size\n");
        EXPECT_EQ(bytesOf(img), before);
    }
}

TEST(AntiNoise, RadiusZeroKeepsEveryPixel) {
    std::mt19937 rng(5);
    cBuffer_t img(4, 3);
    randomImage(img, rng);
    std::vector<unsigned char> before = bytesOf(img);
    testing::internal::CaptureStderr();
    const std::string out = runAntiNoise(filterAntiNoise_t(0.0f, 0.1f), img);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(out, "Applying AntiNoise filter ... "
                   "\rApplying AntiNoise filter [ 0 / 3 ] ...   "
                   "\rApplying AntiNoise filter [ 1 / 3 ] ...   "
                   "\rApplying AntiNoise filter [ 2 / 3 ] ...   "
                   "\rApplying AntiNoise filter [ 3 / 3 ] ...   OK\n");
    EXPECT_EQ(bytesOf(img), before);
}

TEST(AntiNoise, MatchesTheDiamondModel) {
    std::mt19937 rng(6);
    const struct {
        float radius, maxDelta;
        int R;
    } cases[] = {{1.0f, 2.0f, 1}, {-1.5f, 2.0f, 1}, {1.99f, 0.3f, 1}, {2.0f, 0.25f, 2}, {3.7f, 1.0f, 3}};
    for (const auto& c : cases) {
        const int w = 7, h = 5;
        cBuffer_t img(w, h);
        randomImage(img, rng);
        std::vector<unsigned char> want = antiNoiseModel(bytesOf(img), w, h, c.R, c.maxDelta);
        runAntiNoise(filterAntiNoise_t(c.radius, c.maxDelta), img);
        std::vector<unsigned char> got = bytesOf(img);
        for (std::size_t k = 0; k < got.size(); ++k)
            ASSERT_EQ(got[k], want[k]) << "radius " << c.radius << " pixel " << k / 4 << " channel " << k % 4;
    }
}

TEST(AntiNoise, SimilarityUsesTheLargestChannelDifference) {
    cBuffer_t img(2, 1);
    unsigned char* a = img(0, 0);
    unsigned char* b = img(1, 0);
    a[0] = a[1] = a[2] = 0;
    b[0] = 100;
    b[1] = 100;
    b[2] = 0; // red and green differ by 0.39 each, blue equal
    a[3] = b[3] = 255;
    cBuffer_t copy(2, 1);
    copy = img;
    // Largest difference 0.392 < 0.4: similar, so both become the mean.
    runAntiNoise(filterAntiNoise_t(1.0f, 0.4f), img);
    EXPECT_EQ(img(0, 0)[0], img(1, 0)[0]);
    EXPECT_NE(img(0, 0)[0], 0);
    // Below the largest difference (though above each sum/2): not similar.
    runAntiNoise(filterAntiNoise_t(1.0f, 0.39f), copy);
    EXPECT_EQ(copy(0, 0)[0], 0);
    EXPECT_EQ(copy(1, 0)[0], 100);
}

TEST(AntiNoise, NoPositiveThresholdKeepsPixels) {
    std::mt19937 rng(7);
    cBuffer_t img(3, 3);
    randomImage(img, rng);
    std::vector<unsigned char> before = bytesOf(img);
    runAntiNoise(filterAntiNoise_t(2.0f, 0.0f), img);
    EXPECT_EQ(bytesOf(img), before);
    runAntiNoise(filterAntiNoise_t(2.0f, -1.0f), img);
    EXPECT_EQ(bytesOf(img), before);
}

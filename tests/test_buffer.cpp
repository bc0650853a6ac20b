// Pixel buffers: addressing, resizing, assignment and its refusals.
#include "vexlarcore/buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <unistd.h>

using namespace vexlar;

namespace {

const char* const kSizeF = "Error, trying to assign  buffers of a diferent size\n";
const char* const kSizeG = "Error, trying to assign buffers of a diferent size\n";
const char* const kUnalloc = "Assigning unallocated buffers\n";

void fill(fBuffer_t& b, float base) {
    for (int i = 0; i < b.resx * b.resy; ++i) b.data[i] = base + static_cast<float>(i);
}

template <class B> void fillBytes(B& b, int n, int base) {
    for (int i = 0; i < n; ++i) b.data[i] = static_cast<unsigned char>(base + i);
}

} // namespace

TEST(FloatBuffer, AddressesRowMajorWithoutGaps) {
    fBuffer_t b(5, 3);
    EXPECT_EQ(b.resx, 5);
    EXPECT_EQ(b.resy, 3);
    ASSERT_NE(b.data, nullptr);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) b(x, y) = static_cast<float>(10 * y + x);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(b.data[y * 5 + x], static_cast<float>(10 * y + x));
    const fBuffer_t& cb = b;
    EXPECT_EQ(cb(4, 2), 24.0f);
}

TEST(FloatBuffer, SetTakesTheNewSize) {
    fBuffer_t b(2, 2);
    fill(b, 1.0f);
    b.set(7, 4);
    EXPECT_EQ(b.resx, 7);
    EXPECT_EQ(b.resy, 4);
    ASSERT_NE(b.data, nullptr);
    // The whole new extent is writable (the sanitizer build checks this).
    fill(b, 0.0f);
    EXPECT_EQ(b(6, 3), 27.0f);
    b.set(0, 0);
    EXPECT_EQ(b.resx, 0);
    EXPECT_NE(b.data, nullptr);
}

TEST(FloatBuffer, AssignmentOfEqualSizesCopiesEverything) {
    fBuffer_t a(4, 3), b(4, 3);
    fill(a, 100.0f);
    fill(b, 0.0f);
    testing::internal::CaptureStdout();
    b = a;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (int i = 0; i < 12; ++i) EXPECT_EQ(b.data[i], 100.0f + static_cast<float>(i));
    EXPECT_NE(b.data, a.data);

    fBuffer_t e(0, 0), f(0, 0); // empty buffers assign silently
    testing::internal::CaptureStdout();
    f = e;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(FloatBuffer, DifferentShapesPrintAndCopyNothing) {
    // Same element count, different shape: still refused.
    fBuffer_t a(4, 3), b(3, 4);
    fill(a, 100.0f);
    fill(b, 0.0f);
    testing::internal::CaptureStdout();
    b = a;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kSizeF);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(b.data[i], static_cast<float>(i));

    // A larger destination must not read past the smaller source.
    fBuffer_t big(10, 10), small(2, 2);
    fill(big, 0.0f);
    fill(small, 50.0f);
    testing::internal::CaptureStdout();
    big = small;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kSizeF);
    EXPECT_EQ(big(0, 0), 0.0f);
    EXPECT_EQ(big(9, 9), 99.0f);
}

TEST(FloatBuffer, UnallocatedSidePrintsAndCopiesNothing) {
    fBuffer_t a(2, 2), b(2, 2);
    fill(a, 5.0f);
    fill(b, 0.0f);
    float* saved = a.data;
    a.data = nullptr;
    testing::internal::CaptureStdout();
    b = a;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kUnalloc);
    EXPECT_EQ(b(1, 1), 3.0f);

    // Both checks run, size first.
    fBuffer_t c(3, 2);
    testing::internal::CaptureStdout();
    c = a;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kSizeF) + kUnalloc);
    a.data = saved;
}

TEST(ColourBuffer, PixelPointsAtFourBytes) {
    cBuffer_t b(3, 2);
    EXPECT_EQ(b(0, 0), b.data);
    EXPECT_EQ(b(2, 0), b.data + 8);
    EXPECT_EQ(b(1, 1), b.data + 16);
    const cBuffer_t& cb = b;
    EXPECT_EQ(cb(2, 1), b.data + 20);
}

TEST(ColourBuffer, AssignmentCopiesAllBytes) {
    cBuffer_t a(4, 3), b(4, 3);
    fillBytes(a, 48, 1);
    fillBytes(b, 48, 200);
    testing::internal::CaptureStderr();
    b = a;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (int i = 0; i < 48; ++i) EXPECT_EQ(b.data[i], i + 1) << "byte " << i;
}

TEST(ColourBuffer, RefusedAssignmentsPrintOnStderrAndCopyNothing) {
    cBuffer_t a(4, 3), b(3, 4);
    fillBytes(a, 48, 1);
    fillBytes(b, 48, 100);
    testing::internal::CaptureStderr();
    b = a;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kSizeG);
    for (int i = 0; i < 48; ++i) EXPECT_EQ(b.data[i], 100 + i);

    cBuffer_t c(4, 3);
    fillBytes(c, 48, 7);
    unsigned char* saved = a.data;
    a.data = nullptr;
    testing::internal::CaptureStderr();
    c = a;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kUnalloc);
    EXPECT_EQ(c.data[47], 54);
    testing::internal::CaptureStderr();
    b = a;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kSizeG) + kUnalloc);
    a.data = saved;
}

TEST(ColourBuffer, SelfAssignmentKeepsContents) {
    cBuffer_t a(2, 2);
    fillBytes(a, 16, 3);
    cBuffer_t& alias = a;
    a = alias;
    EXPECT_EQ(a.data[15], 18);
}

TEST(FlagBuffer, AddressesOneElementPerPixel) {
    Buffer_t<char> f(6, 2);
    EXPECT_EQ(f.resx, 6);
    EXPECT_EQ(f.resy, 2);
    for (int i = 0; i < 12; ++i) f.data[i] = static_cast<char>(i);
    EXPECT_EQ(f(5, 1), 11);
    EXPECT_EQ(&f(2, 1), f.data + 8);
}

TEST(BufferDeathTest, ImpossibleSizesEndTheProcess) {
    EXPECT_EXIT({ fBuffer_t b(-1, 4); }, testing::ExitedWithCode(1), "");
    EXPECT_EXIT({ fBuffer_t b(INT_MAX, INT_MAX); }, testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            fBuffer_t b(1, 1);
            b.set(3, -2);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EXIT({ cBuffer_t b(INT_MAX, INT_MAX); }, testing::ExitedWithCode(1),
                "Error allocating memory in cBuffer\n");
    EXPECT_EXIT({ Buffer_t<char> b(-5, 1); }, testing::ExitedWithCode(1),
                "Error allocating memory in cBuffer\n");
}

TEST(BufferDeathTest, FloatBufferFailureGoesToStdout) {
    // In the child, standard output is sent to standard error, where the
    // death test can match it; the gBuf_t message is already there.
    EXPECT_EXIT(
        {
            dup2(2, 1);
            fBuffer_t b(-1, 1);
        },
        testing::ExitedWithCode(1), "Error allocating memory in cBuffer\n");
}

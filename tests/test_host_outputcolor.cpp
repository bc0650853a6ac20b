// The program's colour pipeline at known points (sRGB curve, tone maps,
// display gamma, exposure, rounding), the checks of output settings, and
// files read back independently: OpenEXR through its C interface (not the
// C++ one that writes it), 16-bit PNG through the picture reader's decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/imageread.h"
#include "host/imagesink.h"
#include "host/imagewrite.h"
#include "test_support.h"
#include "vexlarcore/colorutil.h"

#ifdef VEXLAR_HAVE_OPENEXR
#include <openexr.h>
#endif

using namespace vexlar;
using namespace vexlar::host;
using support::tempDir_t;

TEST(outputColor, CurvesAtKnownPoints) {
    const std::pair<float, float> encoded[] = {
        {0, 0}, {0.0031308f, 0.04045f}, {0.5f, 0.735357f}, {1, 1}, {2, 1}};
    for (const auto& p : encoded) EXPECT_NEAR(srgbEncode(p.first), p.second, 1e-6f) << p.first;
    const toneMap_t clamp = toneMap_t::clamp, reinhard = toneMap_t::reinhard, filmic = toneMap_t::filmic;
    const struct {
        toneMap_t op;
        float x, want;
    } tones[] = {
        {clamp, 0.5f, 0.5f},     {clamp, 7, 1},  {reinhard, 1, 0.5f},         {reinhard, 3, 0.75f},
        {reinhard, INFINITY, 1}, {filmic, 0, 0}, {filmic, 0.18f, 0.2668989f}, {filmic, 0.5f, 0.6163069f},
        {filmic, 1, 0.8037975f}, {filmic, 10, 1}};
    for (const auto& t : tones)
        EXPECT_NEAR(applyToneMap(t.op, t.x), t.want, 1e-6f) << int(t.op) << " " << t.x;
    const transfer_t gamma = transfer_t::gamma, linear = transfer_t::linear, srgb = transfer_t::srgb;
    const struct {
        float x;
        outputColor_t c; // transfer, display gamma, exposure in stops, tone map
        float want;
    } displayed[] = {{0.5f, {gamma, 2.2f, 0, clamp}, 0.72974f}, {0.5f, {linear, 2.2f, 0, clamp}, 0.5f},
                     {0.25f, {linear, 2.2f, 1, clamp}, 0.5f},   {1, {linear, 2.2f, -1, reinhard}, 1.0f / 3},
                     {NAN, {srgb, 2.2f, 0, clamp}, 0},          {-1, {srgb, 2.2f, 0, filmic}, 0}};
    for (const auto& d : displayed)
        EXPECT_NEAR(colorPipeline_t(d.c).display(d.x), d.want, 1e-6f) << d.x << " " << d.c.exposure;
    const struct {
        float x;
        unsigned top, want;
    } quantised[] = {
        {0.5f, 255, 128}, {0.5f, 65535, 32768}, {0.49f / 255, 255, 0}, {NAN, 255, 0}, {2, 65535, 65535}};
    for (const auto& q : quantised)
        EXPECT_EQ(quantise(q.x, q.top), q.want) << q.x << " (rounded, not truncated)";
}

TEST(outputColor, EncodersRoundColourAndKeepAlphaLinear) {
    floatImage_t img(2, 1);
    const float px[8] = {0.5f, 0.0f, 1.0f, 0.5f, 0.25f, 2.0f, 0.0031308f, 1.0f};
    std::copy(px, px + 8, img.rgba.begin());
    cBuffer_t bytes(2, 1);
    encode8(img, outputColor_t(), bytes);
    const int want8[8] = {188, 0, 255, 128, 137, 255, 10, 255};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(bytes.data[i], want8[i]) << i;
    floatImage_t lin = encodeLinear(img, outputColor_t{transfer_t::linear}, true);
    EXPECT_EQ(lin.rgba[0], 0.25f) << "premultiplied";
    EXPECT_EQ(lin.rgba[5], 2.0f) << "no clamp in linear files";
}

TEST(outputFormats, SettingsAreCheckedAgainstTheFormat) {
    const bool exr = formatInfo(imageFormat_t::exr)->available;
    const struct {
        const char* path;
        int bits;
        bool alpha, colorSet;
        const char* error; // "" when writable
        std::size_t notes;
    } cases[] = {
        {"a.png", 16, true, true, "", 0},
        {"a.PNG", 32, false, false,
         "cannot write \"a.PNG\": output.bits 32 is not possible in .png files (8 or 16)", 0},
        {"a.tga", 16, false, false, "output.bits 16 is not possible in .tga files (8)", 0},
        {"a.exr", 32, true, false, exr ? "" : "built without OpenEXR", 0},
        {"a.hdr", 0, true, true, "", 2},
        {"a.pfm", 8, false, false, "output.bits 8 is not possible in .pfm files (32)", 0},
        {"a.jpg", 0, false, false, "unsupported image format (use a .png, .tga, ", 0},
    };
    for (const auto& c : cases) {
        const outputSettings_t s{outputColor_t(), c.bits, c.alpha, c.colorSet};
        std::string error;
        std::vector<std::string> notes;
        EXPECT_EQ(checkOutput(c.path, s, error, notes), std::string(c.error).empty()) << c.path;
        EXPECT_TRUE(support::contains(error, c.error)) << c.path << ": " << error;
        EXPECT_EQ(notes.size(), c.notes) << c.path;
    }
}

TEST(outputFormats, WidePngFilesReadBackByThePictureReader) {
    // stb_image (not libpng) for the 16-bit samples; RGBE files: output_formats.py.
    tempDir_t dir;
    floatImage_t img(3, 1);
    const float px[12] = {1, 0.5f, 0.25f, 1, 0.75f, 0, 0, 1, 1000, 3e-5f, 7, 0.5f};
    std::copy(px, px + 12, img.rgba.begin());
    const outputSettings_t s{outputColor_t(), 16, true};
    std::string error;
    ASSERT_TRUE(saveImage(dir.path + "/a.png", img, nullptr, s, error)) << error;
    plugins::texelImage_t wide;
    ASSERT_TRUE(plugins::readImage(dir.path + "/a.png", plugins::readOptions_t{false}, wide, error)) << error;
    for (int i = 0; i < 12; ++i) {
        const float v = img.rgba[static_cast<std::size_t>(i)];
        EXPECT_EQ(std::lround(wide.rgba[static_cast<std::size_t>(i)] * 65535.0f),
                  long(quantise(i % 4 == 3 ? v : srgbEncode(v), 65535)))
            << i;
    }
}

#ifdef VEXLAR_HAVE_OPENEXR
TEST(outputFormats, ExrChannelsAndValuesReadByOpenExrsCInterface) {
    tempDir_t dir;
    floatImage_t img(2, 1);
    const float px[8] = {0.5f, 0.1f, 3.0f, 0.5f, 70000.0f, 1.0f, 2.0f, 1.0f};
    std::copy(px, px + 8, img.rgba.begin());
    fBuffer_t depth(2, 1);
    depth(0, 0) = 2.5f;
    depth(1, 0) = noHitDepth;
    for (int bits : {16, 32}) {
        const outputSettings_t s{outputColor_t(), bits, true};
        const std::string path = dir.path + "/a" + std::to_string(bits) + ".exr";
        std::string error;
        ASSERT_TRUE(saveImage(path, img, &depth, s, error)) << error;
        exr_context_t f = nullptr;
        ASSERT_EQ(exr_start_read(&f, path.c_str(), nullptr), EXR_ERR_SUCCESS);
        const exr_attr_chlist_t* list = nullptr;
        ASSERT_EQ(exr_get_channels(f, 0, &list), EXR_ERR_SUCCESS);
        std::string names;
        for (int i = 0; i < list->num_channels; ++i)
            names += std::string(list->entries[i].name.str) +
                     (list->entries[i].pixel_type == EXR_PIXEL_FLOAT ? "f " : "h ");
        EXPECT_EQ(names, bits == 16 ? "Ah Bh Gh Rh Zf " : "Af Bf Gf Rf Zf ");
        exr_chunk_info_t chunk;
        ASSERT_EQ(exr_read_scanline_chunk_info(f, 0, 0, &chunk), EXR_ERR_SUCCESS);
        exr_decode_pipeline_t decode = EXR_DECODE_PIPELINE_INITIALIZER;
        ASSERT_EQ(exr_decoding_initialize(f, 0, &chunk, &decode), EXR_ERR_SUCCESS);
        float values[5][2] = {}; // channels in the file's order, as floats
        for (int c = 0; c < decode.channel_count; ++c) {
            decode.channels[c].decode_to_ptr = reinterpret_cast<uint8_t*>(values[c]);
            decode.channels[c].user_pixel_stride = 4;
            decode.channels[c].user_line_stride = 8;
            decode.channels[c].user_bytes_per_element = 4;
            decode.channels[c].user_data_type = EXR_PIXEL_FLOAT;
        }
        ASSERT_EQ(exr_decoding_choose_default_routines(f, 0, &decode), EXR_ERR_SUCCESS);
        ASSERT_EQ(exr_decoding_run(f, 0, &decode), EXR_ERR_SUCCESS);
        exr_decoding_destroy(f, &decode);
        exr_finish(&f);
        // A, B, G, R, Z; colour premultiplied by alpha, linear; 70000 is beyond the half range.
        const float halfOf005 = 0.04998779296875f; // the half nearest to 0.05
        const float green = bits == 16 ? halfOf005 : 0.05f, red = bits == 16 ? INFINITY : 70000.0f;
        const float want[5][2] = {{0.5f, 1}, {1.5f, 2}, {green, 1}, {0.25f, red}, {2.5f, noHitDepth}};
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(values[i / 2][i % 2], want[i / 2][i % 2]) << "channel " << i / 2 << " pixel " << i % 2;
    }
}
#endif

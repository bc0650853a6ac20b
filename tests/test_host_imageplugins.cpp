// The image texture and the image background as scene files use them:
// sRGB decoding of colour and not of intensity, alpha, wrap modes, the
// environment mappings and their frame, power, and located errors for
// pictures that cannot be read.
#include <fstream>

#include "common/imageread.h"
#include "host/imagewrite.h"
#include "importfixture.h"
#include "vexlarcore/renderstate.h"

using namespace vexlar;
using namespace vexlar::host;

namespace {

class imagePlugins : public support::importFixture_t {
protected:
    void SetUp() override {
        importFixture_t::SetUp();
        if (IsSkipped()) return;
        // Two texels: grey 128, and (255, 0, 64) with alpha 128.
        cBuffer_t bytes(2, 1);
        const unsigned char px[8] = {128, 128, 128, 255, 255, 0, 64, 128};
        std::copy(px, px + 8, bytes.data);
        std::string error;
        ASSERT_TRUE(saveImage(dir.path + "/two.png", bytes, true, error)) << error;
        // A 4 x 2 latitude-longitude picture: texel (x, y) has red x + 1, green y + 1.
        floatImage_t env(4, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) {
                env.at(x, y)[0] = float(x + 1);
                env.at(x, y)[1] = float(y + 1);
            }
        ASSERT_TRUE(saveImage(dir.path + "/env.hdr", env, nullptr, outputSettings_t(), error)) << error;
    }

    texture_t* texture(const std::string& settings) {
        scenes.push_back(load(
            R"({"textures": {"t": {"type": "image", "filename": "two.png")" + settings + "}}}", dir.path));
        return scenes.back()->textures["t"];
    }

    color_t sky(const std::string& settings, const vector3d_t& d) {
        const std::string head =
            R"({"background": {"type": "image", "filename": "env.hdr", "interpolate": false)";
        scenes.push_back(load(head + settings + "}}", dir.path));
        renderState_t state;
        return scenes.back()->background->lookup(d, state);
    }

    support::tempDir_t dir;
    std::vector<std::unique_ptr<loadedScene_t>> scenes;
};

} // namespace

TEST_F(imagePlugins, TextureDecodesColourKeepsIntensityAndWraps) {
    const float grey = 128.0f / 255, a = vexlar::plugins::srgbDecode(grey), b = 1.0f; // the red of the texels
    const struct {
        const char* settings;
        float colour, intensity, leftEdge, beyondRight, farRight;
    } cases[] = {{"", a, grey, a, b, b},
                 {R"(, "encoding": "srgb")", a, a, a, b, b},
                 {R"(, "encoding": "linear")", grey, grey, grey, b, b},
                 {R"(, "wrap": "repeat")", a, grey, (a + b) / 2, a, b},
                 {R"(, "wrap": "mirror")", a, grey, a, b, a}};
    for (const auto& c : cases) {
        texture_t* t = texture(c.settings);
        EXPECT_FLOAT_EQ(t->colorAt(point3d_t(0.25f, 0.5f, 0)).R, c.colour) << c.settings;
        EXPECT_FLOAT_EQ(t->floatAt(point3d_t(0.25f, 0.5f, 0)), c.intensity) << c.settings;
        EXPECT_FLOAT_EQ(t->colorAt(point3d_t(0, 0.5f, 0)).R, c.leftEdge) << c.settings;
        EXPECT_FLOAT_EQ(t->colorAt(point3d_t(1.25f, 0.5f, 0)).R, c.beyondRight) << c.settings;
        EXPECT_FLOAT_EQ(t->colorAt(point3d_t(1.75f, 0.5f, 0)).R, c.farRight) << c.settings;
        EXPECT_FLOAT_EQ(t->colorAt(point3d_t(0.75f, 0.5f, 0)).A, 128.0f / 255) << "alpha is linear";
    }
}

TEST_F(imagePlugins, BackgroundMapsDirectionsInItsFrame) {
    const struct {
        const char* settings;
        vector3d_t d;
        float red, green;
    } cases[] = {
        // Front is x for the zenith z; the viewer's left (+y) lies left of the centre.
        {"", vector3d_t(1, 0, 0.1f), 3, 1},
        {"", vector3d_t(0, -1, 0.1f), 4, 1},
        {"", vector3d_t(-1, 0.01f, -0.1f), 1, 2},
        {R"(, "rotation": 90)", vector3d_t(0, 1, 0.1f), 3, 1},
        {R"(, "up": [0, 1, 0])", vector3d_t(1, 0.1f, 0), 3, 1},
        {R"(, "power": 2)", vector3d_t(1, 0, 0.1f), 6, 2},
        // The angular map's centre is front; mirror balls the same.
        {R"(, "mapping": "angular")", vector3d_t(1, 0, 0.1f), 3, 1},
        {R"(, "mapping": "mirrorball")", vector3d_t(1, 0, -0.1f), 3, 2},
    };
    for (const auto& c : cases) {
        const color_t got = sky(c.settings, c.d);
        EXPECT_TRUE(got.R == c.red && got.G == c.green)
            << c.settings << " " << c.d.x << "," << c.d.y << "," << c.d.z << ": " << got.R << " " << got.G;
    }
}

TEST_F(imagePlugins, UnreadablePicturesAreLocatedSceneErrors) {
    std::ofstream(dir.path + "/bad.png") << "\x89PNG\r\n\x1a\n garbage";
    std::ofstream(dir.path + "/anim.gif") << "GIF89a";
    const std::pair<const char*, std::string> cases[] = {
        {R"({"textures": {"t": {"type": "image", "filename": "bad.png"}}})",
         "t.json:1:20: error: textures.t: texture \"t\" (image): cannot read the image \"" + dir.path +
             "/bad.png\": corrupt or unsupported PNG file ("},
        {R"({"background": {"type": "image", "filename": "anim.gif"}})",
         "t.json:1:16: error: background: background \"background\" (image): cannot read the image \"" +
             dir.path + "/anim.gif\": GIF pictures are not supported"},
        {R"({"background": {"type": "image"}})", "an image background needs a picture"},
    };
    for (const auto& c : cases) {
        const std::string message = errorOf(c.first, dir.path);
        EXPECT_TRUE(support::contains(message, c.second)) << message;
    }
    auto s = load(R"({"background": {"type": "image", "filename": "env.hdr", "mapping": "cube"}})", dir.path);
    ASSERT_EQ(s->warnings.size(), 1u);
    EXPECT_TRUE(support::contains(s->warnings[0],
                                  "background: background \"background\" (image): setting \"mapping\" = "
                                  "\"cube\" is not one of \"latlong\", \"angular\", \"mirrorball\""))
        << s->warnings[0];
}

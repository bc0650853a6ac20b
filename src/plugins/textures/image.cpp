// Texture "image": a picture from a PNG, JPEG, TGA, Radiance HDR or OpenEXR
// file. Its settings: `vexlar --list-plugins`.
//
// Texture space: x runs from 0 at the left edge to 1 at the right edge of
// the picture and y from 0 at its top to 1 at its bottom (the shaders'
// flat, cube, tube and sphere mappings produce such coordinates); z is
// ignored. Texel (i, j) covers [i, i+1) / width by [j, j+1) / height and its
// value sits at its centre; look-ups, with their wrap modes outside the
// picture, are those of common/texelsample.h.
//
// Encoding of 8- and 16-bit files: with "auto" the colour (colorAt, colour
// layers) is decoded from sRGB to linear light, as pictures are painted and
// photographed, and the intensity (floatAt: bump heights, blend weights) is
// the mean of the file's own values, as height and roughness maps are
// stored; "srgb" decodes both, "linear" neither. HDR and EXR files hold
// linear values and are never decoded. The alpha of colorAt is the file's.
#include "common/imageread.h"
#include "common/texelsample.h"
#include "vexlarcore/texture.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;
using namespace vexlar::plugins;

enum class encoding_t { automatic, srgb, linear };

struct imageSettings_t {
    std::string filename;
    bool interpolate;
    wrap_t wrap;
    encoding_t encoding;
};

const paramTable_t<imageSettings_t> imageParams{
    text("filename", &imageSettings_t::filename,
         "PNG, JPEG, TGA, HDR or EXR picture, relative to the scene file's folder"),
    flag("interpolate", &imageSettings_t::interpolate, true,
         "bilinear interpolation between texels (off: nearest texel)"),
    choice("wrap", &imageSettings_t::wrap, "clamp",
           {{"clamp", wrap_t::clamp}, {"repeat", wrap_t::repeat}, {"mirror", wrap_t::mirror}},
           "outside the picture: the edge texels extend, the picture tiles, or it tiles mirrored"),
    choice(
        "encoding", &imageSettings_t::encoding, "auto",
        {{"auto", encoding_t::automatic}, {"srgb", encoding_t::srgb}, {"linear", encoding_t::linear}},
        "8- and 16-bit files: colour decoded from sRGB and intensity as stored, both decoded, or neither")};

class imageTexture_t : public texture_t {
public:
    imageTexture_t(const imageSettings_t& settings, texelImage_t&& pic)
        : s(settings), picture(std::move(pic)) {
        // With "srgb" the intensity follows the decoded colour.
        if (s.encoding == encoding_t::srgb)
            for (std::size_t p = 0; p < picture.intensity.size(); ++p) {
                const float* c = picture.rgba.data() + 4 * p;
                picture.intensity[p] = (c[0] + c[1] + c[2]) / 3.0f;
            }
    }

    colorA_t colorAt(const point3d_t& p) const override {
        float t[4];
        look(texelGrid_t{picture.rgba.data(), 4, picture.width, picture.height}, p, t);
        return colorA_t(t[0], t[1], t[2], t[3]);
    }
    float floatAt(const point3d_t& p) const override {
        float t;
        look(texelGrid_t{picture.intensity.data(), 1, picture.width, picture.height}, p, &t);
        return t;
    }
    bool isDiscrete() const override { return true; }
    float toTexelU(float du) const override { return du * static_cast<float>(picture.width); }
    float toTexelV(float dv) const override { return dv * static_cast<float>(picture.height); }

private:
    void look(const texelGrid_t& grid, const point3d_t& p, float* out) const {
        if (s.interpolate)
            sampleBilinear(grid, p.x, p.y, s.wrap, s.wrap, out);
        else
            sampleNearest(grid, p.x, p.y, s.wrap, s.wrap, out);
    }

    imageSettings_t s;
    texelImage_t picture;
};

texture_t* makeImage(paramMap_t& params, pluginContext_t& context) {
    imageSettings_t s = imageParams.read(params, context);
    if (s.filename.empty()) {
        context.warn("setting \"filename\" is missing: an image texture needs a picture (" +
                     readableFormats() + ")");
        return nullptr;
    }
    const std::string path = context.resolvePath(s.filename);
    readOptions_t options;
    options.srgb = s.encoding != encoding_t::linear;
    options.keepIntensity = true;
    texelImage_t picture;
    std::string error;
    if (!readImage(path, options, picture, error)) {
        context.warn("cannot read the image \"" + path + "\": " + error);
        return nullptr;
    }
    return new imageTexture_t(s, std::move(picture));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("image", makeImage, imageParams.rows(),
                             "picture from a PNG, JPEG, TGA, HDR or EXR file");
}

} // namespace

VEXLAR_PLUGIN("texture_image", registerAll)

// Texture "image": a picture from a TGA file. Its settings:
// `vexlar --list-plugins`.
//
// Texture space: x runs from 0 at the left edge to 1 at the right edge of
// the picture and y from 0 at its top to 1 at its bottom (the shaders'
// flat, cube, tube and sphere mappings produce such coordinates); z is
// ignored. Texel (i, j) covers [i, i+1) / width by [j, j+1) / height and its
// value sits at its centre; between centres the colour is interpolated
// bilinearly, and beyond the outer centres the edge texels are extended.
// The intensity (floatAt) is the mean of the three channels.
#include <cmath>

#include "vexlarcore/targa.h"
#include "vexlarcore/texture.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

struct imageSettings_t {
    std::string filename;
    bool interpolate;
};

const plugins::paramTable_t<imageSettings_t> imageParams{
    plugins::text("filename", &imageSettings_t::filename, "TGA file, relative to the scene file's folder"),
    plugins::flag("interpolate", &imageSettings_t::interpolate, true,
                  "bilinear interpolation between texels (off: nearest texel)")};

class imageTexture_t : public texture_t {
public:
    explicit imageTexture_t(bool interpolate) : interpolate(interpolate) {}

    bool load(const std::string& path, std::string& error) {
        bool ok = image.Load(path.c_str());
        error = image.error;
        if (ok && (image.width == 0 || image.height == 0)) {
            error = "the image has no pixels";
            return false;
        }
        return ok;
    }

    colorA_t colorAt(const point3d_t& p) const override { return colorA_t(lookup(p.x, p.y), 1.0f); }
    float floatAt(const point3d_t& p) const override {
        color_t c = lookup(p.x, p.y);
        return (c.R + c.G + c.B) / 3.0f;
    }
    bool isDiscrete() const override { return true; }
    float toTexelU(float du) const override { return du * image.width; }
    float toTexelV(float dv) const override { return dv * image.height; }

private:
    // Texel index for a texel-space coordinate, clamped to the picture.
    static int clampIndex(double t, int size) {
        if (!(t > 0.0)) return 0; // also NaN
        if (t >= size - 1) return size - 1;
        return static_cast<int>(t);
    }

    color_t lookup(float x, float y) const {
        const int w = image.width, h = image.height;
        if (!std::isfinite(x) || !std::isfinite(y)) return color_t(0, 0, 0);
        if (!interpolate)
            return image(clampIndex(std::floor(x * static_cast<double>(w)), w),
                         clampIndex(std::floor(y * static_cast<double>(h)), h));
        // Texel centres sit at half-integer positions.
        double fx = x * static_cast<double>(w) - 0.5, fy = y * static_cast<double>(h) - 0.5;
        double x0 = std::floor(fx), y0 = std::floor(fy);
        float tx = static_cast<float>(fx - x0), ty = static_cast<float>(fy - y0);
        int ix0 = clampIndex(x0, w), ix1 = clampIndex(x0 + 1, w);
        int iy0 = clampIndex(y0, h), iy1 = clampIndex(y0 + 1, h);
        color_t top = image(ix0, iy0) * (1.0f - tx) + image(ix1, iy0) * tx;
        color_t bottom = image(ix0, iy1) * (1.0f - tx) + image(ix1, iy1) * tx;
        return top * (1.0f - ty) + bottom * ty;
    }

    targaImg_t image;
    bool interpolate;
};

texture_t* makeImage(paramMap_t& params, pluginContext_t& context) {
    imageSettings_t s = imageParams.read(params, context);
    if (s.filename.empty()) {
        context.warn("setting \"filename\" is missing: an image texture needs a TGA file");
        return nullptr;
    }
    std::string path = context.resolvePath(s.filename);
    auto* texture = new imageTexture_t(s.interpolate);
    std::string error;
    if (!texture->load(path, error)) {
        context.warn("cannot read the image \"" + path + "\": " + error);
        delete texture;
        return nullptr;
    }
    return texture;
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("image", makeImage, imageParams.rows(), "picture from a TGA file");
}

} // namespace

VEXLAR_PLUGIN("texture_image", registerAll)

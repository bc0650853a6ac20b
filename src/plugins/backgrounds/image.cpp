// Background "image": an environment picture looked up by direction. Its
// settings: `vexlar --list-plugins`.
//
// The mappings and the frame (the picture's centre faces x, or y when `up`
// is close to x, turned by `rotation` about `up`) are those of
// common/envmap.h. Latitude-longitude pictures repeat across the seam and
// clamp at the poles; angular and mirror-ball pictures clamp at the rim of
// their disc. 8- and 16-bit files are decoded from sRGB unless `encoding`
// is linear; HDR and EXR files hold linear light and are never decoded.
#include "common/envmap.h"
#include "common/imageread.h"
#include "common/texelsample.h"
#include "vexlarcore/background.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;
using namespace vexlar::plugins;

struct imageBackgroundSettings_t {
    std::string filename;
    envMapping_t mapping;
    vector3d_t up;
    float rotation;
    float power;
    bool interpolate;
    bool srgb;
};

const paramTable_t<imageBackgroundSettings_t> imageParams{
    text("filename", &imageBackgroundSettings_t::filename,
         "PNG, JPEG, TGA, HDR or EXR picture, relative to the scene file's folder"),
    choice("mapping", &imageBackgroundSettings_t::mapping, "latlong",
           {{"latlong", envMapping_t::latlong},
            {"angular", envMapping_t::angular},
            {"mirrorball", envMapping_t::mirrorball}},
           "equirectangular, light-probe angular map or mirror-ball photograph"),
    direction("up", &imageBackgroundSettings_t::up, vector3d_t(0, 0, 1), "direction of the zenith"),
    number("rotation", &imageBackgroundSettings_t::rotation, 0.0f,
           "degrees the picture turns about up, counter-clockwise seen from above"),
    number("power", &imageBackgroundSettings_t::power, 1.0f, range_t::atLeast(0), "factor on every colour"),
    flag("interpolate", &imageBackgroundSettings_t::interpolate, true,
         "bilinear look-ups (off: nearest texel)"),
    choice("encoding", &imageBackgroundSettings_t::srgb, "srgb", {{"srgb", true}, {"linear", false}},
           "8- and 16-bit files: decoded from sRGB to linear light, or taken as linear")};

class imageBackground_t : public background_t {
public:
    imageBackground_t(const imageBackgroundSettings_t& settings, texelImage_t&& pic)
        : s(settings), frame(makeEnvFrame(settings.up, settings.rotation)), picture(std::move(pic)) {}

    color_t lookup(const vector3d_t& dir, renderState_t&) const override {
        double u, v;
        if (!directionToPosition(s.mapping, frame, dir, u, v)) return color_t(0, 0, 0);
        const bool panorama = s.mapping == envMapping_t::latlong;
        const texelGrid_t grid{picture.rgba.data(), 4, picture.width, picture.height};
        const wrap_t across = panorama ? wrap_t::repeat : wrap_t::clamp;
        float texel[4];
        if (s.interpolate)
            sampleBilinear(grid, u, v, across, wrap_t::clamp, texel);
        else
            sampleNearest(grid, u, v, across, wrap_t::clamp, texel);
        return color_t(texel[0], texel[1], texel[2]) * s.power;
    }

private:
    imageBackgroundSettings_t s;
    envFrame_t frame;
    texelImage_t picture;
};

background_t* makeImage(paramMap_t& params, pluginContext_t& context) {
    imageBackgroundSettings_t s = imageParams.read(params, context);
    if (s.filename.empty()) {
        context.warn("setting \"filename\" is missing: an image background needs a picture (" +
                     readableFormats() + ")");
        return nullptr;
    }
    const std::string path = context.resolvePath(s.filename);
    readOptions_t options;
    options.srgb = s.srgb;
    texelImage_t picture;
    std::string error;
    if (!readImage(path, options, picture, error)) {
        context.warn("cannot read the image \"" + path + "\": " + error);
        return nullptr;
    }
    return new imageBackground_t(s, std::move(picture));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerBackground("image", makeImage, imageParams.rows(),
                                "environment picture looked up by direction");
}

} // namespace

VEXLAR_PLUGIN("background_image", registerAll)

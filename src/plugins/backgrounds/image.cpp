// Background "image": an environment picture looked up by direction.
//
// | name        | kind   | default    | meaning                                                    |
// |-------------|--------|------------|------------------------------------------------------------|
// | filename    | string |            | PNG, JPEG, TGA, HDR or EXR file, relative to the scene (required) |
// | mapping     | string | latlong    | latlong (equirectangular), angular (light probe) or mirrorball |
// | up          | point  | 0 0 1      | direction of the zenith (any length but zero)              |
// | rotation    | float  | 0          | degrees the picture turns about up, counter-clockwise from above |
// | power       | float  | 1          | factor on every colour (at least 0)                        |
// | interpolate | bool   | on         | bilinear look-ups (off: nearest texel)                     |
// | encoding    | string | srgb       | 8- and 16-bit files: srgb (decoded to linear) or linear    |
//
// The mappings and the frame (the picture's centre faces x turned by
// `rotation` about `up`) are those of common/envmap.h. Latitude-longitude
// pictures repeat across the seam and clamp at the poles; directions outside
// the disc of an angular or mirror-ball picture are black. HDR and EXR files
// hold linear light and are never decoded.
#include "common/envmap.h"
#include "common/imageread.h"
#include "common/paramreader.h"
#include "common/texelsample.h"
#include "vexlarcore/background.h"

namespace {

using namespace vexlar;
using namespace vexlar::plugins;

struct imageBackgroundSettings_t {
    std::string filename;
    envMapping_t mapping = envMapping_t::latlong;
    vector3d_t up;
    float rotation = 0;
    float power = 1;
    bool interpolate = true;
    bool srgb = true;
};

imageBackgroundSettings_t readSettings(paramMap_t& params, pluginContext_t& context) {
    paramReader_t read(params, context);
    imageBackgroundSettings_t s;
    s.filename = read.getString("filename", "");
    s.mapping = static_cast<envMapping_t>(read.getChoice("mapping", {"latlong", "angular", "mirrorball"}, 0));
    s.up = read.getDirection("up", vector3d_t(0, 0, 1));
    s.rotation = read.getFloat("rotation", 0.0f);
    s.power = read.getFloat("power", 1.0f, range_t::atLeast(0));
    s.interpolate = read.getBool("interpolate", true);
    s.srgb = read.getChoice("encoding", {"srgb", "linear"}, 0) == 0;
    return s;
}

class imageBackground_t : public background_t {
public:
    imageBackground_t(const imageBackgroundSettings_t& settings, texelImage_t&& pic)
        : s(settings), frame(makeEnvFrame(settings.up, settings.rotation)), picture(std::move(pic)) {}

    color_t lookup(const vector3d_t& dir, renderState_t&) const override {
        double u, v;
        if (!directionToPosition(s.mapping, frame, dir, u, v)) return color_t(0, 0, 0);
        const bool panorama = s.mapping == envMapping_t::latlong;
        if (!panorama && (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5) > 0.25) return color_t(0, 0, 0);
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
    imageBackgroundSettings_t s = readSettings(params, context);
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
    registry.registerBackground(
        "image", makeImage,
        {{"filename", "string", "",
          "PNG, JPEG, TGA, HDR or EXR picture, relative to the scene file's folder"},
         {"mapping", "string", "latlong", "latlong (equirectangular), angular (light probe) or mirrorball"},
         {"up", "point", "0 0 1", "direction of the zenith"},
         {"rotation", "float", "0", "degrees the picture turns about up (counter-clockwise seen from above)"},
         {"power", "float", "1", "factor on every colour (at least 0)"},
         {"interpolate", "bool", "on", "bilinear look-ups (off: nearest texel)"},
         {"encoding", "string", "srgb", "8- and 16-bit files: srgb (decoded to linear light) or linear"}},
        "environment picture looked up by direction");
}

} // namespace

VEXLAR_PLUGIN("background_image", registerAll)

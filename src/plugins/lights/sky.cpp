// Light "sky": light from every direction, for ambient occlusion and
// image-based lighting. Its settings: `vexlar --list-plugins`,
// docs/scene-format.md.
//
// With `source` "background" (the default) the light from direction w is the
// scene's background seen along w, times color * power, so an environment
// picture lights the scene; with "color" it is color * power from every
// direction (ambient occlusion: a point on an open plane receives exactly
// that, times its albedo). Each shaded point casts `samples` rays into the
// hemisphere above it; a ray that meets a shadow-casting object within
// `distance` (0: any distance) brings nothing. The light of each ray reaches
// the surface's shader through fromRadiosity, the diffuse response: mirrors
// and glossy reflections see the background through the rays shaders trace
// themselves.
//
// Sampling. Without importance sampling the rays are cosine-weighted around
// the normal. With it (source "background", `importance` on) half of the rays
// (samples / 2) are drawn in proportion to the background's brightness
// instead, from a table of its luminance over a latitude-longitude grid of
// `resolution` x resolution / 2 cells (poles on the z axis, each cell
// measured at four points) built once in setup, and every ray is weighted by
// the balance heuristic over both ways of drawing it. A small bright sun in
// an environment map then gives a clean shadow instead of noise. The table
// is built from every texel of the picture when the background shows one
// (the image background), so that no bright spot is missed however small;
// for other backgrounds from their look-ups at four points of each cell.
//
// Random numbers: a rotated Hammersley set per point, the rotation drawn from
// random numbers seeded by the shaded point's position.
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/envmap.h"
#include "vexlarcore/background.h"
#include "vexlarcore/hashrandom.h"
#include "vexlarcore/light.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/scatter.h"
#include "vexlarcore/scene.h"
#include "vexlarplugin/lighting.h"

namespace {

using namespace vexlar;

constexpr double pi = 3.141592653589793;
constexpr std::uint64_t skySalt = 0x736b79u; // "sky"

enum class source_t { background, color };

struct skySettings_t {
    color_t color;
    float power;
    bool shadows;
    source_t source;
    int samples;
    float distance;
    bool importance;
    int resolution;
};

const plugins::paramTable_t<skySettings_t> skyParams{
    plugins::color("color", &skySettings_t::color, color_t(1, 1, 1), "colour (a tint of the background)"),
    plugins::number("power", &skySettings_t::power, 1.0f, plugins::range_t::atLeast(0),
                    "factor on the light of every direction"),
    plugins::flag("shadows", &skySettings_t::shadows, true, "objects block the sky (off: every ray is open)"),
    plugins::choice("source", &skySettings_t::source, "background",
                    {{"background", source_t::background}, {"color", source_t::color}},
                    "light of each direction: the scene's background, or color everywhere"),
    plugins::integer("samples", &skySettings_t::samples, 16, plugins::range_t::between(1, 4096),
                     "rays per shaded point"),
    plugins::number("distance", &skySettings_t::distance, 0.0f, plugins::range_t::atLeast(0),
                    "objects farther than this do not block (0: any distance)"),
    plugins::flag("importance", &skySettings_t::importance, true,
                  "draw half the rays in proportion to the background's brightness"),
    plugins::integer("resolution", &skySettings_t::resolution, 128, plugins::range_t::between(8, 1024),
                     "width of the brightness table (its height is half of it)")};

// Piecewise-constant density over a latitude-longitude grid: the cell
// probabilities follow a weight per cell, and within a cell directions are
// uniform in solid angle.
class directionTable_t {
public:
    bool empty() const { return total <= 0.0; }

    // Fills the table with luminance x solid angle of each cell, measured
    // at four points of the cell through the background interface.
    void build(const background_t& background, int width) {
        reset(width);
        renderState_t state;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                double lum = 0.0;
                for (float a : {0.25f, 0.75f})
                    for (float b : {0.25f, 0.75f})
                        lum += luminance(background.lookup(direction(i + a, j + b), state));
                cells[index(i, j)] = static_cast<float>(lum * 0.25 * cellSolidAngle(j));
            }
        finish();
    }

    // Fills the table from every texel of an environment picture: each adds
    // its luminance (at least that of its neighbours) x solid angle to the
    // cell its direction falls in, so no bright spot is missed however small.
    void build(const plugins::envPictureView_t& pic, int width) {
        reset(width);
        std::vector<double> sums(cells.size(), 0.0);
        const double du = 1.0 / pic.width, dv = 1.0 / pic.height;
        for (int y = 0; y < pic.height; ++y)
            for (int x = 0; x < pic.width; ++x) {
                const double u = (x + 0.5) * du, v = (y + 0.5) * dv;
                vector3d_t d, a0, a1, b0, b1;
                if (!at(pic, u, v, d) || !at(pic, u - du / 2, v, a0) || !at(pic, u + du / 2, v, a1) ||
                    !at(pic, u, v - dv / 2, b0) || !at(pic, u, v + dv / 2, b1))
                    continue;
                // The brightest of the texel and its neighbours: look-ups
                // blend neighbouring texels, which spreads a sun by a texel.
                double lum = 0.0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int yy = std::min(pic.height - 1, std::max(0, y + dy));
                        const int xx = (x + dx + pic.width) % pic.width;
                        const float* t = pic.rgba + 4 * (static_cast<std::size_t>(yy) * pic.width + xx);
                        lum = std::max(lum, luminance(color_t(t[0], t[1], t[2]) * pic.power));
                    }
                const double solidAngle = ((a1 - a0) ^ (b1 - b0)).length();
                sums[cellOf(d)] += lum * solidAngle;
            }
        for (std::size_t k = 0; k < cells.size(); ++k) cells[k] = static_cast<float>(sums[k]);
        finish();
    }

    // A direction drawn with the table's density from two numbers in [0, 1).
    vector3d_t sample(float u1, float u2) const {
        double x = u1 * total;
        const int j = find(rowCdf.data(), h, x);
        const double r0 = rowCdf[static_cast<std::size_t>(j)], r1 = rowCdf[static_cast<std::size_t>(j + 1)];
        const double fy = r1 > r0 ? (x - r0) / (r1 - r0) : 0.5;
        const double* cols = &colCdf[static_cast<std::size_t>(j * (w + 1))];
        x = u2 * cols[w];
        const int i = find(cols, w, x);
        const double fx = cols[i + 1] > cols[i] ? (x - cols[i]) / (cols[i + 1] - cols[i]) : 0.5;
        return direction(i + static_cast<float>(fx), j + static_cast<float>(fy));
    }

    // The density (per steradian) at a unit direction.
    float density(const vector3d_t& d) const {
        if (empty()) return 0.0f;
        const std::size_t k = cellOf(d);
        return static_cast<float>(cells[k] / total / cellSolidAngle(static_cast<int>(k) / w));
    }

private:
    std::size_t index(int i, int j) const { return static_cast<std::size_t>(j * w + i); }

    void reset(int width) {
        w = width;
        h = std::max(1, width / 2);
        cells.assign(static_cast<std::size_t>(w * h), 0.0f);
        total = 0.0;
    }

    // The cumulative tables of the filled cells.
    void finish() {
        rowCdf.assign(static_cast<std::size_t>(h + 1), 0.0);
        colCdf.assign(static_cast<std::size_t>(h * (w + 1)), 0.0);
        total = 0.0;
        for (int j = 0; j < h; ++j) {
            double rowSum = 0.0;
            for (int i = 0; i < w; ++i) {
                double weight = cells[index(i, j)];
                if (!std::isfinite(weight) || weight < 0.0) weight = 0.0;
                cells[index(i, j)] = static_cast<float>(weight);
                rowSum += weight;
                colCdf[static_cast<std::size_t>(j * (w + 1) + i + 1)] = rowSum;
            }
            total += rowSum;
            rowCdf[static_cast<std::size_t>(j + 1)] = total;
        }
    }

    static double luminance(const color_t& c) {
        return std::max(0.0, 0.2126 * c.R + 0.7152 * c.G + 0.0722 * c.B);
    }

    // The direction of picture position (u, v); latitude-longitude pictures
    // wrap across their seam.
    static bool at(const plugins::envPictureView_t& pic, double u, double v, vector3d_t& d) {
        if (pic.mapping == plugins::envMapping_t::latlong) u -= std::floor(u);
        return plugins::positionToDirection(pic.mapping, pic.frame, u, v, d);
    }

    // The cell of a unit direction.
    std::size_t cellOf(const vector3d_t& d) const {
        const double cosTheta = std::max(-1.0, std::min(1.0, static_cast<double>(d.z)));
        double phi = std::atan2(static_cast<double>(d.y), static_cast<double>(d.x));
        if (phi < 0.0) phi += 2.0 * pi;
        const int i = std::min(w - 1, static_cast<int>(phi / (2.0 * pi) * w));
        const int j = std::min(h - 1, static_cast<int>(std::acos(cosTheta) / pi * h));
        return index(i, j);
    }

    // Cell j spans polar angles [j, j + 1) * pi / h; directions are uniform
    // in the cosine within it.
    double cellSolidAngle(int j) const {
        return 2.0 * pi / w * (std::cos(pi * j / h) - std::cos(pi * (j + 1) / h));
    }

    // The direction at grid position (x, y): x over the azimuth, y over
    // the cosine of the polar angle inside row floor(y).
    vector3d_t direction(float x, float y) const {
        const int j = std::min(h - 1, static_cast<int>(y));
        const double c0 = std::cos(pi * j / h), c1 = std::cos(pi * (j + 1) / h);
        const double cosTheta = c0 + (c1 - c0) * (y - j);
        const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
        const double phi = 2.0 * pi * x / w;
        return vector3d_t(static_cast<float>(sinTheta * std::cos(phi)),
                          static_cast<float>(sinTheta * std::sin(phi)), static_cast<float>(cosTheta));
    }

    // The interval k of a cumulative table c[0..n] that holds x.
    static int find(const double* c, int n, double x) {
        const double* at = std::upper_bound(c + 1, c + n, x);
        int k = static_cast<int>(at - c) - 1;
        while (k > 0 && c[k + 1] <= c[k]) --k; // skip empty cells at the end
        return std::max(0, std::min(n - 1, k));
    }

    int w = 0, h = 0;
    double total = 0.0;
    std::vector<float> cells;
    std::vector<double> rowCdf, colCdf;
};

class skyLight_t : public light_t {
public:
    explicit skyLight_t(const skySettings_t& s) : s(s) {}

    void setup(scene_t& scene) override {
        table = directionTable_t();
        const background_t* bg = scene.getBackground();
        if (s.source != source_t::background || !s.importance || !bg) return;
        if (const auto* picture = dynamic_cast<const plugins::envPicture_t*>(bg))
            table.build(picture->environmentPicture(), s.resolution);
        else
            table.build(*bg, s.resolution);
    }

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        const background_t* bg = scene.getBackground();
        if (s.source == source_t::background && !bg) return color_t(0, 0, 0);
        const vector3d_t n = plugins::facingNormal(sp, eye);
        vector3d_t ng = sp.geometricNormal;
        ng.normalize();
        if (ng * n < 0.0f) ng = -ng;
        const int nTable = table.empty() ? 0 : s.samples / 2;
        const int nCosine = s.samples - nTable;
        hashRandom_t random = hashRandom_t::at(sp.point, skySalt);
        const float shift1 = random.next(), shift2 = random.next();
        color_t sum(0, 0, 0);
        for (int k = 0; k < s.samples; ++k) {
            const bool fromTable = k < nTable;
            const int index = fromTable ? k : k - nTable, count = fromTable ? nTable : nCosine;
            float u1 = (static_cast<float>(index) + shift1) / static_cast<float>(count);
            float u2 = static_cast<float>(radicalInverseOf(static_cast<std::uint64_t>(index), 2)) + shift2;
            if (u1 >= 1.0f) u1 -= 1.0f;
            if (u2 >= 1.0f) u2 -= 1.0f;
            const vector3d_t w = fromTable ? table.sample(u1, u2) : sampleCosine(n, u1, u2);
            const float cosN = n * w;
            if (!(cosN > 0.0f) || !(ng * w > 0.0f)) continue;
            // Balance heuristic over both strategies: f / (N_t p_t + N_c p_c).
            const float mixed = nCosine * cosN / static_cast<float>(pi) + nTable * table.density(w);
            if (!(mixed > 0.0f)) continue;
            const color_t radiance =
                (s.source == source_t::background ? bg->lookup(w, state) : color_t(1, 1, 1)) * s.color *
                s.power;
            if (radiance.isBlack()) continue;
            const color_t energy = radiance * static_cast<float>(1.0 / (pi * mixed));
            const color_t c = plugins::deliverDiffuse(state, sp, w, energy, eye);
            if (c.isBlack() || (s.shadows && blocked(state, scene, sp, w))) continue;
            sum += c;
        }
        return sum;
    }

private:
    bool blocked(renderState_t& state, const scene_t& scene, const surfacePoint_t& sp,
                 const vector3d_t& w) const {
        if (s.distance > 0.0f) return scene.isShadowed(state, sp, sp.point + s.distance * w);
        return scene.isShadowed(state, sp, w);
    }

    skySettings_t s;
    directionTable_t table;
};

light_t* makeSky(paramMap_t& params, pluginContext_t& context) {
    return new skyLight_t(skyParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerLight("sky", makeSky, skyParams.rows(),
                           "light from every direction: the background or one colour (image-based "
                           "light, ambient occlusion)");
}

} // namespace

VEXLAR_PLUGIN("light_sky", registerAll)

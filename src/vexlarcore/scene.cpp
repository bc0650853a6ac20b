// Scene set-up and the image driver.
#include "vexlarcore/scene.h"

#include "vexlarcore/sampling.h"

#include <cstdint>
#include <iostream>

namespace vexlar {

int pstop = 0;
int pcount = 0;

namespace {

// Destroys the scene's tree when render leaves, whichever way it leaves.
class treeGuard_t {
public:
    explicit treeGuard_t(geomeTree_t<object3d_t>*& t) : tree(t) {}
    ~treeGuard_t() {
        delete tree;
        tree = nullptr;
    }
    treeGuard_t(const treeGuard_t&) = delete;
    treeGuard_t& operator=(const treeGuard_t&) = delete;

private:
    geomeTree_t<object3d_t>*& tree;
};

} // namespace

scene_t::scene_t()
    : camera(nullptr), rayBias(sceneDefaults_t::rayBias), worldResolution(1.0f),
      maxRayLevel(sceneDefaults_t::maxRayLevel), objectTree(nullptr),
      selfShadowBias(sceneDefaults_t::selfShadowBias), background(nullptr),
      indirectEnabled(sceneDefaults_t::indirectEnabled), indirectSamples(sceneDefaults_t::indirectSamples),
      indirectPower(sceneDefaults_t::indirectPower), indirectStratumU(0.0f), indirectStratumPhi(0.0f),
      gamma(sceneDefaults_t::gamma), exposure(sceneDefaults_t::exposure),
      fogDensity(sceneDefaults_t::fogDensity), fogColor(0.0f, 0.0f, 0.0f),
      aaPasses(sceneDefaults_t::aaPasses), aaSamples(sceneDefaults_t::aaSamples),
      aaPixelWidth(sceneDefaults_t::aaPixelWidth), aaThreshold(sceneDefaults_t::aaThreshold),
      regionMinY(sceneDefaults_t::regionMin), regionMaxY(sceneDefaults_t::regionMax),
      regionMinX(sceneDefaults_t::regionMin), regionMaxX(sceneDefaults_t::regionMax), repeatFirst(false) {}

scene_t* scene_t::factory() {
    return new scene_t();
}

scene_t::~scene_t() {
    destroyTree();
}

void scene_t::addObject(object3d_t* o) {
    objects.push_back(o);
}
void scene_t::addLight(light_t* l) {
    lights.push_back(l);
}
void scene_t::addFilter(filter_t* f) {
    filters.push_back(f);
}

void scene_t::setCamera(camera_t* cam) {
    camera = cam;
    if (cam == nullptr) {
        worldResolution = 1.0f;
        return;
    }
    worldResolution = 1.0f / (static_cast<float>(cam->resx) * cam->focal);
    std::cerr << "Using a world resolution of " << worldResolution << " per unit" << std::endl;
}

void scene_t::publishVoidData(const std::string& key, const void* data) {
    publishedData[key] = data;
}

const void* scene_t::getPublishedData(const std::string& key) const {
    auto i = publishedData.find(key);
    return i == publishedData.end() ? nullptr : i->second;
}

void scene_t::setupLights() {
    std::cerr << "Setting up lights ..." << std::endl;
    for (light_t* l : lights) l->setup(*this);
    std::cerr << "Finished setting up lights" << std::endl;
}

void scene_t::postSetupLights() {
    for (light_t* l : lights) l->postSetup(*this);
}

void scene_t::setIndirect(bool enabled, int samples, float power) {
    indirectEnabled = enabled;
    indirectSamples = samples;
    indirectPower = power;
    if (samples > 0) {
        indirectStratumU = 1.0f / static_cast<float>(samples);
        indirectStratumPhi = static_cast<float>(6.283185307179586 / samples);
    } else {
        indirectStratumU = 0.0f;
        indirectStratumPhi = 0.0f;
    }
}

void scene_t::setAntialiasing(int passes, int samples, float pixelWidth, float threshold) {
    aaPasses = passes > 0 ? passes : 0;
    aaSamples = samples > 0 ? samples : 0;
    aaPixelWidth = pixelWidth;
    aaThreshold = threshold;
}

// ---------------------------------------------------------------------------
// Image driver

void scene_t::buildTree() {
    destroyTree();
    std::cout << "Building bounding tree ... " << std::flush;
    objectTree = buildObjectTree(objects);
    std::cout << "OK" << std::endl;
}

void scene_t::destroyTree() {
    delete objectTree;
    objectTree = nullptr;
}

void scene_t::lightSetup() {
    std::cout << "Light setup ..." << std::endl;
    setupLights();
    std::cout << std::endl;
}

bool scene_t::renderBlock(renderArea_t& area, colorOutput_t& output, bool preliminary) const {
    if (preliminary)
        fakeRender(area);
    else
        render(area);
    return area.out(output);
}

bool scene_t::renderBlock(const blockSpliter_t& blocks, std::size_t index, renderArea_t& area,
                          colorOutput_t& output, bool preliminary) const {
    // A splitter of an empty image draws nothing from rand(); handing it the
    // one wanted region lets getArea shape the area exactly as in a serial
    // pass.
    blockSpliter_t one(0, 0, blocks.blockSize);
    one.width = blocks.width;
    one.height = blocks.height;
    one.regions.push_back(blocks.regions[blocks.regions.size() - 1 - index]);
    one.getArea(area);
    return renderBlock(area, output, preliminary);
}

bool scene_t::renderPass(blockSpliter_t& blocks, renderArea_t& area, colorOutput_t& output, bool preliminary,
                         const char* title) const {
    std::cout << '\r' << title << std::flush;
    for (int k = 0; !blocks.empty(); ++k) {
        if (k > 0 && k % 10 == 0) std::cout << '#' << std::flush;
        blocks.getArea(area);
        if (!renderBlock(area, output, preliminary)) {
            std::cout << "Aborted" << std::endl;
            return false;
        }
    }
    std::cout << "#]" << std::endl;
    return true;
}

bool scene_t::preliminaryPasses(colorOutput_t& output, renderArea_t& area) {
    while (repeatFirst) {
        // Cleared before the pass so that a light can ask for another one
        // from its postSetup.
        repeatFirst = false;
        blockSpliter_t blocks(camera->resx, camera->resy, 64);
        if (!renderPass(blocks, area, output, true, "Fake   pass: [")) return false;
        postSetupLights();
    }
    return true;
}

void scene_t::renderImage(colorOutput_t& output,
                          const std::function<void(blockSpliter_t& blocks, renderArea_t& area)>& finalPass) {
    if (camera == nullptr) {
        std::cerr << "Error: the scene has no camera; set one with setCamera before rendering" << std::endl;
        return;
    }
    // Created first so that its shuffle draws from rand() before any
    // preliminary pass's splitter does.
    blockSpliter_t blocks(camera->resx, camera->resy, 64);
    renderArea_t area;
    buildTree();
    treeGuard_t guard(objectTree);
    lightSetup();
    if (!preliminaryPasses(output, area)) return;
    std::cout << std::endl;
    finalPass(blocks, area);
}

void scene_t::render(colorOutput_t& output) {
    renderImage(output, [&](blockSpliter_t& blocks, renderArea_t& area) {
        renderPass(blocks, area, output, false, "Render pass: [");
    });
}

// ---------------------------------------------------------------------------
// Block rendering

bool scene_t::cameraSample(renderState_t& state, float px, float py, bool inclusiveRegion,
                           color_t& col) const {
    const float sx = 2.0f * px / static_cast<float>(camera->resx) - 1.0f;
    const float sy = 1.0f - 2.0f * py / static_cast<float>(camera->resy);
    state.screenPos = point3d_t(sx, sy, 0.0f);
    vector3d_t dir = camera->shootRay(px, py);
    bool inside = inclusiveRegion
                      ? (regionMinX <= sx && sx <= regionMaxX && regionMinY <= sy && sy <= regionMaxY)
                      : (regionMinX <= sx && sx < regionMaxX && regionMinY <= sy && sy < regionMaxY);
    if (!inside) return false;
    col = raytrace(state, camera->rayOrigin, dir);
    return true;
}

void scene_t::firstSamples(renderArea_t& a, renderState_t& state, bool preliminary) const {
    // An area shaped by hand rather than by getArea may have buffers smaller
    // than its rectangle; grow them instead of writing past their end.
    const std::size_t n = (a.W > 0 && a.H > 0) ? static_cast<std::size_t>(a.W) * a.H : 0;
    if (a.image.size() < n) a.image.resize(n);
    if (a.depth.size() < n) a.depth.resize(n, 0.0f);
    if (a.resample.size() < n) a.resample.resize(n, false);
    const int resx = camera->resx;
    for (int y = a.Y; y < a.Y + a.H; ++y) {
        for (int x = a.X; x < a.X + a.W; ++x) {
            state.rayLevel = -1;
            state.sampleIndex = 0;
            state.pixelNumber = x + y * resx;
            state.contribution = 1.0f;
            color_t col;
            if (!cameraSample(state, static_cast<float>(x), static_cast<float>(y), preliminary, col))
                continue;
            const std::size_t i = static_cast<std::size_t>(y - a.Y) * a.W + (x - a.X);
            if (preliminary) {
                a.image[i] = colorA_t(col, 0.0f);
                continue;
            }
            colorA_t c(col, 0.0f);
            c.expgam_Adjust(exposure, gamma);
            c.A = state.hitDistance >= 0.0f ? 1.0f : 0.0f;
            a.image[i] = c;
            a.depth[i] = state.hitDistance;
        }
    }
}

void scene_t::fakeRender(renderArea_t& a) const {
    if (camera == nullptr) return;
    renderState_t state;
    firstSamples(a, state, true);
}

void scene_t::render(renderArea_t& a) const {
    if (camera == nullptr) return;
    renderState_t state;
    firstSamples(a, state, false);

    const int resx = camera->resx;
    const int N = aaPasses * aaSamples;
    const float inv = N != 0 ? 1.0f / static_cast<float>(N) : 0.0f;
    for (int p = 0; p < aaPasses; ++p) {
        a.checkResample(aaThreshold);
        const int w = p * aaSamples + 1;
        const int total = w + aaSamples;
        const float factor = total != 0 ? 1.0f / static_cast<float>(total) : 0.0f;
        for (int y = a.Y; y < a.Y + a.H; ++y) {
            for (int x = a.X; x < a.X + a.W; ++x) {
                const std::size_t i = static_cast<std::size_t>(y - a.Y) * a.W + (x - a.X);
                if (!a.resample[i]) continue;
                state.pixelNumber = x + y * resx;
                colorA_t sum(0.0f, 0.0f, 0.0f, 0.0f);
                for (int s = 0; s < aaSamples; ++s) {
                    const int n = p * aaSamples + s;
                    state.sampleIndex = n;
                    state.rayLevel = -1;
                    // Together the samples of all passes form one Hammersley
                    // set of N points over the pixel's square.
                    const float px =
                        static_cast<float>(x) +
                        aaPixelWidth *
                            (static_cast<float>(radicalInverse(static_cast<std::uint32_t>(n), 2)) - 0.5f);
                    const float py =
                        static_cast<float>(y) + aaPixelWidth * ((static_cast<float>(n) + 0.5f) * inv - 0.5f);
                    color_t col;
                    if (!cameraSample(state, px, py, false, col)) continue;
                    col.expgam_Adjust(exposure, gamma);
                    sum.R += col.R;
                    sum.G += col.G;
                    sum.B += col.B;
                    if (state.hitDistance >= 0.0f) sum.A += 1.0f;
                }
                const float wf = static_cast<float>(w);
                colorA_t& c = a.image[i];
                c.R = (c.R * wf + sum.R) * factor;
                c.G = (c.G * wf + sum.G) * factor;
                c.B = (c.B * wf + sum.B) * factor;
                c.A = (c.A * wf + sum.A) * factor;
            }
        }
    }
}

} // namespace vexlar

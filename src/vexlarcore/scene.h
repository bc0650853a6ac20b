// The scene: what a host fills and renders, and the ray tracing through it.
#ifndef VEXLARCORE_SCENE_H
#define VEXLARCORE_SCENE_H

#include "vexlarcore/background.h"
#include "vexlarcore/camera.h"
#include "vexlarcore/color.h"
#include "vexlarcore/geometree.h"
#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/output.h"
#include "vexlarcore/renderarea.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/vector3d.h"

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <string>

namespace vexlar {

/// Post-filter interface (run by the host over the finished buffers); the
/// scene only keeps pointers to filters.
class filter_t;

/// Words exported for hosts; no library code reads or writes them.
extern int pstop;
extern int pcount;

/// The settings a new scene starts with, as the constructor sets them; hosts
/// that read settings from files take their defaults from here, so that a
/// file that leaves a setting out renders like a scene never told about it.
/// No anti-aliasing, no indirect light, no fog, no exposure, linear colour.
struct sceneDefaults_t {
    static constexpr float rayBias = 5e-05f;
    static constexpr int maxRayLevel = 3;
    static constexpr float selfShadowBias = 0.1f;
    static constexpr bool indirectEnabled = false;
    static constexpr int indirectSamples = 0;
    static constexpr float indirectPower = 1.0f;
    static constexpr float gamma = 1.0f;
    static constexpr float exposure = 0.0f;
    static constexpr float fogDensity = 0.0f;
    static constexpr int aaPasses = 0;
    static constexpr int aaSamples = 1;
    static constexpr float aaPixelWidth = 1.0f;
    static constexpr float aaThreshold = 0.05f;
    /// Region bounds in screen coordinates; +-2 leaves every pixel inside.
    static constexpr float regionMin = -2.0f;
    static constexpr float regionMax = 2.0f;
};

/// A scene: objects, lights, post filters, a camera, a background and the
/// settings that steer tracing, plus a table of named data for plug-ins.
///
/// Ownership: the scene holds plain pointers and owns only its lists, its
/// table of published data and, during `render`, the object tree. The host
/// keeps objects, lights, filters, camera and background alive while the
/// scene renders and destroys them itself, after the scene.
///
/// Threads: `render` runs on the calling thread. The block renderers and the
/// tracers are const towards the scene but use the camera's mutable ray
/// origin and the global random seed; rendering blocks in parallel needs one
/// camera (and one scene copy) per worker.
///
/// Derived drivers: `render(colorOutput_t&)` is virtual. A derived class that
/// overrides it hides the block renderer `render(renderArea_t&)` unless it
/// adds `using scene_t::render;`. The protected steps below let a parallel
/// driver reuse the tree building, light set-up, preliminary passes and
/// per-block work.
///
/// Copying: a copy shares every pointer, `objectTree` included, and both
/// destructors delete a tree they hold. Copy a scene only while it has no
/// tree, that is outside `render` (the tree exists only during it).
class scene_t {
public:
    /// Empty lists and table, no camera, no tree, defaults as documented per
    /// setter below.
    scene_t();
    /// Allocates a scene; the caller owns it.
    static scene_t* factory();
    /// Frees the scene's own containers (and a tree left over, if any);
    /// destroys none of the pointed-to objects.
    virtual ~scene_t();

    /// Renders the whole image into `output`: builds the object tree, sets up
    /// the lights, runs a preliminary single-sample pass over all blocks for
    /// as long as `repeatFirst` is set (calling every light's postSetup after
    /// each), then renders the image in shuffled 64 x 64 blocks, handing each
    /// to `output`. Progress goes to standard output. A `false` from the
    /// output's putPixel aborts ("Aborted"). The tree is destroyed on every
    /// way out. Neither runs the filters nor flushes the output: both are the
    /// host's after render returns. Without a camera, prints an error on
    /// standard error and renders nothing.
    virtual void render(colorOutput_t& output);
    /// Renders one block (its whole bordered rectangle) with adaptive
    /// anti-aliasing into the area's colour and depth buffers. Needs a camera
    /// (does nothing without one); the tree must have been built by the
    /// caller (`objectTree`), otherwise every ray sees the background.
    /// Buffers smaller than the area's rectangle are grown first.
    void render(renderArea_t& area) const;
    /// Single-sample variant for preliminary passes: no exposure and gamma,
    /// alpha always 0, depth not written, inclusive region bounds.
    void fakeRender(renderArea_t& area) const;

    /// Appends to the respective list (no check for null or duplicates).
    void addObject(object3d_t* o);
    void addLight(light_t* l);
    void addFilter(filter_t* f);
    /// Sets the camera and worldResolution = 1 / (resx * focal), which it
    /// reports on standard error ("Using a world resolution of ... per unit").
    /// A null camera is stored as such (worldResolution then reverts to 1 and
    /// nothing is printed); render refuses to run without a camera.
    void setCamera(camera_t* cam);
    /// Stores `data` under `key` for plug-ins, replacing an earlier value. The
    /// scene never dereferences it.
    void publishVoidData(const std::string& key, const void* data);
    /// The data published under `key`, or null when there is none.
    const void* getPublishedData(const std::string& key) const;
    /// Calls every light's setup(*this) in list order, between
    /// "Setting up lights ..." and "Finished setting up lights" on standard
    /// error.
    void setupLights();
    /// Calls every light's postSetup(*this) in list order.
    void postSetupLights();

    // Tracing, offered to shaders and lights as well. All take unit ray
    // directions (they do not normalise them) and leave state.rayLevel as
    // they found it.

    /// Colour seen from `from` along `ray`. Sets state.hitDistance to the
    /// distance of the hit, or -1 when nothing was hit or the ray level limit
    /// was reached. With indirect lighting on this is raytrace_indir.
    color_t raytrace(renderState_t& state, const point3d_t& from, const vector3d_t& ray) const;
    /// Colour with one bounce of gathered diffuse light at the first diffuse
    /// hit (only when `gathering` is false and indirect lighting is enabled).
    /// A hit without shader gives black and leaves hitDistance unchanged.
    /// The squared-sine coordinate of each gathering direction is clamped
    /// to [0, 1], so rounding at the last stratum cannot give a NaN ray.
    color_t raytrace_indir(renderState_t& state, const point3d_t& from, const vector3d_t& ray,
                           bool gathering) const;
    /// Sum of the lights' illuminate (those whose useDirect, or useIndirect
    /// when `indirect`, is set) plus, for direct light, the shader's
    /// fromWorld. Black when sp has no shader.
    color_t light(renderState_t& state, const surfacePoint_t& sp, const point3d_t& from, bool indirect) const;
    /// True when a shadow-casting object lies between sp.point and `target`.
    bool isShadowed(renderState_t& state, const surfacePoint_t& sp, const point3d_t& target) const;
    /// True when a shadow-casting object lies along `direction` from sp.point
    /// (any length; the direction need not be unit).
    bool isShadowed(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& direction) const;
    /// Nearest hit without lighting, written into `sp` (left unchanged when
    /// there is none). With `shadowCastersOnly` objects that cast no shadow
    /// are skipped; otherwise the hit's shader is asked to displace it.
    bool firstHit(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
                  bool shadowCastersOnly) const;
    /// Blends `colour` towards fogColor by exp(-distance * fogDensity); a
    /// distance of exactly -1 (nothing hit) gives fogColor. Nothing when
    /// fogDensity is 0.
    void fog_addToCol(float distance, color_t& colour) const;

    // Host settings. The members are public as well; these setters document
    // units and ranges. Defaults are those set by the constructor, listed in
    // sceneDefaults_t.

    /// Offset, in world units along the ray, at which traced rays start so that
    /// a surface does not hit itself. Default 5e-05; should be >= 0.
    void setRayBias(float bias) { rayBias = bias; }
    float getRayBias() const { return rayBias; }
    /// Start offset of a shadow ray tested against the object the shaded
    /// point lies on (world units). Default 0.1.
    void setSelfShadowBias(float bias) { selfShadowBias = bias; }
    float getSelfShadowBias() const { return selfShadowBias; }
    /// Rays are traced only while their nesting level (camera rays 0) stays
    /// below this. Default 3; 0 or less traces nothing (every pixel black,
    /// alpha 0).
    void setMaxRayLevel(int level) { maxRayLevel = level; }
    int getMaxRayLevel() const { return maxRayLevel; }
    /// Colour source for rays that hit nothing; null (the default) gives
    /// black. Not owned.
    void setBackground(background_t* bg) { background = bg; }
    background_t* getBackground() const { return background; }
    /// Indirect lighting: when `enabled`, every ray is traced by
    /// raytrace_indir, which gathers samples x samples cosine-weighted rays at
    /// the first diffuse hit and adds power times the (not averaged) sum
    /// times the shader's diffuse colour. Also sets the stratum widths to
    /// 1/samples and 2*pi/samples radians, both 0 when samples is 0 (samples
    /// should be >= 0). Default: off, 0 samples, power 1, widths 0.
    void setIndirect(bool enabled, int samples, float power);
    /// Overrides the stratum widths: `u` in the squared-sine coordinate
    /// (samples * u must not exceed 1), `phi` in radians.
    void setIndirectStrata(float u, float phi) {
        indirectStratumU = u;
        indirectStratumPhi = phi;
    }
    bool getIndirectEnabled() const { return indirectEnabled; }
    int getIndirectSamples() const { return indirectSamples; }
    float getIndirectPower() const { return indirectPower; }
    float getIndirectStratumU() const { return indirectStratumU; }
    float getIndirectStratumPhi() const { return indirectStratumPhi; }
    /// Exponent applied to every camera sample after exposure and after
    /// clamping each channel to [0, 1], the value itself (not its
    /// reciprocal): 1 (the default) leaves colours linear.
    void setGamma(float g) { gamma = g; }
    float getGamma() const { return gamma; }
    /// Exposure: with e != 0 each channel X becomes 1 - exp(X * e), so e is
    /// meant to be negative; 0 (the default) switches it off.
    void setExposure(float e) { exposure = e; }
    float getExposure() const { return exposure; }
    /// Distance fog: density per world unit (0, the default, switches it off)
    /// and the colour fog blends towards (default black).
    void setFog(float density, const color_t& colour) {
        fogDensity = density;
        fogColor = colour;
    }
    float getFogDensity() const { return fogDensity; }
    const color_t& getFogColor() const { return fogColor; }
    /// Adaptive anti-aliasing: after the first sample of every pixel, `passes`
    /// passes each add `samples` samples to every pixel whose colour differs
    /// from a neighbour's by at least `threshold` (0.299 |dR| + 0.587 |dG| +
    /// 0.114 |dB|), spread over a square `pixelWidth` pixels wide on one
    /// Hammersley set. Default: 0 passes, 1 sample, width 1, threshold 0.05.
    /// Negative passes or samples are stored as 0.
    void setAntialiasing(int passes, int samples, float pixelWidth, float threshold);
    int getAaPasses() const { return aaPasses; }
    int getAaSamples() const { return aaSamples; }
    float getAaPixelWidth() const { return aaPixelWidth; }
    float getAaThreshold() const { return aaThreshold; }
    /// Render region in screen coordinates (-1 left/bottom to +1 right/top):
    /// the render pass traces samples with min <= coordinate < max, a
    /// preliminary pass those with min <= coordinate <= max. Pixels outside
    /// keep what the block's buffers held. Default -2 to 2 (everything).
    void setRegion(float minX, float maxX, float minY, float maxY) {
        regionMinX = minX;
        regionMaxX = maxX;
        regionMinY = minY;
        regionMaxY = maxY;
    }
    float getRegionMinX() const { return regionMinX; }
    float getRegionMaxX() const { return regionMaxX; }
    float getRegionMinY() const { return regionMinY; }
    float getRegionMaxY() const { return regionMaxY; }
    /// Asks for a preliminary pass; lights set it from setup or postSetup.
    /// Render tests it after setupLights and after every postSetupLights.
    void setRepeatFirst(bool repeat) { repeatFirst = repeat; }
    bool getRepeatFirst() const { return repeatFirst; }
    camera_t* getCamera() const { return camera; }
    float getWorldResolution() const { return worldResolution; }

    // Members, in this order. See the setters for their meaning.

    /// The camera; not owned. Must be set before render.
    camera_t* camera;
    float rayBias;
    /// Pixel footprint in world units at unit distance, passed to displace.
    float worldResolution;
    std::list<object3d_t*> objects;
    std::list<light_t*> lights;
    std::list<filter_t*> filters;
    int maxRayLevel;
    /// Bounding tree over `objects`, owned by the scene during render only.
    geomeTree_t<object3d_t>* objectTree;
    float selfShadowBias;
    background_t* background;
    bool indirectEnabled;
    int indirectSamples;
    float indirectPower;
    float indirectStratumU;
    float indirectStratumPhi;
    float gamma;
    float exposure;
    float fogDensity;
    color_t fogColor;
    int aaPasses;
    int aaSamples;
    float aaPixelWidth;
    float aaThreshold;
    float regionMinY;
    float regionMaxY;
    float regionMinX;
    float regionMaxX;
    bool repeatFirst;
    std::map<std::string, const void*> publishedData;

protected:
    // Steps of the image driver, for derived drivers.

    /// Everything render does before its render pass, then `finalPass`:
    /// with no camera prints the error and returns; otherwise splits the image
    /// into 64-pixel blocks (their shuffle draws from rand() before any
    /// preliminary pass's splitter does), builds the tree, runs lightSetup and
    /// the preliminary passes, ends the progress line and hands the blocks and
    /// the work area to `finalPass`. Returns without calling it when the output
    /// aborted a preliminary pass. The tree is destroyed when this returns,
    /// also when it leaves by an exception.
    void renderImage(colorOutput_t& output,
                     const std::function<void(blockSpliter_t& blocks, renderArea_t& area)>& finalPass);

    /// Prints "Building bounding tree ... ", builds `objectTree` from
    /// `objects` (any earlier tree is destroyed first), prints "OK".
    void buildTree();
    /// Destroys `objectTree` and sets it to null.
    void destroyTree();
    /// Prints "Light setup ...", runs setupLights and ends another line.
    void lightSetup();
    /// Runs preliminary passes over `resx` x `resy` blocks while repeatFirst
    /// is set, each followed by postSetupLights. Returns false when the
    /// output aborted a pass (postSetupLights is then not called). Leaves the
    /// tree alone.
    bool preliminaryPasses(colorOutput_t& output, renderArea_t& area);
    /// One pass over every block of `blocks` with its progress line (`title`
    /// after a carriage return, "#" before blocks 11, 21, ..., then "#]" or
    /// "Aborted"). Returns false when the output aborted.
    bool renderPass(blockSpliter_t& blocks, renderArea_t& area, colorOutput_t& output, bool preliminary,
                    const char* title) const;
    /// Renders the block the area currently holds (fakeRender for a
    /// preliminary pass) and hands it to `output`; the result of out.
    bool renderBlock(renderArea_t& area, colorOutput_t& output, bool preliminary) const;
    /// Loads the block that the `index`-th getArea call on `blocks` would hand
    /// out (0 is the first) into `area` without changing `blocks`, renders it
    /// and hands it to `output`. `index` must be below blocks.regions.size().
    bool renderBlock(const blockSpliter_t& blocks, std::size_t index, renderArea_t& area,
                     colorOutput_t& output, bool preliminary) const;

private:
    // Nearest-hit search shared by the tracers: candidates from the tree,
    // hits with depth > 0 kept, the smallest depth (first on ties) into
    // `best`. `limitByLastHit` passes the last accepted depth as the shoot
    // limit (raytrace), otherwise -1.
    bool nearestHit(renderState_t& state, surfacePoint_t& best, const point3d_t& from, const vector3d_t& ray,
                    bool limitByLastHit, bool shadowCastersOnly) const;
    // First-sample loop shared by render(area) and fakeRender.
    void firstSamples(renderArea_t& area, renderState_t& state, bool preliminary) const;
    // One camera sample at pixel position (px, py): screen position, ray,
    // trace. Returns false (and leaves col) when outside the region.
    bool cameraSample(renderState_t& state, float px, float py, bool inclusiveRegion, color_t& col) const;
    // Steps shared by the two tracers. enterRay goes one ray level deeper;
    // at maxRayLevel it comes back up, records no hit and returns false.
    // leaveMiss and leaveHit come back up, record the hit distance (-1 for
    // none), add fog and return the colour: the background's for a miss,
    // `col` for a hit at `sp` seen from `from`.
    bool enterRay(renderState_t& state) const;
    color_t leaveMiss(renderState_t& state, const vector3d_t& ray) const;
    color_t leaveHit(renderState_t& state, const point3d_t& from, const surfacePoint_t& sp,
                     color_t col) const;
    // Shared body of the two isShadowed forms.
    bool shadowRay(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& dir, float limit,
                   float shootDist) const;
};

} // namespace vexlar

#endif

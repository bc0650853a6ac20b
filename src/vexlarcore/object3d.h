// The interface of everything a scene can hit, and the hit record.
//
// `object3d_t` is implemented by meshes, spheres and instances; the scene
// keeps plain pointers to objects the host owns, builds its bounding tree
// from their `getBound` boxes and asks candidates to `shoot` rays.
// `surfacePoint_t` is the record a successful `shoot` fills and every later
// stage (tracer, shaders, lights, texture modulators) reads.
#ifndef VEXLARCORE_OBJECT3D_H
#define VEXLARCORE_OBJECT3D_H

#include "vexlarcore/bound.h"
#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

#include <cstdint>

namespace vexlar {

class matrix4x4_t;
class renderState_t;
class shader_t;
class surfacePoint_t;

/// Abstract base of every hittable object.
///
/// The settings below are public. Inside the library only `shader` and
/// `castShadows` have an effect; the others are carried for the host and
/// plug-ins, which give them their meaning. Instances copy all of them from
/// the object they refer to except `settingWordB` (see `copySettingsFrom`).
///
/// Thread safety: `shoot`, `getBound` and the `toObject...` operations are
/// const and keep their scratch data on the stack or in the caller's render
/// state, so several threads may shoot rays at one object at once.
/// `transform` and the setters must not run concurrently with rendering.
class object3d_t {
public:
    /// Sets every setting to its default: no shader, both flags true, casting
    /// shadows, words 0, colours black, factor 0.
    object3d_t()
        : shader(nullptr), settingFlagA(true), settingFlagB(true), castShadows(true), settingWordA(0),
          settingWordB(0), settingColorA(0, 0, 0), settingColorB(0, 0, 0), settingFactor(0) {}
    virtual ~object3d_t() {}

    /// Kind tag: 0 for a mesh, 1 for a sphere, 2 for an instance.
    virtual int type() const = 0;
    /// Places the object under the object-to-world matrix `m`.
    virtual void transform(const matrix4x4_t& m) = 0;
    /// Maps a world-space point into the object's untransformed space.
    virtual point3d_t toObject(const point3d_t& p) const = 0;
    /// Maps a world-space direction into object space (rotation part only).
    virtual vector3d_t toObjectRot(const vector3d_t& v) const = 0;
    /// Maps a world-space point into the object's orco (texturing) space.
    virtual point3d_t toObjectOrco(const point3d_t& p) const = 0;
    /// Intersects the ray from + t*ray, counting only hits with t > 0.
    ///
    /// `dist` < 0 means no limit; otherwise hits must have t < `dist`.
    /// With `shadow` true only the yes/no answer matters and `sp` need not be
    /// filled. With `shadow` false the nearest hit fills `sp` completely
    /// (`depth` = t, `object` = the object, `origin` = the element hit) and
    /// the result is true; without a hit the result is false and `sp` is left
    /// unchanged. `state` carries the per-ray scratch data (skip element).
    virtual bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
                       bool shadow, float dist) const = 0;
    /// World-space axis-aligned box enclosing the object.
    virtual bound_t getBound() const = 0;

    // Accessors for the settings.
    void setShader(const shader_t* s) { shader = s; }
    const shader_t* getShader() const { return shader; }
    void setCastShadows(bool c) { castShadows = c; }
    bool castsShadows() const { return castShadows; }

    /// Copies the settings an instance takes over from the object it refers
    /// to: everything except `settingWordB`, which is left as it is.
    void copySettingsFrom(const object3d_t& o) {
        shader = o.shader;
        settingFlagA = o.settingFlagA;
        settingFlagB = o.settingFlagB;
        castShadows = o.castShadows;
        settingWordA = o.settingWordA;
        settingColorA = o.settingColorA;
        settingColorB = o.settingColorB;
        settingFactor = o.settingFactor;
    }

    /// The object's shader (not owned; may be null).
    const shader_t* shader;
    bool settingFlagA;
    bool settingFlagB;
    /// When false, shadow rays (and first-hit searches restricted to shadow
    /// casters) ignore the object.
    bool castShadows;
    std::uint32_t settingWordA;
    std::uint32_t settingWordB;
    color_t settingColorA;
    color_t settingColorB;
    float settingFactor;
};

/// The hit record: a plain value, copied freely; it owns nothing, and its
/// pointers (`object`, `shader`, `origin`) are copied as plain pointers.
class surfacePoint_t {
public:
    /// Zero vectors and points, black vertex colour, null `shader` and
    /// `origin`, all flags false. `u`, `v`, `depth`, `object` and the four
    /// derivatives are meant to be filled by a hit; they start at 0 (null
    /// `object`) so that a record copied or read before any hit holds no
    /// indeterminate values.
    surfacePoint_t()
        : normal(0, 0, 0), tangentU(0, 0, 0), tangentV(0, 0, 0), geometricNormal(0, 0, 0), u(0), v(0),
          point(0, 0, 0), orcoPoint(0, 0, 0), depth(0), object(nullptr), shader(nullptr), hasUV(false),
          hasVertexColor(false), hasOrco(false), dudNU(0), dudNV(0), dvdNU(0), dvdNV(0), auxPoint(0, 0, 0),
          vertexColor(0, 0, 0), origin(nullptr) {}
    /// Assigns the named fields, builds `tangentU`/`tangentV` from `normal`
    /// with `createCS`, sets the four derivatives to 0, `auxPoint` to zero
    /// and `origin` to null. The producer sets derivatives and `origin`
    /// afterwards when it has them.
    surfacePoint_t(object3d_t* object, const point3d_t& point, const point3d_t& orcoPoint,
                   const vector3d_t& normal, const vector3d_t& geometricNormal, float u, float v,
                   color_t vertexColor, float depth, const shader_t* shader, bool hasUV, bool hasVertexColor,
                   bool hasOrco);
    surfacePoint_t(const surfacePoint_t& sp) = default;
    surfacePoint_t& operator=(const surfacePoint_t& sp) = default;

    /// Shading normal, unit length.
    vector3d_t normal;
    vector3d_t tangentU;
    vector3d_t tangentV;
    /// True normal of the element hit.
    vector3d_t geometricNormal;
    float u;
    float v;
    /// Hit position, world space.
    point3d_t point;
    /// Hit position in orco coordinates (equal to `point` without orco data).
    point3d_t orcoPoint;
    /// Ray parameter of the hit, in multiples of the ray vector.
    float depth;
    /// The scene-level object hit (the instance for hits through one).
    object3d_t* object;
    /// Shader to use at this point (may be null).
    const shader_t* shader;
    bool hasUV;
    bool hasVertexColor;
    bool hasOrco;
    /// Rates of change of u and v per unit distance along the tangents.
    float dudNU;
    float dudNV;
    float dvdNU;
    float dvdNV;
    /// Screen-space position of the pixel being traced (set by the tracer).
    point3d_t auxPoint;
    color_t vertexColor;
    /// The geometric element hit (triangle or sphere); never dereferenced by
    /// the library, compared with the render state's skip element.
    const void* origin;
};

} // namespace vexlar

#endif

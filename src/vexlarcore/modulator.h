// Texture modulators: binding one texture to a surface.
//
// A modulator maps a surface point into texture space (doMapping), reads the
// texture there and blends the result into a shader's colours and a scalar
// (modulate), or tilts the shading normal by the texture's slope (displace,
// bump mapping). Shaders keep any number of modulators and apply them in turn.
//
// The host sets the public fields directly after construction. The texture
// is not owned: it must outlive the modulator, and the destructor never
// deletes it. All operations are const except on their output arguments and
// only call the texture's const operations, so one modulator may serve
// several render threads at once.
#ifndef VEXLARCORE_MODULATOR_H
#define VEXLARCORE_MODULATOR_H

#include "vexlarcore/color.h"
#include "vexlarcore/matrix4.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/texture.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

class modulator_t {
public:
    /// Blend modes (`mode`).
    enum { MIX = 0, MULTIPLY = 1, ADD = 2, SUBTRACT = 3 };
    /// Projections of image textures (`projection`).
    enum { FLAT = 0, CUBE = 1, TUBE = 2, SPHERE = 3 };
    /// Texture coordinate sources (`coordSource`).
    enum { UV = 0, GLOBAL = 1, ORCO = 2, AUX = 3, NORMAL = 4, REFLECTION = 5 };
    /// Edge handling of image textures (`clipMode`).
    enum { CLAMP = 0, CLIP = 1, CLIPCUBE = 2, NOCLIP = 3 };

    /// All weights 0, size 1, mix mode, flat projection, orco coordinates,
    /// no transform, no offset, full crop, no repeat, no clipping, axes x y z.
    modulator_t(const texture_t* texture);
    ~modulator_t() {}

    /// Computes the texture-space point of `sp` seen along `eye` (towards the
    /// viewer, any length) into `texpt`. Returns true when the point lies
    /// outside the texture (clipped): the callers then change nothing.
    ///
    /// Procedural textures (isDiscrete() false) get the source coordinates
    /// scaled and offset per axis and are never clipped. Image textures go
    /// through the projection, repeat, crop, size/offset about the centre and
    /// the clip mode. For a source outside 0..5 the incoming `texpt` is
    /// used as the source point. An axis field outside 0..3 counts as 0 (none).
    bool doMapping(const surfacePoint_t& sp, const vector3d_t& eye, point3d_t& texpt) const;

    /// Blends the texture's colour into colA (weight amountA) and colB
    /// (amountB) and its scalar into value (amountValue), by `mode`. Outputs
    /// whose weight is not above 0 are left alone.
    void modulate(color_t& colA, color_t& colB, float& value, const surfacePoint_t& sp,
                  const vector3d_t& eye) const;

    /// The same for two colours with amountC and amountD; reads only colorAt.
    void modulate(color_t& colC, color_t& colD, const surfacePoint_t& sp, const vector3d_t& eye) const;

    /// Bump mapping: tilts sp.normal along the tangents by the slope of the
    /// texture's scalar, then renormalises it. `res` is the sampling step in
    /// space (the shader's resolution). Does nothing when displaceAmount is 0,
    /// when the point is clipped, or when `res` is 0 or not finite and the
    /// step is taken in space (the slope would be undefined).
    ///
    /// With uv coordinates, an image texture and a surface that has uv data,
    /// the step is one texel along each tangent instead.
    void displace(surfacePoint_t& sp, const vector3d_t& eye, float res) const;

    float amountA;        ///< weight of the first colour, three-output modulate
    float amountB;        ///< weight of the second colour, three-output modulate
    float amountValue;    ///< weight of the scalar, three-output modulate
    float amountC;        ///< weight of the first colour, two-output modulate
    float amountD;        ///< weight of the second colour, two-output modulate
    float displaceAmount; ///< bump strength; 0 disables displace
    float sizeX, sizeY, sizeZ;
    int mode;                 ///< blend mode, see the enum
    const texture_t* texture; ///< not owned
    int projection;           ///< image projection, see the enum
    int coordSource;          ///< coordinate source, see the enum
    bool useTransform;        ///< apply coordTransform to the source point
    matrix4x4_t coordTransform;
    float offsetX, offsetY, offsetZ;
    float cropMinX, cropMinY;
    float cropMaxX, cropMaxY;
    int repeatX, repeatY;            ///< tiling of image textures; counts above 1 take effect
    int clipMode;                    ///< edge handling of image textures, see the enum
    signed char axisX, axisY, axisZ; ///< source coordinate per texture axis: 0 none, 1 x, 2 y, 3 z
};

} // namespace vexlar

#endif

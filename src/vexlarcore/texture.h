// The texture interface that texture plug-ins implement.
//
// The library calls textures only from `modulator_t`, through a const
// pointer, while pixels are computed; every operation is const and must be
// safe to call from several render threads at once. The host owns textures.
#ifndef VEXLARCORE_TEXTURE_H
#define VEXLARCORE_TEXTURE_H

#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

/// Abstract texture: a colour and a scalar field over texture space.
class texture_t {
public:
    virtual ~texture_t() {}

    /// True when `colorAt` carries a meaningful alpha. Never called by the
    /// library (it reads only red, green and blue). Default: false.
    virtual bool hasAlpha() const { return false; }

    /// Colour at texture-space point `p`. The modulator uses the red, green
    /// and blue components; alpha is for plug-ins.
    virtual colorA_t colorAt(const point3d_t& p) const = 0;
    /// Scalar (intensity) at `p`: the modulator's blending weight for colour
    /// modulation and the height for bump mapping.
    virtual float floatAt(const point3d_t& p) const = 0;
    /// True for a texture defined on a grid of texels (an image): the
    /// modulator then derives its bump step from the surface's texture
    /// coordinate derivatives and `toTexelU`/`toTexelV`. Default: false.
    virtual bool isDiscrete() const { return false; }
    /// Number of texels spanned by a difference `du` in the u coordinate.
    /// Used only when `isDiscrete` is true. Default: `du`.
    virtual float toTexelU(float du) const { return du; }
    /// Number of texels spanned by a difference `dv` in the v coordinate.
    /// Used only when `isDiscrete` is true. Default: `dv`.
    virtual float toTexelV(float dv) const { return dv; }
};

} // namespace vexlar

#endif
